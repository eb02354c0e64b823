#include "dicom/ElementReader.h"

#include "dicom/Dicoms.h"
#include "dicom/Inflate.h"
#include "dicom/TagDictionary.h"
#include "dicom/TransferSyntaxes.h"
#include "util/Errors.h"
#include "util/Strings.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

namespace tarvicon {

namespace {

constexpr std::uint32_t kUndefinedLength = 0xFFFFFFFF;
constexpr std::uint32_t kItemTag = 0xE000FFFE;              // (FFFE,E000)
constexpr std::uint32_t kItemDelimiterTag = 0xE00DFFFE;     // (FFFE,E00D)
constexpr std::uint32_t kSequenceDelimiterTag = 0xE0DDFFFE; // (FFFE,E0DD)
constexpr std::size_t kLongestStoredValue = 1024;
constexpr std::uint32_t kLongestText = 0x1000000;
// A sequence delimitation item with length 0: where an undefined-length item ends.
constexpr std::string_view kDelimitationPattern{"\xFE\xFF\xDD\xE0\x00\x00\x00\x00", 8};
constexpr std::string_view kBigEndianDelimitationPattern{"\xFF\xFE\xE0\xDD\x00\x00\x00\x00", 8};
// The most a deflated data set may inflate to.
constexpr std::size_t kLargestInflatedDataSet = std::size_t(1) << 30;

enum class TLengthField { Short, Long };

enum class TValueKind { Text, UN, OB, Sequence, Pixel, Numbers, Tags };
enum class TNumber { U16, S16, U32, S32, F32, F64, None };

struct TVrInfo {
    TLengthField Length;
    TValueKind Kind;
    TNumber Number = TNumber::None;
};

// The VR table; nullptr for a pair that is no VR of it (the element is implicit).
const TVrInfo* LookupVr(char a, char b) {
    using enum TValueKind;
    static constexpr TVrInfo text{TLengthField::Short, Text};
    // The later VRs with the long length field (OD to UV); their values are kept as text.
    static constexpr TVrInfo longText{TLengthField::Long, Text};
    static constexpr TVrInfo un{TLengthField::Long, UN};
    static constexpr TVrInfo ob{TLengthField::Long, OB};
    static constexpr TVrInfo ow{TLengthField::Long, Pixel};
    static constexpr TVrInfo sq{TLengthField::Long, Sequence};
    static constexpr TVrInfo us{TLengthField::Short, Numbers, TNumber::U16};
    static constexpr TVrInfo ss{TLengthField::Short, Numbers, TNumber::S16};
    static constexpr TVrInfo ul{TLengthField::Short, Numbers, TNumber::U32};
    static constexpr TVrInfo sl{TLengthField::Short, Numbers, TNumber::S32};
    static constexpr TVrInfo fl{TLengthField::Short, Numbers, TNumber::F32};
    static constexpr TVrInfo fd{TLengthField::Short, Numbers, TNumber::F64};
    static constexpr TVrInfo at{TLengthField::Short, Tags};
    static constexpr struct {
        char Name[3];
        const TVrInfo* Info;
    } kTable[] = {
        {"AE", &text},     {"AS", &text},     {"CS", &text},     {"DA", &text},     {"DS", &text},
        {"DT", &text},     {"IS", &text},     {"LO", &text},     {"LT", &text},     {"PN", &text},
        {"SH", &text},     {"ST", &text},     {"TM", &text},     {"UI", &text},     {"UN", &un},
        {"OB", &ob},       {"OW", &ow},       {"SQ", &sq},       {"US", &us},       {"SS", &ss},
        {"UL", &ul},       {"SL", &sl},       {"FL", &fl},       {"FD", &fd},       {"AT", &at},
        {"OD", &longText}, {"OF", &longText}, {"OL", &longText}, {"OV", &longText}, {"SV", &longText},
        {"UC", &longText}, {"UR", &longText}, {"UT", &longText}, {"UV", &longText}};
    for (const auto& row : kTable)
        if (row.Name[0] == a && row.Name[1] == b) return row.Info;
    return nullptr;
}

void AppendHex16(std::string& out, std::uint16_t value) {
    static constexpr char digits[] = "0123456789ABCDEF";
    for (int shift = 12; shift >= 0; shift -= 4) out += digits[(value >> shift) & 0xF];
}

std::string TagText(std::uint16_t group, std::uint16_t element) {
    std::string text;
    text.reserve(9);
    AppendHex16(text, group);
    text += '.';
    AppendHex16(text, element);
    return text;
}

template <typename T>
void AppendDecimal(std::string& out, T value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// A float's text: truncated toward zero to 64 bits, low 32 bits as signed; 2147483647 when no
// such integer exists.
std::int32_t FloatToInt32(double value) {
    if (!std::isfinite(value) || value >= 9223372036854775808.0 || value < -9223372036854775808.0)
        return 2147483647;
    const auto whole = static_cast<std::int64_t>(value);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(whole)));
}

} // namespace

