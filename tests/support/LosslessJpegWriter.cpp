#include "support/LosslessJpegWriter.h"

#include <cstdlib>
#include <stdexcept>

namespace tarvicon::test {

namespace {

struct TCode {
    std::uint32_t Bits = 0;
    int Length = 0;
};

std::vector<TCode> CodesOf(const THuffmanTableDef& definition) {
    std::vector<TCode> codes(17);
    std::uint32_t code = 0;
    std::size_t k = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int i = 0; i < definition.Counts[length - 1]; ++i, ++code, ++k)
            codes[definition.Symbols[k]] = {code, length};
        code <<= 1;
    }
    return codes;
}

class TBitWriter {
public:
    explicit TBitWriter(std::string& out) : out_(out) {}
    void Put(std::uint32_t bits, int length) {
        for (int i = length - 1; i >= 0; --i) {
            current_ = static_cast<std::uint8_t>(current_ << 1 | ((bits >> i) & 1));
            if (++filled_ == 8) Emit();
        }
    }
    void Flush() {
        while (filled_ != 0) Put(1, 1);
    }

private:
    void Emit() {
        out_ += static_cast<char>(current_);
        if (current_ == 0xFF) out_ += '\0';
        current_ = 0;
        filled_ = 0;
    }
    std::string& out_;
    std::uint8_t current_ = 0;
    int filled_ = 0;
};

void Word(std::string& out, int value) {
    out += static_cast<char>((value >> 8) & 0xFF);
    out += static_cast<char>(value & 0xFF);
}

int Predict(int predictor, int ra, int rb, int rc) {
    switch (predictor) {
    case 2:
        return rb;
    case 3:
        return rc;
    case 4:
        return ra + rb - rc;
    case 5:
        return ra + ((rb - rc) >> 1);
    case 6:
        return rb + ((ra - rc) >> 1);
    case 7:
        return (ra + rb) >> 1;
    default:
        return ra;
    }
}

} // namespace

THuffmanTableDef WideHuffmanTable() {
    return {{0, 1, 5, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0},
            {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
}

THuffmanTableDef SwappedHuffmanTable() {
    THuffmanTableDef definition = WideHuffmanTable();
    std::swap(definition.Symbols[0], definition.Symbols[1]);
    return definition;
}

std::string EncodeLosslessJpeg(const std::vector<std::uint16_t>& samples, int width, int height,
                               const TJpegOptions& o) {
    const int nc = o.Components;
    const int w = width * nc;
    const std::size_t n = std::size_t(w) * std::size_t(height);
    if (samples.size() != n) throw std::invalid_argument("sample count");
    const bool bytes = o.Precision == 8;
    const int modulus = bytes ? 256 : 65536;
    const int initial = 1 << (o.Precision - 1);

    std::string out = "\xFF\xD8";
    out += '\xFF';
    out += static_cast<char>(o.FrameMarker);
    Word(out, 8 + 3 * nc);
    out += static_cast<char>(o.Precision);
    Word(out, height);
    Word(out, width);
    out += static_cast<char>(nc);
    for (int c = 0; c < nc; ++c) out += {static_cast<char>(c + 1), '\x11', '\0'};

    const auto tableBytes = [](const THuffmanTableDef& definition, int id) {
        std::string t(1, static_cast<char>(id));
        for (int count : definition.Counts) t += static_cast<char>(count);
        for (int symbol : definition.Symbols) t += static_cast<char>(symbol);
        return t;
    };
    if (o.TablesInSeparateSegments) {
        for (std::size_t t = 0; t < o.Tables.size(); ++t) {
            const std::string body = tableBytes(o.Tables[t], static_cast<int>(t));
            out += "\xFF\xC4";
            Word(out, static_cast<int>(body.size()) + 2);
            out += body;
        }
    } else {
        std::string body;
        for (std::size_t t = 0; t < o.Tables.size(); ++t)
            body += tableBytes(o.Tables[t], static_cast<int>(t));
        out += "\xFF\xC4";
        Word(out, static_cast<int>(body.size()) + 2);
        out += body;
    }
    if (o.RestartInterval > 0) {
        out += "\xFF\xDD";
        Word(out, 4);
        Word(out, o.RestartInterval);
    }
    out += "\xFF\xDA";
    Word(out, 6 + 2 * nc);
    out += static_cast<char>(nc);
    for (int c = 0; c < nc; ++c) out += {static_cast<char>(c + 1), static_cast<char>(c << 4)};
    out += {static_cast<char>(o.Predictor), '\0', '\0'};

    // Which table codes which component; with separate segments only the last one counts.
    std::vector<std::vector<TCode>> codes;
    if (o.TablesInSeparateSegments)
        codes.assign(static_cast<std::size_t>(nc), CodesOf(o.Tables.back()));
    else
        for (int c = 0; c < nc; ++c)
            codes.push_back(CodesOf(o.Tables[std::min<std::size_t>(std::size_t(c), o.Tables.size() - 1)]));

    TBitWriter writer(out);
    const std::size_t interval = static_cast<std::size_t>(o.RestartInterval);
    int marker = 0;
    for (std::size_t p = 0; p < n; ++p) {
        const int row = static_cast<int>(p / std::size_t(w));
        const int i = static_cast<int>(p % std::size_t(w));
        const auto at = [&](int r, int col) {
            return int(samples[std::size_t(r) * std::size_t(w) + std::size_t(col)]);
        };
        int predicted;
        if (row == 0) {
            predicted = i < nc ? initial : at(0, i - nc);
        } else {
            const bool segmentStart = interval > 0 && p % interval == 0;
            if (segmentStart && nc == 1) {
                writer.Flush();
                out += '\xFF';
                out += static_cast<char>(0xD0 + (marker++ & 7));
            }
            if (segmentStart)
                predicted = p <= std::size_t(w) + 1 ? at(row - 1, i) : initial;
            else if (i < nc)
                predicted = at(row - 1, i);
            else
                predicted = Predict(o.Predictor, at(row, i - nc), at(row - 1, i), at(row - 1, i - nc));
        }
        int d = ((at(row, i) - predicted) % modulus + modulus) % modulus;
        if (d > modulus / 2) d -= modulus;
        const TCode* code;
        const auto& table = codes[std::size_t(nc == 1 ? 0 : i % nc)];
        if (d == 32768) {
            writer.Put(table[16].Bits, table[16].Length);
            continue;
        }
        int category = 0;
        for (int magnitude = std::abs(d); magnitude > 0; magnitude >>= 1) ++category;
        code = &table[std::size_t(category)];
        writer.Put(code->Bits, code->Length);
        if (category > 0)
            writer.Put(static_cast<std::uint32_t>(d > 0 ? d : d + (1 << category) - 1), category);
    }
    writer.Flush();
    out += "\xFF\xD9";
    return out;
}

} // namespace tarvicon::test
