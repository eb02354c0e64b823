#include "dicom/LosslessJpeg.h"

#include "util/Errors.h"
#include "util/Host.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace tarvicon {

namespace {

constexpr int kMaxTables = 4;
constexpr std::uint8_t kLongCode = 255;
// Zero bytes after the entropy-coded data, so the bit reader may load whole words at its end.
constexpr std::size_t kTailPadding = 8;

struct THuffmanTable {
    std::array<std::uint8_t, 17> Counts{};     // codes of length 1..16
    std::array<std::uint8_t, 17> Symbols{};    // in order of code length
    std::array<std::uint32_t, 18> FirstCode{}; // canonical code of the first symbol of each length
    std::array<int, 18> FirstIndex{};          // index into Symbols of that symbol
    int MaxLength = 0;
    std::uint8_t LastSymbol = 0;
    std::array<std::uint8_t, 256> FastSymbol; // next 8 bits -> symbol, kLongCode when longer
    std::array<std::uint8_t, 256> FastLength{};
    std::array<std::uint8_t, 18> SymbolLength{};
    // The next 12 bits -> the whole difference when its code and extra bits fit in them
    // (Bits = 0 otherwise): one look-up per sample for the common small differences.
    struct TDifference {
        std::int32_t Value;
        std::uint8_t Bits;
    };
    std::array<TDifference, 4096> FastDifference{};

    void Build() {
        FastSymbol.fill(kLongCode);
        std::uint32_t code = 0;
        int index = 0;
        for (int length = 1; length <= 16; ++length) {
            FirstCode[length] = code;
            FirstIndex[length] = index;
            for (int k = 0; k < Counts[length]; ++k, ++code, ++index) {
                const std::uint8_t symbol = Symbols[index];
                MaxLength = length;
                if (length > 8) continue;
                SymbolLength[symbol] = static_cast<std::uint8_t>(length);
                const std::uint32_t first = code << (8 - length);
                const std::uint32_t span = 1u << (8 - length);
                if (first + span > 256) continue; // codes of a corrupt table that overflow their length
                for (std::uint32_t e = first; e < first + span; ++e) {
                    FastSymbol[e] = symbol;
                    FastLength[e] = static_cast<std::uint8_t>(length);
                }
            }
            code <<= 1;
        }
        for (std::uint32_t bits = 0; bits < 4096; ++bits) {
            const std::uint8_t symbol = FastSymbol[bits >> 4];
            if (symbol == kLongCode) continue;
            const int length = FastLength[bits >> 4];
            if (symbol == 16) {
                FastDifference[bits] = {32768, static_cast<std::uint8_t>(length)};
                continue;
            }
            if (length + symbol > 12) continue;
            int value = 0;
            if (symbol > 0) {
                value = static_cast<int>((bits >> (12 - length - symbol)) & ((1u << symbol) - 1));
                if (value < (1 << (symbol - 1))) value -= (1 << symbol) - 1;
            }
            FastDifference[bits] = {value, static_cast<std::uint8_t>(length + symbol)};
        }
    }
};

[[noreturn]] void NotJpeg() {
    RaiseError("Unable to read this file - is this really a JPEG image?");
}

// Most significant bit first over the compacted entropy-coded data; bits past its end are zero.
class TBitReader {
public:
    TBitReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    // At least 32 bits are available after this.
    void Fill() {
        if (bits_ > 32) return;
        std::uint32_t word = 0;
        if (pos_ + 4 <= size_ + kTailPadding)
            word = std::uint32_t(data_[pos_]) << 24 | std::uint32_t(data_[pos_ + 1]) << 16 |
                   std::uint32_t(data_[pos_ + 2]) << 8 | data_[pos_ + 3];
        acc_ |= std::uint64_t(word) << (32 - bits_);
        pos_ += 4;
        bits_ += 32;
    }
    std::uint32_t Peek8() const { return static_cast<std::uint32_t>(acc_ >> 56); }
    std::uint32_t Peek12() const { return static_cast<std::uint32_t>(acc_ >> 52); }
    void Skip(int count) {
        acc_ <<= count;
        bits_ -= count;
    }
    std::uint32_t Get(int count) {
        const auto value = static_cast<std::uint32_t>(acc_ >> (64 - count));
        Skip(count);
        return value;
    }