std::size_t TPixelPieces::Size() const {
    std::size_t size = 0;
    for (const auto piece : Pieces) size += piece.size();
    return size;
}

std::string TPixelPieces::Joined() const {
    std::string joined;
    joined.reserve(Size());
    for (const auto piece : Pieces) joined.append(piece);
    return joined;
}

void TPixelPieces::Replace(std::string_view bytes) {
    Pieces.assign(1, bytes);
    Encapsulated = false;
}

void TPixelPieces::Append(std::string_view bytes) {
    Pieces.push_back(bytes);
    Encapsulated = false;
}

long long WholeNumberOr(std::string_view text, long long fallback) {
    return ParseWholeNumber(text).value_or(fallback);
}

long long IntegerOr(std::string_view text, long long fallback) {
    return ParseInteger(text).value_or(fallback);
}

int BytesPerPixelOf(const std::vector<std::string>& elements) {
    const long long allocated = IntegerOr(LookupValue(elements, "Bits allocated"), 0);
    const long long stored = IntegerOr(LookupValue(elements, "Bits Stored"), 0);
    const long long highBit = IntegerOr(LookupValue(elements, "High Bit"), -1);
    if (allocated % 8 != 0 || stored != highBit + 1) RaiseError("Illegal pixel size 1");
    const long long samples = IntegerOr(LookupValue(elements, "Samples per pixel"), 1);
    return static_cast<int>(std::max(allocated / 8, samples));
}

TElementReader::TElementReader(std::string_view data, std::vector<std::string>& elements)
    : data_(data), elements_(elements) {}

std::uint16_t TElementReader::Read16() {
    if (Left() < 2) RaiseError("Input stream overflow 2");
    std::uint16_t value;
    std::memcpy(&value, data_.data() + pos_, 2);
    pos_ += 2;
    return bigEndian_ ? static_cast<std::uint16_t>(value << 8 | value >> 8) : value;
}

std::uint32_t TElementReader::Read32() {
    if (Left() < 4) RaiseError("Input stream overflow 4");
    std::uint32_t value;
    std::memcpy(&value, data_.data() + pos_, 4);
    pos_ += 4;
    return bigEndian_ ? __builtin_bswap32(value) : value;
}

std::uint32_t TElementReader::ReadTag() {
    const std::uint32_t group = Read16();
    return group | std::uint32_t{Read16()} << 16;
}

std::string_view TElementReader::ReadText(std::uint32_t length) {
    const std::size_t count = std::min<std::size_t>(length, Left());
    const std::string_view text = data_.substr(pos_, count);
    pos_ += count;
    return text;
}

void TElementReader::Walk() {
    const std::size_t marker = data_.find("DICM");
    if (marker == std::string_view::npos) RaiseError("Invalid DICOM file format 1");
    pos_ = marker + 4;
    while (Left() >= 6) {
        if (!dataSetStarted_) {
            std::uint16_t group;
            std::memcpy(&group, data_.data() + pos_, 2);
            if (group != 0x0002) StartDataSet();
        }
        ReadElement();
    }
}

void TElementReader::StartDataSet() {
    dataSetStarted_ = true;
    const TTransferSyntax* syntax = FindTransferSyntax(LookupValue(elements_, "Transfer syntax uid"));
    if (!syntax) return;
    if (syntax->Encoding == TDataSetEncoding::BigEndian) {
        bigEndian_ = true;
    } else if (syntax->Encoding == TDataSetEncoding::Deflated) {
        inflated_ = InflateRaw(data_.substr(pos_), kLargestInflatedDataSet);
        data_ = inflated_;
        pos_ = 0;
    }
}

void TElementReader::AddLine(std::string_view value) {
    AddLine(value, value.size());
}

void TElementReader::AddLine(std::string_view value, std::size_t size) {
    std::string line = key_;
    line += '=';
    if (size > kLongestStoredValue) {
        line += '<';
        AppendDecimal(line, size);
        line += "bytes>";
    } else {
        line += Trim(value);
    }
    elements_.push_back(std::move(line));
}

