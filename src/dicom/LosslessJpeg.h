#pragma once
// Decoder for pixel data of transfer syntax 1.2.840.10008.1.2.4.70: the lossless, Huffman-coded
// JPEG process 14 (SOF3, predictors 1 to 7). 8-bit grey, 8-bit RGB, and grey of any other
// precision up to 16 bits as 16-bit little-endian samples. Only the first scan is decoded.

#include "util/Bytes.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarvicon {

// Decodes a JPEG stream into a zero-filled buffer of bytesPerPixel x columns x rows x frames
// bytes; samples beyond it are dropped. An empty stream gives an empty buffer. A stream that is
// not lossless gives the zero image and the notice "Unable to extract this file format.": added
// to notices when given (a decoder off the UI thread), else shown by the host.
TByteBuffer DecodeLosslessJpeg(std::span<const std::uint8_t> stream, int bytesPerPixel, int columns, int rows,
                               int frames, std::vector<std::string>* notices = nullptr);

// The same into a zero-filled output the caller holds; samples beyond it are dropped.
void DecodeLosslessJpegInto(std::span<const std::uint8_t> stream, std::span<std::uint8_t> output,
                            std::vector<std::string>* notices = nullptr);

} // namespace tarvicon
