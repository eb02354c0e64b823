// JPEG baseline, extended and progressive frames (FrameCodecs.h). The markers up to the frame
// header are read here first: the header is checked against the layout before any decoder
// allocates, and its precision picks the decoder. 8-bit streams go to libjpeg-turbo, decoded
// straight into the output rows; 12-bit streams to DCMTK's 12-bit IJG decoder in the module of
// Jpeg12Modules.h.

#include "dicom/FrameCodecs.h"
#include "dicom/Jpeg12Modules.h"
#include "util/Errors.h"
#include "util/Modules.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

namespace tarvicon {

namespace {

// Progressive streams are refused beyond this many scans: each scan walks the whole image, and
// real encoders write a dozen or so.
constexpr int kMaxScans = 1000;

// What the markers up to and including the frame header say.
struct TJpegHeader {
    int Marker = 0; // SOFn
    int Precision = 0;
    int Width = 0;
    int Height = 0;
    int Components = 0;
    bool Subsampled = false; // a component sampled less often than the first one
    bool Jfif = false;
    int AdobeTransform = -1; // -1 without an Adobe marker
};

int Be16(const std::uint8_t* p) {
    return p[0] << 8 | p[1];
}

[[noreturn]] void RaiseTruncated() {
    RaiseError("The JPEG stream ends before its image is complete");
}

bool StartsWith(std::span<const std::uint8_t> payload, std::string_view text) {
    return payload.size() >= text.size() && std::memcmp(payload.data(), text.data(), text.size()) == 0;
}

// Counts the start-of-scan markers from `at` on. A marker's 0xFF never occurs unstuffed inside
// entropy-coded data, so every FF DA pair is a scan (or, harmlessly, a byte pair in a table).
int CountScans(std::span<const std::uint8_t> stream, std::size_t at) {
    int scans = 0;
    const std::uint8_t* p = stream.data() + at;
    const std::uint8_t* const end = stream.data() + stream.size();
    while (p < end && (p = static_cast<const std::uint8_t*>(std::memchr(p, 0xFF, std::size_t(end - p))))) {
        ++p;
        if (p < end && *p == 0xDA) ++scans;
    }
    return scans;
}

TJpegHeader ParseFrameHeader(int marker, std::span<const std::uint8_t> payload) {
    if (payload.size() < 6) RaiseError("The JPEG frame header is too short");
    TJpegHeader header;
    header.Marker = marker;
    header.Precision = payload[0];
    header.Height = Be16(&payload[1]);
    header.Width = Be16(&payload[3]);
    header.Components = payload[5];
    if (header.Components == 0) RaiseError("The JPEG frame header names no components");
    if (payload.size() < 6 + 3 * std::size_t(header.Components))
        RaiseError("The JPEG frame header is too short");
    const int first = payload[7];
    for (int c = 1; c < header.Components; ++c) {
        const int factors = payload[7 + 3 * c];
        if ((factors >> 4) < (first >> 4) || (factors & 15) < (first & 15)) header.Subsampled = true;
    }
    return header;
}

// Walks the markers from the start of the image to the frame header, as the decoders do: bytes
// before a marker are skipped, fill bytes 0xFF too.
TJpegHeader ReadJpegHeader(std::span<const std::uint8_t> stream) {
    if (stream.size() < 2 || stream[0] != 0xFF || stream[1] != 0xD8)
        RaiseError("The frame is not a JPEG stream: it does not start with a start-of-image marker");
    bool jfif = false;
    int adobeTransform = -1;
    std::size_t at = 2;
    for (;;) {
        while (at < stream.size() && stream[at] != 0xFF) ++at;
        while (at < stream.size() && stream[at] == 0xFF) ++at;
        if (at >= stream.size()) RaiseTruncated();
        const int marker = stream[at++];
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue; // no segment
        if (marker == 0xD8 || marker == 0xD9) RaiseError("The JPEG stream holds no frame header");
        if (stream.size() - at < 2) RaiseTruncated();
        const std::size_t length = std::size_t(Be16(&stream[at]));
        if (length < 2)
            RaiseError("The JPEG stream has a marker segment of length " + std::to_string(length));
        if (stream.size() - at < length) RaiseTruncated();
        const std::span<const std::uint8_t> payload = stream.subspan(at + 2, length - 2);
        at += length;
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            TJpegHeader header = ParseFrameHeader(marker, payload);
            header.Jfif = jfif;
            header.AdobeTransform = adobeTransform;
            const bool progressive = marker == 0xC2 || marker == 0xCA;
            if (progressive && CountScans(stream, at) > kMaxScans)
                RaiseError("The progressive JPEG stream has more than " + std::to_string(kMaxScans) +
                           " scans");
            return header;
        }
        if (marker == 0xE0 && StartsWith(payload, std::string_view("JFIF", 5))) jfif = true;
        if (marker == 0xEE && payload.size() >= 12 && StartsWith(payload, "Adobe"))
            adobeTransform = payload[11];
    }
}

std::string SizeText(int width, int height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

std::string CountText(int count, const std::string& one, const std::string& many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// The frame header against the layout: the same size and samples, a precision of 8 or 12 bits
// that the layout's samples hold.
void CheckHeader(int precision, int width, int height, int components, const TFrameLayout& layout) {
    if (width != layout.Columns || height != layout.Rows)
        RaiseError("The JPEG frame is " + SizeText(width, height) + " pixels where the image is " +
                   SizeText(layout.Columns, layout.Rows));
    if (components != layout.Samples)
        RaiseError("The JPEG frame has " + CountText(components, "component", "components") +
                   " where the image has " +
                   CountText(layout.Samples, "sample per pixel", "samples per pixel"));
    if (precision != 8 && precision != 12)
        RaiseError("JPEG frames of " + std::to_string(precision) + "-bit precision are not supported");
    if (precision > 8 * layout.BytesPerSample)
        RaiseError("The JPEG frame holds " + std::to_string(precision) + "-bit samples where the image has " +
                   std::to_string(layout.BitsStored) + "-bit samples in " +
                   CountText(layout.BytesPerSample, "byte", "bytes"));
}

void CheckProcess(int marker) {
    switch (marker) {
    case 0xC0: // baseline
    case 0xC1: // extended
    case 0xC2: // progressive
    case 0xC9: // extended, arithmetic coding
    case 0xCA: // progressive, arithmetic coding
        return;
    case 0xC3:
    case 0xCB:
        RaiseError("The frame holds a lossless JPEG stream where a lossy one is expected");
    default:
        RaiseError("Hierarchical JPEG streams are not supported");
    }
}

// Whether three components hold YCbCr. A YBR photometric interpretation says so. "RGB" means
// the samples as they are, unless the stream itself says otherwise by a JFIF marker, an Adobe
// marker with the YCbCr transform, or subsampled components (nobody subsamples green and blue):
// real files labelled RGB carry such YCbCr streams, and shown as RGB their colours are wrong.
bool HoldsYCbCr(const TJpegHeader& header, const std::string& photometric) {
    if (header.Components != 3) return false;
    if (photometric.starts_with("YBR")) return true;
    return header.Jfif || header.AdobeTransform == 1 || header.Subsampled;
}

// ---- 8-bit frames: libjpeg-turbo ----

// The library's error manager: errors jump back to CallLibrary, messages are never printed, and
// the warnings that mean lost data (the stream ends early, a segment stops short, a corrupt code,
// a lost restart marker) count as errors: the picture would be partly invented.
struct TJpegErrors {
    jpeg_error_mgr Manager;
    std::jmp_buf Jump;
};

[[noreturn]] void LeaveLibrary(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<TJpegErrors*>(cinfo->err)->Jump, 1);
}

void IgnoreMessage(j_common_ptr) {}

void OnMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
        LeaveLibrary(cinfo);
    default:
        return;
    }
}