void TElementReader::ReadElement() {
    const std::uint16_t group = Read16();
    const std::uint16_t element = Read16();
    if (group == 0xFFFE) {
        const std::uint32_t length = Read32();
        if (length != kUndefinedLength) pos_ += std::min<std::size_t>(length, Left());
        return;
    }
    group_ = group;
    element_ = element;
    key_ = TagText(group, element);
    const char vrA = data_[pos_];
    const char vrB = data_[pos_ + 1];
    const std::uint16_t vrAsLength = Read16();
    const TVrInfo* vr = LookupVr(vrA, vrB);
    if (const TTagEntry* tag = FindTag(group, element)) {
        key_ = std::string(tag->Name);
        if (!vr) {
            ReadImplicit(tag->Rule, vrAsLength);
            return;
        }
    } else if (!vr) {
        ReadImplicit(TReadRule::None, vrAsLength);
        return;
    }

    std::uint32_t length;
    if (vr->Length == TLengthField::Long) {
        Read16(); // reserved
        length = Read32();
    } else {
        length = Read16();
    }

    switch (vr->Kind) {
    case TValueKind::UN:
        // A value of unknown VR and undefined length can only be a sequence.
        if (length == kUndefinedLength && group != 0x7FE0) {
            StoreOwnedValue(ReadSequence(length));
            return;
        }
        ReadTextValue(length);
        return;
    case TValueKind::OB:
        if (group == 0x7FE0 && length == kUndefinedLength) {
            ReadPixelData(length, TPixelVr::OB);
            return;
        }
        [[fallthrough]];
    case TValueKind::Text:
        ReadTextValue(length);
        return;
    case TValueKind::Sequence:
        StoreOwnedValue(ReadSequence(length));
        return;
    case TValueKind::Pixel:
        ReadPixelData(length, TPixelVr::OW);
        return;
    case TValueKind::Numbers:
        StoreOwnedValue(ReadNumbers(static_cast<int>(vr->Number), length));
        return;
    case TValueKind::Tags:
        StoreOwnedValue(ReadTags(length));
        return;
    }
}

void TElementReader::ReadImplicit(TReadRule rule, std::uint16_t firstHalf) {
    // The candidate VR was the first half of the 32-bit length; the next two bytes are the other.
    const std::uint32_t secondHalf = Read16();
    const std::uint32_t length =
        bigEndian_ ? std::uint32_t{firstHalf} << 16 | secondHalf : firstHalf | secondHalf << 16;
    switch (rule) {
    case TReadRule::US: {
        std::string value;
        AppendDecimal(value, Read16());
        StoreOwnedValue(std::move(value));
        return;
    }
    case TReadRule::Pixel:
        ReadPixelData(static_cast<std::uint32_t>(std::min<std::size_t>(Left(), kUndefinedLength - 1)),
                      TPixelVr::Implicit);
        return;
    case TReadRule::None:
        if (length == kUndefinedLength)
            StoreOwnedValue(ReadSequence(length));
        else
            ReadTextValue(length);
        return;
    }
}

void TElementReader::ReadTextValue(std::uint32_t length) {
    if (length >= kLongestText) RaiseError("Item size out of mind");
    const std::string_view value = ReadText(length);
    if (group_ == 0x7FE0 && element_ == 0x0001) extendedOffsets_ = value;
    StoreValue(value);
}

void TElementReader::StoreValue(std::string_view value) {
    AddLine(value);
    // Pixel data stored as OB with a defined length arrives here as text.
    if (key_ == "Pixel data" && pixels_.Empty()) pixels_.Replace(value);
}

void TElementReader::StoreOwnedValue(std::string value) {
    AddLine(value);
    if (key_ == "Pixel data" && pixels_.Empty() && !value.empty()) {
        ownedValues_.push_back(std::move(value));
        pixels_.Replace(ownedValues_.back());
    }
}

std::string TElementReader::ReadNumbers(int number, std::uint32_t length) {
    const auto kind = static_cast<TNumber>(number);
    const std::uint32_t itemSize = kind == TNumber::U16 || kind == TNumber::S16 ? 2
                                   : kind == TNumber::F64                       ? 8
                                                                                : 4;
    if (length % itemSize != 0) RaiseError("Invalid item size");
    std::string value;
    for (std::uint32_t i = 0; i < length / itemSize; ++i) {
        if (i > 0) value += '|';
        switch (kind) {
        case TNumber::U16:
            AppendDecimal(value, Read16());
            break;
        case TNumber::S16:
            AppendDecimal(value, static_cast<std::int16_t>(Read16()));
            break;
        case TNumber::U32:
            AppendDecimal(value, Read32());
            break;
        case TNumber::S32:
            AppendDecimal(value, static_cast<std::int32_t>(Read32()));
            break;
        case TNumber::F32: {
            const std::uint32_t bits = Read32();
            float number32;
            std::memcpy(&number32, &bits, 4);
            AppendDecimal(value, FloatToInt32(number32));
            break;
        }
        case TNumber::F64: {
            if (Left() < 8) RaiseError("Input stream overflow 4a");
            std::uint64_t bits;
            std::memcpy(&bits, data_.data() + pos_, 8);
            pos_ += 8;
            if (bigEndian_) bits = __builtin_bswap64(bits);
            double number64;
            std::memcpy(&number64, &bits, 8);
            AppendDecimal(value, FloatToInt32(number64));
            break;
        }
        case TNumber::None:
            break;
        }
    }
    return value;
}

