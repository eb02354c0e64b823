#pragma once
// Animated GIF pictures: every frame mapped onto one global 256-colour palette (the colour
// mapping's), each shown for a fixed delay, looping without end.

#include "volume/Bitmap32.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvicon {

// 256 colours as 0x00RRGGBB.
using TGifPalette = std::array<std::uint32_t, 256>;

// Maps 32-bit colours onto a palette: the entry nearest in red, green and blue (squared
// distance, the lowest index on a tie); each colour found is remembered, so a picture of few
// colours costs a table look-up per pixel. Alpha plays no part.
class TPaletteMapper {
public:
    explicit TPaletteMapper(const TGifPalette& palette);
    // The palette index of one colour.
    std::uint8_t IndexOf(std::uint32_t colour);
    // One index per pixel, rows top first.
    void Map(const TBitmap32& picture, std::vector<std::uint8_t>& indices);

private:
    struct TSlot {
        std::uint32_t Key = 0; // colour | 0x01000000 when taken
        std::uint8_t Index = 0;
    };
    std::uint8_t Remember(std::uint32_t key, std::size_t at);
    std::uint8_t Nearest(std::uint32_t colour);
    const std::vector<std::uint8_t>& Candidates(std::size_t cell);
    TGifPalette palette_;
    // The lowest index of every distinct colour: a repeated entry never wins.
    std::vector<std::uint8_t> distinct_;
    // Per cube of 16 × 16 × 16 colours the entries that can be nearest to one of them, made
    // on first use (empty until then).
    std::vector<std::vector<std::uint8_t>> cells_;
    std::vector<TSlot> slots_;
    int shift_ = 0; // the hash keeps the top bits: 32 - log2(slots)
    std::size_t used_ = 0;
};

// An animated GIF held in memory: GIF89a, the palette as the global colour table, every frame
// full size with the given delay (hundredths of a second), the first frame carrying the
// "NETSCAPE2.0" loop extension with count 0 (endless).
class TGifObject {
public:
    explicit TGifObject(const TGifPalette& palette, int delay = 10);
    // Appends the picture mapped onto the palette; returns the frame's index. Every frame has
    // the first frame's size: another size raises "GIF frames differ in size".
    int AddFrame(const TBitmap32& picture);
    int FrameCount() const { return static_cast<int>(frames_.size()); }
    // Writes the file whole or not at all: a failure raises the writer's message and leaves
    // no file (an existing file of that name stays as it was).
    void SaveToFile(const std::string& path) const;

private:
    TPaletteMapper mapper_;
    TGifPalette palette_;
    int delay_;
    int width_ = 0;
    int height_ = 0;
    std::vector<std::vector<std::uint8_t>> frames_;
};

} // namespace tarvicon
