#pragma once
// The element walk of the DICOM reader: turns the bytes after "DICM" into element lines and
// gathers the pixel data. Internal to the reader; TDicomFile is the public face.

#include "dicom/TagDictionary.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvicon {

// The pixel data as the walk found it: pieces of the input, in order. For encapsulated data
// each piece is one item's content, the basic offset table first.
struct TPixelPieces {
    std::vector<std::string_view> Pieces;
    bool Encapsulated = false;

    std::size_t Size() const;
    bool Empty() const { return Size() == 0; }
    std::string Joined() const;
    void Replace(std::string_view bytes);
    void Append(std::string_view bytes);
};

class TElementReader {
public:
    // data: the whole file; elements: the list the lines are appended to (read as it grows).
    TElementReader(std::string_view data, std::vector<std::string>& elements);

    // Finds "DICM" and reads every element; raises the reader's messages. After the meta group the
    // transfer syntax decides the walk: big endian, or the rest inflated first when deflated.
    void Walk();

    // The bytes walked: the input, or after a deflated meta group the inflated data set.
    std::string_view Data() const { return data_; }
    // Offset of the cursor from the start of Data().
    std::size_t Cursor() const { return pos_; }
    // Whether the data set is big endian (its pixel words are too).
    bool BigEndian() const { return bigEndian_; }
    // The value of the extended offset table (7FE0,0001); empty when the data set has none.
    std::string_view ExtendedOffsets() const { return extendedOffsets_; }
    // Key of the element being read, or last read; empty before the first.
    const std::string& Key() const { return key_; }
    // The pixel data gathered so far.
    TPixelPieces& Pixels() { return pixels_; }
    // The frame count looked up at the last explicit OW, or OB of undefined length in group
    // 7FE0; nothing when there was none.
    std::optional<long long> FrameCountSeen() const { return frameCountSeen_; }

private:
    enum class TPixelVr { Implicit, OB, OW };

    std::size_t Left() const { return data_.size() - pos_; }
    void StartDataSet();
    std::uint16_t Read16();
    std::uint32_t Read32();
    // A tag as group | element << 16, the order the item tags are written in little endian.
    std::uint32_t ReadTag();
    std::string_view ReadText(std::uint32_t length);

    void ReadElement();
    void ReadImplicit(TReadRule rule, std::uint16_t firstHalf);
    void ReadTextValue(std::uint32_t length);
    std::string ReadNumbers(int number, std::uint32_t length);
    std::string ReadTags(std::uint32_t length);
    std::string ReadSequence(std::uint32_t length);
    void ReadPixelData(std::uint32_t length, TPixelVr vr);
    void ReadEncapsulated();
    std::string_view UndefinedItem();
    void StoreValue(std::string_view value);
    void StoreOwnedValue(std::string value);
    void AddLine(std::string_view value);
    void AddLine(std::string_view value, std::size_t size);

    std::string_view data_;
    std::vector<std::string>& elements_;
    std::size_t pos_ = 0;
    bool dataSetStarted_ = false;
    bool bigEndian_ = false;
    std::string inflated_; // the data set of a deflated file
    std::uint16_t group_ = 0, element_ = 0;
    std::string_view extendedOffsets_;
    std::string key_;
    TPixelPieces pixels_;
    std::optional<long long> frameCountSeen_;
    std::deque<std::string> ownedValues_; // values that became pixel data but are not input bytes
};

// Integer of a value text, or fallback when the text is not a whole number that fits 32 bits.
long long IntegerOr(std::string_view text, long long fallback);

// Whole number of a value text, or fallback when the text is none; too many digits give the
// smallest or largest 64-bit number.
long long WholeNumberOr(std::string_view text, long long fallback);

// Bytes per pixel from the element list; raises "Illegal pixel size 1".
int BytesPerPixelOf(const std::vector<std::string>& elements);

} // namespace tarvicon