std::string TElementReader::ReadTags(std::uint32_t length) {
    if (length % 4 != 0) RaiseError("Invalid item size");
    std::string value;
    for (std::uint32_t i = 0; i < length / 4; ++i) {
        const std::uint16_t group = Read16();
        const std::uint16_t element = Read16();
        if (i > 0) value += '|';
        value += TagText(group, element);
    }
    return value;
}

std::string_view TElementReader::UndefinedItem() {
    const std::size_t end =
        data_.find(bigEndian_ ? kBigEndianDelimitationPattern : kDelimitationPattern, pos_);
    if (end == std::string_view::npos) return {};
    const std::string_view item = data_.substr(pos_, end - pos_);
    pos_ = end;
    return item;
}

std::string TElementReader::ReadSequence(std::uint32_t length) {
    std::string value;
    const std::size_t end =
        length == kUndefinedLength ? data_.size() : pos_ + std::min<std::size_t>(length, Left());
    while (pos_ + 4 <= end) {
        const std::uint32_t tag = ReadTag();
        if (tag == kItemTag) {
            if (!value.empty()) value += "\r\n";
            const std::uint32_t itemLength = Read32();
            const std::string_view item =
                itemLength == kUndefinedLength ? UndefinedItem() : ReadText(itemLength);
            value.append(item.substr(0, item.find('\0')));
        } else if (tag == kSequenceDelimiterTag) {
            if (Read32() != 0) RaiseError("Invalid item size");
            // The sequence goes on only where another item's group FFFE follows.
            const std::string_view group =
                bigEndian_ ? std::string_view("\xFF\xFE", 2) : std::string_view("\xFE\xFF", 2);
            if (data_.substr(pos_, 2) != group) break;
        } else if (tag == kItemDelimiterTag) {
            if (Read32() != 0) RaiseError("Invalid item size");
        } else {
            break;
        }
    }
    return value;
}

void TElementReader::ReadPixelData(std::uint32_t length, TPixelVr vr) {
    if (vr != TPixelVr::Implicit) frameCountSeen_ = WholeNumberOr(LookupValue(elements_, "0028.0008"), 1);
    if (length == kUndefinedLength || (length == 0 && vr != TPixelVr::Implicit)) {
        ReadEncapsulated();
        return;
    }

    long long expected = 0;
    if (vr != TPixelVr::Implicit) {
        const long long columns = WholeNumberOr(LookupValue(elements_, "columns"), 0);
        const long long rows = WholeNumberOr(LookupValue(elements_, "rows"), 0);
        if (vr == TPixelVr::OW && (columns == 0 || rows == 0)) RaiseError("Invalid image size 1");
        const long long bytesPerPixel = BytesPerPixelOf(elements_);
        const long long frames = *frameCountSeen_;
        // A factor out of its range fails the read at its end; until then the size is not needed.
        const auto within = [](long long value, long long high) { return value >= 0 && value <= high; };
        if (within(columns, 65535) && within(rows, 65535) && within(bytesPerPixel, 4) &&
            within(frames, 65535))
            expected = columns * rows * bytesPerPixel * frames;
    }
    const std::string_view bytes = ReadText(length);
    if (static_cast<long long>(bytes.size()) < expected)
        pixels_.Append(bytes);
    else
        pixels_.Replace(bytes);
    AddLine(bytes);
}

void TElementReader::ReadEncapsulated() {
    TPixelPieces items;
    items.Encapsulated = true;
    while (Left() >= 8) {
        const std::uint32_t tag = ReadTag();
        if (tag == kItemTag) {
            const std::uint32_t length = Read32();
            items.Pieces.push_back(length == kUndefinedLength ? UndefinedItem() : ReadText(length));
        } else if (tag == kSequenceDelimiterTag || tag == kItemDelimiterTag) {
            if (Read32() != 0) RaiseError("Invalid item size");
            break;
        } else {
            // Not part of the pixel data: leave the tag to the next element.
            pos_ -= 4;
            break;
        }
    }
    pixels_ = std::move(items);
    const std::size_t size = pixels_.Size();
    // The items are joined only for a line short enough to keep them.
    AddLine(size > kLongestStoredValue ? std::string() : pixels_.Joined(), size);
}

} // namespace tarvicon
