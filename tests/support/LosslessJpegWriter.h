#pragma once
// A small lossless JPEG (process 14) encoder of the tests' own, for streams that real encoders
// cannot write: restart intervals, chosen Huffman tables, category-16 differences. It predicts
// exactly as the decoder reconstructs, restart segments included.

#include <cstdint>
#include <string>
#include <vector>

namespace tarvicon::test {

struct THuffmanTableDef {
    std::vector<int> Counts;  // codes of length 1..16
    std::vector<int> Symbols; // in order of code length
};

// 17 symbols with codes of 2 to 14 bits, so both the table look-up and the bitwise path are used.
THuffmanTableDef WideHuffmanTable();
// The same lengths with the symbols of the two shortest codes swapped.
THuffmanTableDef SwappedHuffmanTable();

struct TJpegOptions {
    int Precision = 8;
    int Components = 1;      // 1 or 3 (interleaved samples)
    int Predictor = 1;       // Ss
    int RestartInterval = 0; // in samples; 0 for none
    std::vector<THuffmanTableDef> Tables{WideHuffmanTable()};
    bool TablesInSeparateSegments = false;
    int FrameMarker = 0xC3;
};

// Encodes width x height pixels of Components interleaved samples each.
std::string EncodeLosslessJpeg(const std::vector<std::uint16_t>& samples, int width, int height,
                               const TJpegOptions& options);

} // namespace tarvicon::test