// One decompression: the library's state, its error manager and the output rows.
struct TDecompressor {
    TDecompressor() {
        cinfo.err = jpeg_std_error(&errors.Manager);
        errors.Manager.error_exit = LeaveLibrary;
        errors.Manager.output_message = IgnoreMessage;
        errors.Manager.emit_message = OnMessage;
    }
    ~TDecompressor() { jpeg_destroy_decompress(&cinfo); }
    TDecompressor(const TDecompressor&) = delete;
    TDecompressor& operator=(const TDecompressor&) = delete;

    jpeg_decompress_struct cinfo{}; // destroying a struct never created is harmless while it is zero
    TJpegErrors errors{};
    std::span<const std::uint8_t> stream;
    std::vector<JSAMPROW> rows;
};

// Runs one step of the library; false when the library raised an error. This is the decoder's
// one setjmp: neither this function nor a step keeps an object with a destructor alive, so the
// jump out of the library skips no C++ clean-up.
bool CallLibrary(TDecompressor& d, void (*step)(TDecompressor&)) {
    if (setjmp(d.errors.Jump)) return false;
    step(d);
    return true;
}

// The library's message for its last error, in the system's words where it has them.
std::string LibraryMessage(TDecompressor& d) {
    if (d.errors.Manager.msg_code == JWRN_JPEG_EOF)
        return "The JPEG stream ends before its image is complete";
    char text[JMSG_LENGTH_MAX] = {};
    d.errors.Manager.format_message(reinterpret_cast<j_common_ptr>(&d.cinfo), text);
    return std::string("Cannot decode the JPEG frame: ") + text;
}

