#pragma once
// A 32-bit picture: one 0xAARRGGBB colour per pixel (bytes B, G, R, A in memory), rows top
// first. The views hand its bits to the window system; the exporters write it to files.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarvicon {

class TBitmap32 {
public:
    TBitmap32() = default;
    TBitmap32(int width, int height) { SetSize(width, height); }

    int Width() const { return width_; }
    int Height() const { return height_; }
    // A new size discards the pixels: the picture is black and transparent afterwards.
    void SetWidth(int width) { SetSize(width, height_); }
    void SetHeight(int height) { SetSize(width_, height); }
    void SetSize(int width, int height);

    std::uint32_t* Bits() { return pixels_.data(); }
    const std::uint32_t* Bits() const { return pixels_.data(); }
    std::size_t ByteSize() const { return pixels_.size() * sizeof(std::uint32_t); }
    std::uint32_t Pixel(int x, int y) const {
        return pixels_[std::size_t(y) * std::size_t(width_) + std::size_t(x)];
    }

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<std::uint32_t> pixels_;
};

inline void TBitmap32::SetSize(int width, int height) {
    if (width < 0 || height < 0) width = height = 0;
    if (width == width_ && height == height_) return;
    width_ = width;
    height_ = height;
    pixels_.assign(std::size_t(width) * std::size_t(height), 0);
}

} // namespace tarvicon
