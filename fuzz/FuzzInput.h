#pragma once
// Reading fuzz parameters off the front of the input, so each target keeps one flat byte stream.

#include <cstddef>
#include <cstdint>

namespace tarvicon::fuzz {

class TInput {
public:
    TInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    // The next byte, 0 once the input is used up.
    std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    // The next byte mapped onto 0..n-1.
    int Pick(int n) { return Byte() % n; }
    std::uint16_t Word() { return std::uint16_t(Byte() | (Byte() << 8)); }
    // A value in lo..hi from two bytes.
    int Range(int lo, int hi) { return lo + int(Word() % unsigned(hi - lo + 1)); }

    const std::uint8_t* Rest() const { return data_ + pos_; }
    std::size_t RestSize() const { return size_ - pos_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// The shape of a compressed picture from the first four bytes: bytes per pixel 1..4, columns
// and rows 1..256, frames 1..4.
struct TPictureShape {
    int BytesPerPixel, Columns, Rows, Frames;
};

inline TPictureShape ReadPictureShape(TInput& input) {
    const int bytesPerPixel = 1 + input.Pick(4);
    const int columns = 1 + input.Byte();
    const int rows = 1 + input.Byte();
    const int frames = 1 + input.Pick(4);
    return {bytesPerPixel, columns, rows, frames};
}

} // namespace tarvicon::fuzz
