// RLE lossless frames (FrameCodecs.h). A frame is a 64-byte header (the segment count and up to
// 15 segment offsets, little endian) followed by PackBits segments, one per byte plane: for each
// sample in turn, its most significant byte first. Each plane is written straight into the
// interleaved output with the pixel's size as stride, so no plane is ever buffered.
//
// A segment that decodes to more bytes than its plane holds is cut at the plane's end and what is
// left of it is ignored: encoders pad odd segments with a byte, and some let a run overshoot the
// last row; the established decoders accept both, and nothing past the plane is written. A segment
// that decodes to fewer bytes is refused: the picture would be partly invented.

#include "dicom/FrameCodecs.h"
#include "util/Errors.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace tarvicon {

namespace {

constexpr std::size_t kHeaderBytes = 64;
constexpr std::uint32_t kMaxSegments = 15;

std::uint32_t Le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

std::string SegmentName(std::size_t index) {
    return "RLE segment " + std::to_string(index + 1);
}

// Writes `count` bytes `Stride` apart; the stride is a constant so that these loops unroll, and
// the contiguous case becomes memset and memcpy.
template <std::size_t Stride>
void Fill(std::uint8_t* out, std::uint8_t value, std::size_t count) {
    if constexpr (Stride == 1) {
        std::memset(out, value, count);
    } else {
        for (std::size_t i = 0; i < count; ++i) out[i * Stride] = value;
    }
}

template <std::size_t Stride>
void Copy(std::uint8_t* out, const std::uint8_t* in, std::size_t count) {
    if constexpr (Stride == 1) {
        std::memcpy(out, in, count);
    } else {
        for (std::size_t i = 0; i < count; ++i) out[i * Stride] = in[i];
    }
}

// Unpacks one PackBits segment into every Stride-th byte of out, at most `planeBytes` of them;
// returns how many it wrote. Stops when the plane is full or the segment has ended.
template <std::size_t Stride>
std::size_t UnpackSegment(std::span<const std::uint8_t> segment, std::uint8_t* out, std::size_t planeBytes) {
    const std::uint8_t* in = segment.data();
    const std::uint8_t* const end = in + segment.size();
    std::size_t filled = 0;
    while (filled < planeBytes && in < end) {
        const int header = static_cast<std::int8_t>(*in++);
        const std::size_t room = planeBytes - filled;
        if (header >= 0) {
            // A literal cut short by the segment's end keeps what it has; a short plane is
            // reported by the caller.
            const std::size_t available = std::min(std::size_t(header) + 1, std::size_t(end - in));
            const std::size_t count = std::min(available, room);
            Copy<Stride>(out + filled * Stride, in, count);
            in += available;
            filled += count;
        } else if (header != -128) {
            if (in == end) break;
            const std::size_t count = std::min(std::size_t(1 - header), room);
            Fill<Stride>(out + filled * Stride, *in++, count);
            filled += count;
        }
    }
    return filled;
}

using TUnpack = std::size_t (*)(std::span<const std::uint8_t>, std::uint8_t*, std::size_t);

// The unpacker for pixels of 1, 2 or 4 bytes (grey) or 3, 6 or 12 bytes (RGB).
TUnpack UnpackerFor(std::size_t pixelBytes) {
    switch (pixelBytes) {
    case 1:
        return UnpackSegment<1>;
    case 2:
        return UnpackSegment<2>;
    case 3:
        return UnpackSegment<3>;
    case 4:
        return UnpackSegment<4>;
    case 6:
        return UnpackSegment<6>;
    default:
        return UnpackSegment<12>;
    }
}

} // namespace

void DecodeRleFrame(std::span<const std::uint8_t> stream, const TFrameLayout& layout,
                    std::span<std::uint8_t> out) {
    if (layout.Samples != 1 && layout.Samples != 3)
        RaiseError("RLE frames of " + std::to_string(layout.Samples) +
                   " samples per pixel are not supported");
    // 32-bit samples too: dose grids are stored that way.
    if (layout.BytesPerSample != 1 && layout.BytesPerSample != 2 && layout.BytesPerSample != 4)
        RaiseError("RLE frames of " + std::to_string(8 * layout.BytesPerSample) +
                   "-bit samples are not supported");
    if (layout.Columns <= 0 || layout.Rows <= 0) RaiseError("RLE frame has no pixels");
    if (out.size() != layout.FrameBytes())
        RaiseError("RLE frame needs " + std::to_string(layout.FrameBytes()) + " output bytes, not " +
                   std::to_string(out.size()));
    if (stream.size() < kHeaderBytes)
        RaiseError("RLE frame of " + std::to_string(stream.size()) +
                   " bytes is shorter than its 64-byte header");

    const std::size_t pixelBytes = std::size_t(layout.Samples) * std::size_t(layout.BytesPerSample);
    const std::uint32_t segments = Le32(stream.data());
    if (segments != pixelBytes)
        RaiseError("RLE frame has " + std::to_string(segments) + " segments; the image needs " +
                   std::to_string(pixelBytes) + ", one per byte of each sample");
    std::array<std::size_t, kMaxSegments + 1> starts{};
    for (std::size_t i = 0; i < segments; ++i) {
        starts[i] = Le32(stream.data() + 4 + 4 * i);
        if (starts[i] < kHeaderBytes || starts[i] > stream.size())
            RaiseError(SegmentName(i) + " starts outside its fragment");
        if (i > 0 && starts[i] < starts[i - 1])
            RaiseError(SegmentName(i) + " starts before " + SegmentName(i - 1) + " (offsets out of order)");
    }
    starts[segments] = stream.size();

    const std::size_t planeBytes = std::size_t(layout.Columns) * std::size_t(layout.Rows);
    const std::size_t bytesPerSample = std::size_t(layout.BytesPerSample);
    const TUnpack unpack = UnpackerFor(pixelBytes);
    for (std::size_t i = 0; i < segments; ++i) {
        // Segment i holds byte `significance` (0 = most significant) of sample i / bytesPerSample.
        const std::size_t sample = i / bytesPerSample, significance = i % bytesPerSample;
        const std::size_t byteInSample =
            std::endian::native == std::endian::little ? bytesPerSample - 1 - significance : significance;
        std::uint8_t* const plane = out.data() + sample * bytesPerSample + byteInSample;
        const std::size_t filled =
            unpack(stream.subspan(starts[i], starts[i + 1] - starts[i]), plane, planeBytes);
        if (filled < planeBytes)
            RaiseError(SegmentName(i) + " ends after " + std::to_string(filled) + " of its " +
                       std::to_string(planeBytes) + " bytes");
    }
}

} // namespace tarvicon
