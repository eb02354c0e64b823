#pragma once
// The decoders of one frame of encapsulated pixel data, one function per family of transfer
// syntaxes. Each takes the frame's codestream and the image's layout as the data set describes
// it, and fills an output of exactly layout.FrameBytes(): samples interleaved (R, G, B for
// colour), 16-bit samples in host order, the bits as the codestream holds them. A codestream that
// cannot be decoded, or whose own header disagrees with the layout (size, samples, precision),
// raises WException with a message that says what is wrong; nothing is allocated from a header
// before it has been checked against the layout.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tarvicon {

struct TFrameLayout {
    int Columns = 0;
    int Rows = 0;
    int Samples = 1;        // samples per pixel: 1 or 3
    int BytesPerSample = 1; // bits allocated / 8: 1 or 2 (RLE also 4)
    int BitsStored = 8;
    bool Signed = false;     // Pixel Representation 1
    std::string Photometric; // "MONOCHROME2", "RGB", "YBR_FULL_422", …
    int PlanarConfiguration = 0;

    std::size_t FrameBytes() const {
        return std::size_t(Columns) * std::size_t(Rows) * std::size_t(Samples) * std::size_t(BytesPerSample);
    }
};

// JPEG processes 1, 2 and 4 (baseline, extended, 8 and 12 bits) and progressive JPEG: 8-bit
// streams by libjpeg-turbo, 12-bit ones by DCMTK's IJG decoder in the module
// libtarvicon_jpeg12.so, loaded on first use. Colour streams become RGB: a YBR photometric
// interpretation means the stream holds YCbCr; RGB means it holds RGB as it is, unless the stream
// itself says YCbCr (a JFIF marker, an Adobe marker with transform 1, or subsampled chroma), as
// some writers' lossy RGB streams do.
void DecodeJpegFrame(std::span<const std::uint8_t> stream, const TFrameLayout& layout,
                     std::span<std::uint8_t> out);

// JPEG 2000 (part 1 codestream or JP2), by OpenJPEG; the reversible and irreversible colour
// transforms are undone. The codestream's precision and signedness yield to the data set's.
void DecodeJpeg2000Frame(std::span<const std::uint8_t> stream, const TFrameLayout& layout,
                         std::span<std::uint8_t> out);

// High-throughput JPEG 2000 (HTJ2K), by OpenJPH.
void DecodeHtj2kFrame(std::span<const std::uint8_t> stream, const TFrameLayout& layout,
                      std::span<std::uint8_t> out);

// RLE lossless: the 64-byte header of segment offsets, PackBits segments, byte planes most
// significant first, one segment group per colour sample, put together interleaved.
void DecodeRleFrame(std::span<const std::uint8_t> stream, const TFrameLayout& layout,
                    std::span<std::uint8_t> out);

// JPEG XL, by libjxl in the module libtarvicon_jpegxl.so, loaded on first use.
void DecodeJpegXlFrame(std::span<const std::uint8_t> stream, const TFrameLayout& layout,
                       std::span<std::uint8_t> out);

} // namespace tarvicon