    // Continues right after the next restart marker (FF D0..D7) at a byte boundary.
    void Restart() {
        std::size_t at = (pos_ * 8 - static_cast<std::size_t>(bits_)) / 8;
        while (at + 1 < size_ && !(data_[at] == 0xFF && data_[at + 1] >= 0xD0 && data_[at + 1] <= 0xD7)) ++at;
        pos_ = at + 1 < size_ ? at + 2 : size_;
        acc_ = 0;
        bits_ = 0;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    std::uint64_t acc_ = 0;
    int bits_ = 0;
};

// The difference of one sample, decoded with table t.
inline int DecodeDifference(TBitReader& reader, const THuffmanTable& t) {
    reader.Fill();
    const THuffmanTable::TDifference fast = t.FastDifference[reader.Peek12()];
    if (fast.Bits != 0) {
        reader.Skip(fast.Bits);
        return fast.Value;
    }
    const std::uint32_t peek = reader.Peek8();
    int symbol = t.FastSymbol[peek];
    if (symbol != kLongCode) {
        reader.Skip(t.FastLength[peek]);
    } else {
        reader.Skip(8);
        std::uint32_t code = peek;
        for (int length = 9;; ++length) {
            if (length > t.MaxLength) {
                symbol = t.LastSymbol;
                break;
            }
            code = code << 1 | reader.Get(1);
            if (code - t.FirstCode[length] < t.Counts[length]) {
                symbol = t.Symbols[t.FirstIndex[length] + (code - t.FirstCode[length])];
                break;
            }
        }
    }
    if (symbol == 0) return 0;
    if (symbol == 16) return 32768;
    const int value = static_cast<int>(reader.Get(symbol));
    return value < (1 << (symbol - 1)) ? value - ((1 << symbol) - 1) : value;
}

template <int Predictor>
inline int Predict(int ra, int rb, int rc) {
    if constexpr (Predictor == 2)
        return rb;
    else if constexpr (Predictor == 3)
        return rc;
    else if constexpr (Predictor == 4)
        return ra + rb - rc;
    else if constexpr (Predictor == 5)
        return ra + ((rb - rc) >> 1);
    else if constexpr (Predictor == 6)
        return rb + ((ra - rc) >> 1);
    else if constexpr (Predictor == 7)
        return (ra + rb) >> 1;
    else
        return ra;
}

inline int PredictBy(int predictor, int ra, int rb, int rc) {
    switch (predictor) {
    case 2:
        return Predict<2>(ra, rb, rc);
    case 3:
        return Predict<3>(ra, rb, rc);
    case 4:
        return Predict<4>(ra, rb, rc);
    case 5:
        return Predict<5>(ra, rb, rc);
    case 6:
        return Predict<6>(ra, rb, rc);
    case 7:
        return Predict<7>(ra, rb, rc);
    default:
        return Predict<1>(ra, rb, rc);
    }
}

struct TScan {
    int Precision = 0;
    int Lines = 0;
    int SamplesPerLine = 0;
    int Components = 0;
    int ScanComponents = 0;
    int Predictor = 0;
    int RestartInterval = 0;
    bool Lossless = false;
    bool Extractable = true;
    std::size_t DataStart = 0;
    std::vector<THuffmanTable> Tables;
};

// Reads the markers up to the first start of scan.
TScan ParseHeader(std::span<const std::uint8_t> in) {
    const auto byte = [&](std::size_t at) -> int { return at < in.size() ? in[at] : 0; };
    const auto word = [&](std::size_t at) { return byte(at) << 8 | byte(at + 1); };
    TScan scan;
    bool scanFound = false;
    std::size_t pos = 2;
    while (pos < in.size() && !scanFound) {
        if (in[pos++] != 0xFF) break;
        if (pos >= in.size()) break;
        const int marker = in[pos++];
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0xFF)
            continue;
        const std::size_t length = static_cast<std::size_t>(word(pos));
        if (pos + length > in.size()) break;
        const std::size_t body = pos + 2;
        const std::size_t end = pos + length;
        if (marker == 0xC3) scan.Lossless = true;
        if ((marker >= 0xC0 && marker <= 0xC3) || (marker >= 0xC5 && marker <= 0xCB) ||
            (marker >= 0xCD && marker <= 0xCF)) {
            scan.Precision = byte(body);
            scan.Lines = word(body + 1);
            scan.SamplesPerLine = word(body + 3);
            scan.Components = byte(body + 5);
            if (!scan.Lossless || (scan.Components != 1 && scan.Components != 3) || scan.Precision < 1 ||
                scan.Precision > 16) {
                scan.Extractable = false;
                return scan;
            }
        } else if (marker == 0xC4) {
            scan.Tables.clear();
            std::size_t at = body;
            while (end >= at + 18) {
                THuffmanTable table;
                ++at; // class and identifier, not used
                int total = 0;
                for (int length = 1; length <= 16; ++length) total += table.Counts[length] = in[at++];
                if (total > 17) RaiseError("Huffman table corrupted.");
                for (int k = 0; k < total; ++k) {
                    const int symbol = byte(at++);
                    if (symbol > 16) RaiseError("Huffman size array corrupted.");
                    table.Symbols[k] = static_cast<std::uint8_t>(symbol);
                    table.LastSymbol = static_cast<std::uint8_t>(symbol);
                }
                if (scan.Tables.size() < kMaxTables) scan.Tables.push_back(table);
            }
        } else if (marker == 0xDD) {
            scan.RestartInterval = word(body);
        } else if (marker == 0xDA) {
            scan.ScanComponents = byte(body);
            const std::size_t after = body + 1 + 2 * static_cast<std::size_t>(scan.ScanComponents);
            scan.Predictor = byte(after);
            scan.DataStart = end;
            scanFound = true;
        }
        pos = end;
    }
    if (!scan.Extractable) return scan;
    if (!scanFound) NotJpeg();
    return scan;
}

// Removes the 00 after each FF; FF D9 ends the data. Restart markers stay.
std::vector<std::uint8_t> CompactData(std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> out(data.size() + kTailPadding);
    std::size_t n = 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const std::uint8_t b = data[i];
        out[n++] = b;
        if (b != 0xFF || i + 1 >= data.size()) continue;
        if (data[i + 1] == 0x00)
            ++i;
        else if (data[i + 1] == 0xD9) {
            --n;
            break;
        }
    }
    out.resize(n);
    out.resize(n + kTailPadding, 0);
    return out;
}