void Call(TDecompressor& d, void (*step)(TDecompressor&)) {
    if (!CallLibrary(d, step)) RaiseError(LibraryMessage(d));
}

// Widens n 8-bit samples that lie in the upper half of out[0, 2n) into n 16-bit samples. Going
// forward is safe: sample i is written to bytes 2i and 2i+1, never past n+i, where it was read.
void WidenInPlace(std::uint8_t* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint16_t value = out[n + i];
        std::memcpy(out + 2 * i, &value, 2);
    }
}

void DecodeWithLibjpeg(std::span<const std::uint8_t> stream, const TFrameLayout& layout, bool ycbcr,
                       std::span<std::uint8_t> out) {
    TDecompressor d;
    d.stream = stream;
    Call(d, [](TDecompressor& s) {
        jpeg_create_decompress(&s.cinfo);
        jpeg_mem_src(&s.cinfo, s.stream.data(), s.stream.size());
        jpeg_read_header(&s.cinfo, TRUE);
    });
    jpeg_decompress_struct& c = d.cinfo;
    CheckHeader(c.data_precision, int(c.image_width), int(c.image_height), c.num_components, layout);
    if (c.num_components == 3) {
        c.jpeg_color_space = ycbcr ? JCS_YCbCr : JCS_RGB;
        c.out_color_space = JCS_RGB;
    } else {
        c.out_color_space = JCS_GRAYSCALE;
    }
    // Rows go straight into the output. In a 16-bit layout the 8-bit frame fills the upper half
    // and is widened in place afterwards.
    const std::size_t rowBytes = std::size_t(layout.Columns) * std::size_t(layout.Samples);
    std::uint8_t* const frame = out.data() + (layout.BytesPerSample == 2 ? out.size() / 2 : 0);
    d.rows.resize(std::size_t(layout.Rows));
    for (std::size_t y = 0; y < d.rows.size(); ++y) d.rows[y] = frame + y * rowBytes;
    Call(d, [](TDecompressor& s) {
        jpeg_start_decompress(&s.cinfo);
        // The memory source never suspends: it makes up an end of image (with a warning that
        // leaves) when the stream runs out, so every call returns rows.
        while (s.cinfo.output_scanline < s.cinfo.output_height) {
            const JDIMENSION done = s.cinfo.output_scanline;
            if (jpeg_read_scanlines(&s.cinfo, s.rows.data() + done, s.cinfo.output_height - done) == 0)
                return;
        }
        jpeg_finish_decompress(&s.cinfo);
    });
    if (c.output_scanline < c.output_height) RaiseTruncated();
    if (layout.BytesPerSample == 2) WidenInPlace(out.data(), out.size() / 2);
}

// ---- 12-bit frames: the module ----

// The module's entry, loaded once beside the program (or from the library path) and kept for
// the program's life; null with the loader's reason when it cannot be loaded.
TDecodeJpeg12Frame LoadJpeg12Decoder(std::string& reason) {
    static const TModuleEntry entry = LoadModuleEntry(kJpeg12ModuleName, kDecodeJpeg12FrameName);
    reason = entry.Failure;
    return reinterpret_cast<TDecodeJpeg12Frame>(entry.Address);
}

void DecodeWithModule(std::span<const std::uint8_t> stream, const TFrameLayout& layout, bool ycbcr,
                      std::span<std::uint8_t> out) {
    std::string reason;
    const TDecodeJpeg12Frame decode = LoadJpeg12Decoder(reason);
    if (!decode) RaiseError("The 12-bit JPEG decoder cannot be loaded: " + reason);
    const TJpeg12Frame frame{stream.data(), stream.size(), out.data(), out.size(), ycbcr, layout.Signed};
    decode(frame, &reason);
    if (!reason.empty()) RaiseError("Cannot decode the 12-bit JPEG frame: " + reason);
}

} // namespace

void DecodeJpegFrame(std::span<const std::uint8_t> stream, const TFrameLayout& layout,
                     std::span<std::uint8_t> out) {
    if (layout.Columns <= 0 || layout.Rows <= 0 || (layout.Samples != 1 && layout.Samples != 3) ||
        (layout.BytesPerSample != 1 && layout.BytesPerSample != 2))
        RaiseError("The image's layout cannot hold a JPEG frame");
    if (out.size() != layout.FrameBytes()) RaiseError("The JPEG frame's output has the wrong size");
    const TJpegHeader header = ReadJpegHeader(stream);
    CheckProcess(header.Marker);
    CheckHeader(header.Precision, header.Width, header.Height, header.Components, layout);
    const bool ycbcr = HoldsYCbCr(header, layout.Photometric);
    if (header.Precision == 8)
        DecodeWithLibjpeg(stream, layout, ycbcr, out);
    else
        DecodeWithModule(stream, layout, ycbcr, out);
}

} // namespace tarvicon
