// JPEG 2000 and HTJ2K frames by OpenJPEG, decoded from memory. The codestream's image header is
// read here and held against the layout before OpenJPEG sizes anything from it.
//
// HTJ2K goes through OpenJPEG too: OpenJPH 0.9, as Debian ships it, writes past its own buffers on
// a damaged main header and ends the process on others, while OpenJPEG gives the same pixels.

#include "dicom/FrameCodecs.h"
#include "util/Errors.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <openjpeg.h>
#include <string>

namespace tarvicon {

namespace {

// OpenJPEG's worker threads for one frame (0: only the calling thread). A 512 × 512 16-bit
// lossless frame took about 17 ms on one thread and 10 to 15 ms on two, for the same processor
// time (18 ms), on a busy two-core machine: a second thread shortens one frame when a core is
// free and costs nearly nothing when the reader's own threads keep both busy.
constexpr int kDecodeThreads = 2;

constexpr std::array<std::uint8_t, 4> kCodestreamStart = {0xFF, 0x4F, 0xFF, 0x51}; // SOC, SIZ
constexpr std::array<std::uint8_t, 12> kJp2Signature = {0x00, 0x00, 0x00, 0x0C, 'j',  'P',
                                                        ' ',  ' ',  0x0D, 0x0A, 0x87, 0x0A};
constexpr std::uint32_t kCodestreamBox = 0x6A703263; // "jp2c"

struct TCodecDeleter {
    void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct TStreamDeleter {
    void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct TImageDeleter {
    void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};
using TCodec = std::unique_ptr<opj_codec_t, TCodecDeleter>;
using TStream = std::unique_ptr<opj_stream_t, TStreamDeleter>;
using TImage = std::unique_ptr<opj_image_t, TImageDeleter>;

template <std::size_t N>
bool StartsWith(std::span<const std::uint8_t> bytes, const std::array<std::uint8_t, N>& prefix) {
    return bytes.size() >= N && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

std::uint32_t BigEndian16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return std::uint32_t(bytes[at]) << 8 | bytes[at + 1];
}

std::uint32_t BigEndian32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return BigEndian16(bytes, at) << 16 | BigEndian16(bytes, at + 2);
}

// What the image header says of the frame's shape.
struct TGeometry {
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
    std::uint32_t Components = 0;
    std::uint32_t Precision = 0; // the largest of the components'
    bool Subsampled = false;
};

std::string Samples(std::uint32_t count) {
    return std::to_string(count) + (count == 1 ? " sample" : " samples");
}

void CheckGeometry(const TGeometry& frame, const TFrameLayout& layout) {
    if (frame.Width != std::uint32_t(layout.Columns) || frame.Height != std::uint32_t(layout.Rows) ||
        frame.Components != std::uint32_t(layout.Samples))
        RaiseError("JPEG 2000 frame is " + std::to_string(frame.Width) + " × " +
                   std::to_string(frame.Height) + " with " + Samples(frame.Components) + ", the image " +
                   std::to_string(layout.Columns) + " × " + std::to_string(layout.Rows) + " with " +
                   std::to_string(layout.Samples));
    if (frame.Subsampled) RaiseError("JPEG 2000 frame has subsampled components, the image has none");
    if (frame.Precision > std::uint32_t(layout.BytesPerSample) * 8)
        RaiseError("JPEG 2000 frame holds " + std::to_string(frame.Precision) + "-bit samples, the image " +
                   std::to_string(layout.BytesPerSample * 8) + "-bit ones");
}

// The SIZ segment, which always follows the start of the codestream.
TGeometry ReadImageHeader(std::span<const std::uint8_t> codestream) {
    if (!StartsWith(codestream, kCodestreamStart))
        RaiseError("JPEG 2000 codestream does not begin with its image header");
    const auto siz = codestream.subspan(kCodestreamStart.size());
    constexpr std::size_t kFixedPart = 38;
    if (siz.size() < kFixedPart) RaiseError("JPEG 2000 image header is cut short");
    const std::uint32_t components = BigEndian16(siz, 36);
    if (components == 0 || BigEndian16(siz, 0) != kFixedPart + 3 * components)
        RaiseError("JPEG 2000 image header is malformed");
    if (siz.size() < kFixedPart + 3 * components) RaiseError("JPEG 2000 image header is cut short");
    const std::uint32_t right = BigEndian32(siz, 4), bottom = BigEndian32(siz, 8);
    const std::uint32_t left = BigEndian32(siz, 12), top = BigEndian32(siz, 16);
    if (right <= left || bottom <= top) RaiseError("JPEG 2000 image header is malformed");
    TGeometry geometry{right - left, bottom - top, components};
    for (std::uint32_t c = 0; c < components; ++c) {
        const std::size_t at = kFixedPart + 3 * c;
        geometry.Precision = std::max(geometry.Precision, (siz[at] & 0x7Fu) + 1);
        geometry.Subsampled |= siz[at + 1] != 1 || siz[at + 2] != 1;
    }
    return geometry;
}

// Whether the main header's coding style (COD or COC segments, up to the first tile) asks for
// high-throughput code-blocks: bit 6 of the code-block style.
bool UsesHighThroughputBlocks(std::span<const std::uint8_t> codestream) {
    std::size_t at = 2; // after SOC
    while (codestream.size() - at >= 4 && codestream[at] == 0xFF) {
        const std::uint8_t marker = codestream[at + 1];
        if (marker == 0x90 || marker == 0x93 || marker == 0xD9) break; // SOT, SOD, EOC
        const std::size_t length = BigEndian16(codestream, at + 2);
        if (length < 2 || codestream.size() - at - 2 < length) break;
        const auto segment = codestream.subspan(at + 4, length - 2);
        // COD: Scod, SGcod (4), levels, width, height, style; COC: component (1 or 2), Scoc, levels, …
        std::size_t style = SIZE_MAX;
        if (marker == 0x52) style = 8;
        if (marker == 0x53) style = 5 + (BigEndian16(codestream, 4 + 36) >= 257 ? 1 : 0);
        if (style < segment.size() && (segment[style] & 0x40) != 0) return true;
        at += 2 + length;
    }
    return false;
}

// The codestream of a JP2 file: the content of its top-level "jp2c" box, as far as it goes.
std::span<const std::uint8_t> Jp2Codestream(std::span<const std::uint8_t> file) {
    std::size_t at = 0;
    while (file.size() - at >= 8) {
        const std::size_t left = file.size() - at;
        std::uint64_t length = BigEndian32(file, at);
        std::size_t header = 8;
        if (length == 1) {
            if (left < 16) break;
            length = std::uint64_t(BigEndian32(file, at + 8)) << 32 | BigEndian32(file, at + 12);
            header = 16;
        } else if (length == 0) {
            length = left;
        }
        if (length < header) break;
        if (BigEndian32(file, at + 4) == kCodestreamBox)
            return file.subspan(at + header, std::min<std::uint64_t>(length, left) - header);
        if (length > left) break;
        at += length;
    }
    RaiseError("JPEG 2000 file holds no codestream");
}

// OpenJPEG's strict mode refuses most frames cut short, but not one cut between two tile-parts:
// every whole codestream ends with its end-of-codestream marker. Zero bytes after it pad a frame
// to an even length.
bool EndsWithEndMarker(std::span<const std::uint8_t> codestream) {
    while (!codestream.empty() && codestream.back() == 0)
        codestream = codestream.first(codestream.size() - 1);
    return codestream.size() >= 2 && codestream[codestream.size() - 2] == 0xFF && codestream.back() == 0xD9;
}

// OpenJPEG reads the frame through these, never past its end.
struct TMemorySource {
    std::span<const std::uint8_t> Bytes;
    std::size_t Position = 0;
};

OPJ_SIZE_T ReadSource(void* buffer, OPJ_SIZE_T size, void* user) {
    auto& source = *static_cast<TMemorySource*>(user);
    const std::size_t count = std::min<std::size_t>(size, source.Bytes.size() - source.Position);
    if (count == 0) return static_cast<OPJ_SIZE_T>(-1);
    std::memcpy(buffer, source.Bytes.data() + source.Position, count);
    source.Position += count;
    return count;
}

OPJ_OFF_T SkipSource(OPJ_OFF_T count, void* user) {
    auto& source = *static_cast<TMemorySource*>(user);
    if (count < 0) return -1;
    const std::size_t skipped =
        std::min<std::size_t>(std::size_t(count), source.Bytes.size() - source.Position);
    if (skipped == 0 && count > 0) return -1;
    source.Position += skipped;
    return OPJ_OFF_T(skipped);
}

OPJ_BOOL SeekSource(OPJ_OFF_T position, void* user) {
    auto& source = *static_cast<TMemorySource*>(user);
    if (position < 0 || std::uint64_t(position) > source.Bytes.size()) return OPJ_FALSE;
    source.Position = std::size_t(position);
    return OPJ_TRUE;
}

TStream OpenSource(TMemorySource& source) {
    // OpenJPEG copies through a buffer of this size; a small frame needs no larger one.
    const std::size_t buffer = std::clamp<std::size_t>(source.Bytes.size(), 4096, OPJ_J2K_STREAM_CHUNK_SIZE);
    TStream stream(opj_stream_create(buffer, OPJ_TRUE));
    if (!stream) RaiseError("Out of memory while decoding a JPEG 2000 frame");
    opj_stream_set_user_data(stream.get(), &source, nullptr);
    opj_stream_set_user_data_length(stream.get(), source.Bytes.size());
    opj_stream_set_read_function(stream.get(), ReadSource);
    opj_stream_set_skip_function(stream.get(), SkipSource);
    opj_stream_set_seek_function(stream.get(), SeekSource);
    return stream;
}

// OpenJPEG's complaints, kept for the message instead of going to the terminal.
void CollectMessage(const char* text, void* user) {
    auto& messages = *static_cast<std::string*>(user);
    std::string_view line(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.remove_suffix(1);
    if (line.empty()) return;
    if (!messages.empty()) messages += "; ";
    messages += line;
}

void IgnoreMessage(const char*, void*) {}

[[noreturn]] void RaiseUndecodable(const std::string& errors) {
    RaiseError("JPEG 2000 frame cannot be decoded" + (errors.empty() ? std::string() : ": " + errors));
}

TGeometry GeometryOf(const opj_image_t& image) {
    TGeometry geometry{0, 0, image.numcomps};
    for (std::uint32_t c = 0; c < image.numcomps; ++c) {
        const opj_image_comp_t& component = image.comps[c];
        if (c == 0) geometry.Width = component.w, geometry.Height = component.h;
        geometry.Subsampled |= component.dx != 1 || component.dy != 1 || component.w != geometry.Width ||
                               component.h != geometry.Height;
        geometry.Precision = std::max(geometry.Precision, component.prec);
    }
    return geometry;
}

// The low bits of every sample, interleaved: the data set's signedness and depth give them their
// meaning. One loop per sample size and count, in blocks of a fixed length: the compiler
// vectorises those at -O2, a loop of unknown length only at -O3.
// Samples are clamped to their component's range first: a lossy frame rings past it, and an
// unsigned -1 kept as its low bits would show as the brightest value.
template <typename TSample, int SampleCount>
void Interleave(const opj_image_t& image, std::size_t pixels, std::uint8_t* __restrict out) {
    constexpr std::size_t kStep = SampleCount * sizeof(TSample), kBlock = 16;
    for (int c = 0; c < SampleCount; ++c) {
        const opj_image_comp_t& component = image.comps[c];
        const OPJ_INT32* __restrict plane = component.data;
        const int bits = static_cast<int>(std::clamp<OPJ_UINT32>(component.prec, 1, 31));
        const OPJ_INT32 low = component.sgnd ? -(OPJ_INT32(1) << (bits - 1)) : 0;
        const OPJ_INT32 high =
            component.sgnd ? (OPJ_INT32(1) << (bits - 1)) - 1 : OPJ_INT32((1u << bits) - 1);
        const auto put = [low, high](OPJ_INT32 value, std::uint8_t* to) {
            const auto sample = static_cast<TSample>(std::clamp(value, low, high));
            std::memcpy(to, &sample, sizeof(TSample));
        };
        std::uint8_t* at = out + c * sizeof(TSample);
        std::size_t i = 0;
        for (; i + kBlock <= pixels; i += kBlock, at += kBlock * kStep)
            for (std::size_t k = 0; k < kBlock; ++k) put(plane[i + k], at + k * kStep);
        for (; i < pixels; ++i, at += kStep) put(plane[i], at);
    }
}

void CopySamples(const opj_image_t& image, const TFrameLayout& layout, std::span<std::uint8_t> out) {
    for (std::uint32_t c = 0; c < image.numcomps; ++c)
        if (!image.comps[c].data) RaiseUndecodable("no samples were decoded");
    const std::size_t pixels = std::size_t(layout.Columns) * std::size_t(layout.Rows);
    const bool colour = layout.Samples == 3;
    if (layout.BytesPerSample == 1)
        colour ? Interleave<std::uint8_t, 3>(image, pixels, out.data())
               : Interleave<std::uint8_t, 1>(image, pixels, out.data());
    else
        colour ? Interleave<std::uint16_t, 3>(image, pixels, out.data())
               : Interleave<std::uint16_t, 1>(image, pixels, out.data());
}

void CheckLayout(const TFrameLayout& layout, std::span<std::uint8_t> out) {
    if ((layout.Samples != 1 && layout.Samples != 3) ||
        (layout.BytesPerSample != 1 && layout.BytesPerSample != 2) || layout.Columns <= 0 || layout.Rows <= 0)
        RaiseError("JPEG 2000 frames of " + std::to_string(layout.Samples) + " samples of " +
                   std::to_string(layout.BytesPerSample * 8) + " bits are not supported");
    if (out.size() != layout.FrameBytes())
        RaiseError("JPEG 2000 frame needs " + std::to_string(layout.FrameBytes()) + " bytes of output, not " +
                   std::to_string(out.size()));
}

// One frame, part 1 or high-throughput code-blocks as the syntax allows.
void DecodeFrame(std::span<const std::uint8_t> stream, const TFrameLayout& layout,
                 std::span<std::uint8_t> out, bool highThroughput) {
    CheckLayout(layout, out);
    const bool jp2 = StartsWith(stream, kJp2Signature);
    if (!jp2 && !StartsWith(stream, kCodestreamStart))
        RaiseError("JPEG 2000 frame begins with neither a codestream nor a JP2 signature");
    const auto codestream = jp2 ? Jp2Codestream(stream) : stream;
    CheckGeometry(ReadImageHeader(codestream), layout);
    if (!highThroughput && UsesHighThroughputBlocks(codestream))
        RaiseError(
            "JPEG 2000 frame uses high-throughput code-blocks, which its transfer syntax does not allow");
    if (!EndsWithEndMarker(codestream))
        RaiseError("JPEG 2000 frame is cut short: it lacks its end-of-codestream marker");

    std::string errors;
    const TCodec codec(opj_create_decompress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
    if (!codec) RaiseError("Out of memory while decoding a JPEG 2000 frame");
    opj_set_info_handler(codec.get(), IgnoreMessage, nullptr);
    opj_set_warning_handler(codec.get(), IgnoreMessage, nullptr);
    opj_set_error_handler(codec.get(), CollectMessage, &errors);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    // Strict: a codestream that ends early is an error, not a picture with blank rows.
    if (!opj_setup_decoder(codec.get(), &parameters) || !opj_decoder_set_strict_mode(codec.get(), OPJ_TRUE))
        RaiseUndecodable(errors);
    // Without thread support in the library the frame is decoded on this thread alone.
    opj_codec_set_threads(codec.get(), kDecodeThreads);

    TMemorySource source{stream};
    const TStream input = OpenSource(source);
    opj_image_t* header = nullptr;
    const bool headerRead = opj_read_header(input.get(), codec.get(), &header);
    const TImage image(header);
    if (!headerRead || !image) RaiseUndecodable(errors);
    CheckGeometry(GeometryOf(*image), layout);
    if (!opj_decode(codec.get(), input.get(), image.get()) || !opj_end_decompress(codec.get(), input.get()))
        RaiseUndecodable(errors);
    // A JP2 palette or channel map may change the components while decoding.
    CheckGeometry(GeometryOf(*image), layout);
    CopySamples(*image, layout, out);
}

} // namespace

void DecodeJpeg2000Frame(std::span<const std::uint8_t> stream, const TFrameLayout& layout,
                         std::span<std::uint8_t> out) {
    DecodeFrame(stream, layout, out, false);
}

void DecodeHtj2kFrame(std::span<const std::uint8_t> stream, const TFrameLayout& layout,
                      std::span<std::uint8_t> out) {
    DecodeFrame(stream, layout, out, true);
}

} // namespace tarvicon