// Decodes rows of Components interleaved samples in one run (no restart interval).
template <typename T, int Predictor, int Components>
void DecodeRows(TBitReader& reader, const THuffmanTable* tables, T* previous, T* current, int width,
                int firstRow, int rows, int initial, std::uint8_t* out, std::size_t outSamples) {
    for (int row = firstRow; row < rows; ++row) {
        if (row == 0) {
            for (int c = 0; c < Components && c < width; ++c)
                current[c] = static_cast<T>(initial + DecodeDifference(reader, tables[c]));
            for (int i = Components; i < width; ++i)
                current[i] =
                    static_cast<T>(current[i - Components] +
                                   DecodeDifference(reader, tables[Components == 1 ? 0 : i % Components]));
        } else {
            for (int c = 0; c < Components && c < width; ++c)
                current[c] = static_cast<T>(previous[c] + DecodeDifference(reader, tables[c]));
            // Predictor chosen at compile time: no per-sample branch on it.
            for (int i = Components; i < width; ++i) {
                const int predicted =
                    Predict<Predictor>(current[i - Components], previous[i], previous[i - Components]);
                current[i] = static_cast<T>(
                    predicted + DecodeDifference(reader, tables[Components == 1 ? 0 : i % Components]));
            }
        }
        const std::size_t at = std::size_t(row) * std::size_t(width);
        if (at >= outSamples) return; // later rows would be dropped anyway
        std::memcpy(out + at * sizeof(T), current, std::min<std::size_t>(width, outSamples - at) * sizeof(T));
        std::swap(previous, current);
    }
}

template <typename T, int Components>
void DecodeRowsBy(int predictor, TBitReader& reader, const THuffmanTable* tables, T* previous, T* current,
                  int width, int rows, int initial, std::uint8_t* out, std::size_t outSamples) {
    switch (predictor) {
    case 2:
        DecodeRows<T, 2, Components>(reader, tables, previous, current, width, 0, rows, initial, out,
                                     outSamples);
        break;
    case 3:
        DecodeRows<T, 3, Components>(reader, tables, previous, current, width, 0, rows, initial, out,
                                     outSamples);
        break;
    case 4:
        DecodeRows<T, 4, Components>(reader, tables, previous, current, width, 0, rows, initial, out,
                                     outSamples);
        break;
    case 5:
        DecodeRows<T, 5, Components>(reader, tables, previous, current, width, 0, rows, initial, out,
                                     outSamples);
        break;
    case 6:
        DecodeRows<T, 6, Components>(reader, tables, previous, current, width, 0, rows, initial, out,
                                     outSamples);
        break;
    case 7:
        DecodeRows<T, 7, Components>(reader, tables, previous, current, width, 0, rows, initial, out,
                                     outSamples);
        break;
    default:
        DecodeRows<T, 1, Components>(reader, tables, previous, current, width, 0, rows, initial, out,
                                     outSamples);
        break;
    }
}

