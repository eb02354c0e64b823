#pragma once
// The transfer syntaxes the reader knows: how the data set is encoded and what decodes the pixels.

#include <string_view>

namespace tarvicon {

// How the data set after the meta group is written.
enum class TDataSetEncoding { LittleEndian, BigEndian, Deflated };

// What turns the pixel data into samples.
enum class TPixelCodec {
    Native,       // uncompressed samples
    LosslessJpeg, // process 14, our own decoder
    JpegLs,       // lossless and near-lossless, the JPEG-LS plugin
    Jpeg,         // baseline, extended and progressive JPEG
    Jpeg2000,     // part 1, lossless and lossy
    Htj2k,        // high-throughput JPEG 2000
    Rle,          // RLE lossless
    JpegXl,       // JPEG XL
};

// Whether the syntax loses information: never, always, or unless the data set says it did not
// (Lossy Image Compression "00"), for the syntaxes that carry both.
enum class TLossiness { Never, Always, Possibly };

struct TTransferSyntax {
    std::string_view Uid;
    TDataSetEncoding Encoding;
    TPixelCodec Codec;
    TLossiness Lossiness;
    std::string_view Method; // the compression method's code, shown with the LOSSY mark
};

// The syntax of a UID, or nullptr for one the reader does not read (video, JPIP, private ones).
const TTransferSyntax* FindTransferSyntax(std::string_view uid);

} // namespace tarvicon
