// libjpegls.so: the seven C entry points of the JPEG-LS codec library, over CharLS.
// A codec instance gathers the whole compressed stream, reads its header for the information
// text and decodes it in one call. Failures are reported through the message callback and
// JPEGLS_CheckOk, never by exceptions crossing the C boundary.

#include "dicom/JpegLsApi.h"

#include <algorithm>
#include <charls/charls.h>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

// Enough end markers that a scan header cut short cannot swallow them all (it is at most 14
// bytes long).
constexpr std::size_t kEndMarkers = 8;

struct DecoderDeleter {
    void operator()(charls_jpegls_decoder* decoder) const { charls_jpegls_decoder_destroy(decoder); }
};
using DecoderPtr = std::unique_ptr<charls_jpegls_decoder, DecoderDeleter>;

struct Codec {
    JPEGLS_MessageCallback message = nullptr;
    void* messageUser = nullptr;
    std::vector<std::uint8_t> input;
    std::size_t streamStart = 0;
    bool ok = true;

    void Fail(const std::string& text) {
        ok = false;
        if (message) message(messageUser, text.c_str());
    }

    // A decoder positioned on the stream's header; nullptr after reporting a failure.
    DecoderPtr OpenDecoder() {
        DecoderPtr decoder(charls_jpegls_decoder_create());
        if (!decoder) {
            Fail("Cannot create a JPEG-LS decoder");
            return nullptr;
        }
        const std::uint8_t* start = input.data() + streamStart;
        charls_jpegls_errc error =
            charls_jpegls_decoder_set_source_buffer(decoder.get(), start, input.size() - streamStart);
        if (error == charls::jpegls_errc::success) error = charls_jpegls_decoder_read_header(decoder.get());
        if (error != charls::jpegls_errc::success) {
            Fail(charls_get_error_message(error));
            return nullptr;
        }
        return decoder;
    }
};

Codec* AsCodec(JPEGLS_HANDLE handle) {
    return static_cast<Codec*>(handle);
}

// Pixels of a non-interleaved colour image come plane after plane; DICOM wants them interleaved.
std::vector<std::uint8_t> Interleave(const std::vector<std::uint8_t>& planar, std::size_t components,
                                     std::size_t sampleBytes) {
    std::vector<std::uint8_t> out(planar.size());
    const std::size_t pixels = planar.size() / (components * sampleBytes);
    for (std::size_t c = 0; c < components; ++c)
        for (std::size_t p = 0; p < pixels; ++p)
            std::copy_n(&planar[(c * pixels + p) * sampleBytes], sampleBytes,
                        &out[(p * components + c) * sampleBytes]);
    return out;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) JPEGLS_HANDLE JPEGLS_Create(void) {
    return new (std::nothrow) Codec();
}

__attribute__((visibility("default"))) void JPEGLS_Destroy(JPEGLS_HANDLE handle) {
    delete AsCodec(handle);
}

__attribute__((visibility("default"))) void
JPEGLS_SetMessageCallback(JPEGLS_HANDLE handle, JPEGLS_MessageCallback callback, void* user) {
    AsCodec(handle)->message = callback;
    AsCodec(handle)->messageUser = user;
}

__attribute__((visibility("default"))) void JPEGLS_StartDecode(JPEGLS_HANDLE handle,
                                                               JPEGLS_ReadCallback callback, void* user) {
    Codec& codec = *AsCodec(handle);
    codec.ok = true;
    codec.input.clear();
    try {
        std::uint8_t chunk[65536];
        for (std::size_t n; (n = callback(user, chunk, sizeof chunk)) > 0;)
            codec.input.insert(codec.input.end(), chunk, chunk + std::min(n, sizeof chunk));
    } catch (const std::bad_alloc&) {
        codec.Fail("Out of memory");
        return;
    }
    // Whatever precedes the start-of-image marker (an offset table, padding) is not the stream.
    codec.streamStart = codec.input.size();
    for (std::size_t i = 0; i + 1 < codec.input.size(); ++i)
        if (codec.input[i] == 0xFF && codec.input[i + 1] == 0xD8) {
            codec.streamStart = i;
            break;
        }
    if (codec.streamStart == codec.input.size()) codec.Fail("No JPEG-LS start of image found");
    // CharLS 2.4 spins for seconds to minutes when its bit reader runs off the end of a stream
    // cut inside the scan; end-of-image markers after the bytes stop it there (a stream cut just
    // before its own marker even decodes whole). Bytes after a proper end are never read.
    for (std::size_t i = 0; i < kEndMarkers; ++i) codec.input.insert(codec.input.end(), {0xFF, 0xD9});
}

__attribute__((visibility("default"))) void JPEGLS_GetInfo(JPEGLS_HANDLE handle, char* info) {
    Codec& codec = *AsCodec(handle);
    info[0] = '\0';
    if (!codec.ok) return;
    const DecoderPtr decoder = codec.OpenDecoder();
    if (!decoder) return;
    charls_frame_info frame{};
    charls_interleave_mode mode{};
    if (charls_jpegls_decoder_get_frame_info(decoder.get(), &frame) != charls::jpegls_errc::success ||
        charls_jpegls_decoder_get_interleave_mode(decoder.get(), &mode) != charls::jpegls_errc::success) {
        codec.Fail("Cannot read the JPEG-LS frame information");
        return;
    }
    std::snprintf(info, JPEGLS_INFO_SIZE, "width=%u\nheight=%u\nbits=%d\ncomponents=%d\ninterleave=%d\n",
                  frame.width, frame.height, frame.bits_per_sample, frame.component_count,
                  static_cast<int>(mode));
}

__attribute__((visibility("default"))) void JPEGLS_DecodeToCB(JPEGLS_HANDLE handle,
                                                              JPEGLS_WriteCallback callback, void* user) {
    Codec& codec = *AsCodec(handle);
    if (!codec.ok) return;
    const DecoderPtr decoder = codec.OpenDecoder();
    if (!decoder) return;
    charls_frame_info frame{};
    charls_interleave_mode mode{};
    std::size_t size = 0;
    if (charls_jpegls_decoder_get_frame_info(decoder.get(), &frame) != charls::jpegls_errc::success ||
        charls_jpegls_decoder_get_interleave_mode(decoder.get(), &mode) != charls::jpegls_errc::success ||
        charls_jpegls_decoder_get_destination_size(decoder.get(), 0, &size) != charls::jpegls_errc::success) {
        codec.Fail("Cannot read the JPEG-LS frame information");
        return;
    }
    std::vector<std::uint8_t> pixels;
    try {
        pixels.resize(size);
    } catch (const std::bad_alloc&) {
        codec.Fail("Out of memory");
        return;
    }
    const charls_jpegls_errc error =
        charls_jpegls_decoder_decode_to_buffer(decoder.get(), pixels.data(), size, 0);
    if (error != charls::jpegls_errc::success) {
        codec.Fail(charls_get_error_message(error));
        return;
    }
    if (mode == charls::interleave_mode::none && frame.component_count > 1)
        pixels = Interleave(pixels, static_cast<std::size_t>(frame.component_count),
                            frame.bits_per_sample > 8 ? 2 : 1);
    if (!callback(user, pixels.data(), pixels.size())) codec.Fail("The decoded samples were refused");
}

__attribute__((visibility("default"))) int JPEGLS_CheckOk(JPEGLS_HANDLE handle) {
    return AsCodec(handle)->ok ? 1 : 0;
}

} // extern "C"