// Decoding with a restart interval of `interval` samples: after the first row, segments end at
// multiples of it; a segment starts with the sample above while it starts no later than the
// second sample of the second row, else with the initial prediction.
template <typename T>
void DecodeWithRestarts(const TScan& scan, TBitReader& reader, const THuffmanTable* tables, int components,
                        T* previous, T* current, int width, int rows, int initial, std::uint8_t* out,
                        std::size_t outSamples) {
    const std::size_t interval = static_cast<std::size_t>(scan.RestartInterval);
    const bool searchMarkers = components == 1;
    for (int row = 0; row < rows; ++row) {
        const std::size_t rowStart = std::size_t(row) * std::size_t(width);
        if (rowStart >= outSamples) return;
        for (int i = 0; i < width; ++i) {
            const THuffmanTable& table = tables[components == 1 ? 0 : i % components];
            int predicted;
            if (row == 0) {
                predicted = i < components ? initial : current[i - components];
            } else {
                const std::size_t p = rowStart + std::size_t(i);
                const bool segmentStart = p % interval == 0;
                if (segmentStart && searchMarkers) reader.Restart();
                if (segmentStart)
                    predicted = p <= std::size_t(width) + 1 ? previous[i] : initial;
                else if (i < components)
                    predicted = previous[i];
                else
                    predicted = PredictBy(scan.Predictor, current[i - components], previous[i],
                                          previous[i - components]);
            }
            current[i] = static_cast<T>(predicted + DecodeDifference(reader, table));
        }
        std::memcpy(out + rowStart * sizeof(T), current,
                    std::min<std::size_t>(width, outSamples - rowStart) * sizeof(T));
        std::swap(previous, current);
    }
}

template <typename T>
void DecodeImage(const TScan& scan, TBitReader& reader, int components, std::span<std::uint8_t> output) {
    const int width = scan.Components * scan.SamplesPerLine;
    const int rows = scan.Lines;
    if (width <= 0 || rows <= 0) return;
    std::vector<T> previous(static_cast<std::size_t>(width)), current(static_cast<std::size_t>(width));
    std::uint8_t* const out = output.data();
    const std::size_t outSamples = output.size() / sizeof(T);
    const int initial = 1 << (scan.Precision - 1);
    const THuffmanTable* tables = scan.Tables.data();
    if (scan.RestartInterval > 0)
        DecodeWithRestarts<T>(scan, reader, tables, components, previous.data(), current.data(), width, rows,
                              initial, out, outSamples);
    else if (components == 3)
        DecodeRowsBy<T, 3>(scan.Predictor, reader, tables, previous.data(), current.data(), width, rows,
                           initial, out, outSamples);
    else
        DecodeRowsBy<T, 1>(scan.Predictor, reader, tables, previous.data(), current.data(), width, rows,
                           initial, out, outSamples);
}

} // namespace

TByteBuffer DecodeLosslessJpeg(std::span<const std::uint8_t> stream, int bytesPerPixel, int columns, int rows,
                               int frames, std::vector<std::string>* notices) {
    if (stream.empty()) return {};
    const long long size = static_cast<long long>(bytesPerPixel) * columns * rows * frames;
    if (bytesPerPixel < 0 || columns < 0 || rows < 0 || frames < 0 || size > UINT32_MAX) RaiseRangeError();
    if (stream.size() < 32) NotJpeg();
    TByteBuffer output(static_cast<std::size_t>(size));
    DecodeLosslessJpegInto(stream, output.span(), notices);
    return output;
}

void DecodeLosslessJpegInto(std::span<const std::uint8_t> stream, std::span<std::uint8_t> output,
                            std::vector<std::string>* notices) {
    if (stream.empty()) return;
    if (stream.size() < 32) NotJpeg();
    TScan scan = ParseHeader(stream);
    if (!scan.Extractable || !scan.Lossless) {
        static constexpr const char* kNotice = "Unable to extract this file format.";
        if (notices)
            notices->push_back(kNotice);
        else
            Host().Notice(kNotice);
        return;
    }
    const int needed = std::max(scan.ScanComponents, 1);
    if (static_cast<int>(scan.Tables.size()) < needed) {
        if (scan.Tables.empty()) RaiseError("Lossless JPEG decoding error: no Huffman tables.");
        while (static_cast<int>(scan.Tables.size()) < std::min(needed, kMaxTables))
            scan.Tables.push_back(scan.Tables[0]);
    }
    for (THuffmanTable& table : scan.Tables) table.Build();

    const bool rgb = scan.Precision == 8 && scan.Components == 3;
    if (rgb && scan.Tables.size() < 3) {
        while (scan.Tables.size() < 3) scan.Tables.push_back(scan.Tables[0]);
    }
    if (scan.Precision != 8 && scan.RestartInterval > 0 && scan.Predictor > 3)
        RaiseError("Unusual 16-bit lossless JPEG with restart segments. Please contact the author:" +
                   std::to_string(scan.Predictor));

    const std::vector<std::uint8_t> data =
        CompactData(stream.subspan(std::min(scan.DataStart, stream.size())));
    TBitReader reader(data.data(), data.size() - kTailPadding);
    if (scan.Precision == 8)
        DecodeImage<std::uint8_t>(scan, reader, rgb ? 3 : 1, output);
    else
        DecodeImage<std::uint16_t>(scan, reader, 1, output);
}

} // namespace tarvicon
