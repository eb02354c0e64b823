#include "volume/GifFiles.h"

#include "util/Errors.h"
#include "util/PendingFiles.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <gif_lib.h>
#include <memory>
#include <new>
#include <string_view>

namespace tarvicon {

namespace {

constexpr std::uint32_t kTaken = 0x01000000;
constexpr int kFirstSlotBits = 10;
constexpr std::size_t kMostSlots = std::size_t(1) << 20;
// Fibonacci hashing: the top bits of the product spread neighbouring colours.
constexpr std::uint32_t kHash = 0x9E3779B1u;
// Colour cubes of 16 levels per channel: 4096 cells.
constexpr int kCellShift = 4;
constexpr int kCellSide = 1 << kCellShift;

int Red(std::uint32_t colour) {
    return int(colour >> 16 & 0xFF);
}
int Green(std::uint32_t colour) {
    return int(colour >> 8 & 0xFF);
}
int Blue(std::uint32_t colour) {
    return int(colour & 0xFF);
}

int Distance(std::uint32_t a, std::uint32_t b) {
    const int dr = Red(a) - Red(b), dg = Green(a) - Green(b), db = Blue(a) - Blue(b);
    return dr * dr + dg * dg + db * db;
}

// Squared distances of a value to the nearest and the farthest level of the cell's range.
int Nearer(int value, int low) {
    const int high = low + kCellSide - 1;
    const int d = value < low ? low - value : value > high ? value - high : 0;
    return d * d;
}
int Farther(int value, int low) {
    const int d = std::max(std::abs(value - low), std::abs(value - (low + kCellSide - 1)));
    return d * d;
}

std::string GifMessage(int error) {
    const char* text = GifErrorString(error);
    return text ? text : "GIF error " + std::to_string(error);
}

// giflib writes through this into memory; the file gets the bytes in one piece.
int AppendBytes(GifFileType* gif, const GifByteType* bytes, int length) {
    try {
        static_cast<std::string*>(gif->UserData)
            ->append(reinterpret_cast<const char*>(bytes), std::size_t(length));
        return length;
    } catch (const std::bad_alloc&) {
        return 0; // giflib reports a write failure
    }
}

struct TGifCloser {
    void operator()(GifFileType* gif) const {
        int ignored = 0;
        EGifCloseFile(gif, &ignored);
    }
};

} // namespace

TPaletteMapper::TPaletteMapper(const TGifPalette& palette)
    : palette_(palette), cells_(std::size_t(1) << (3 * (8 - kCellShift))),
      slots_(std::size_t(1) << kFirstSlotBits), shift_(32 - kFirstSlotBits) {
    for (std::size_t i = 0; i < palette_.size(); ++i) {
        const std::uint32_t colour = palette_[i] & 0xFFFFFF;
        const bool repeated = std::any_of(distinct_.begin(), distinct_.end(), [&](std::uint8_t earlier) {
            return (palette_[earlier] & 0xFFFFFF) == colour;
        });
        if (!repeated) distinct_.push_back(std::uint8_t(i));
    }
}

const std::vector<std::uint8_t>& TPaletteMapper::Candidates(std::size_t cell) {
    std::vector<std::uint8_t>& candidates = cells_[cell];
    if (!candidates.empty()) return candidates;
    const int red = int(cell >> (2 * (8 - kCellShift))) << kCellShift;
    const int green = int(cell >> (8 - kCellShift) & (kCellSide - 1)) << kCellShift;
    const int blue = int(cell & (kCellSide - 1)) << kCellShift;
    // An entry whose nearest point in the cell lies farther than some entry's farthest point
    // can be nearest to no colour of the cell; the others (ties too) are kept in index order.
    int bound = 1 << 30;
    for (const std::uint8_t i : distinct_) {
        const std::uint32_t entry = palette_[i];
        bound = std::min(bound, Farther(Red(entry), red) + Farther(Green(entry), green) +
                                    Farther(Blue(entry), blue));
    }
    for (const std::uint8_t i : distinct_) {
        const std::uint32_t entry = palette_[i];
        if (Nearer(Red(entry), red) + Nearer(Green(entry), green) + Nearer(Blue(entry), blue) <= bound)
            candidates.push_back(i);
    }
    return candidates;
}

std::uint8_t TPaletteMapper::Nearest(std::uint32_t colour) {
    const std::size_t cell = std::size_t(Red(colour) >> kCellShift) << (2 * (8 - kCellShift)) |
                             std::size_t(Green(colour) >> kCellShift) << (8 - kCellShift) |
                             std::size_t(Blue(colour) >> kCellShift);
    std::uint8_t best = 0;
    int bestDistance = 1 << 30;
    for (const std::uint8_t i : Candidates(cell)) {
        const int distance = Distance(colour, palette_[i]);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

std::uint8_t TPaletteMapper::IndexOf(std::uint32_t colour) {
    const std::uint32_t key = (colour & 0xFFFFFF) | kTaken;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = (key * kHash) >> shift_;; at = (at + 1) & mask) {
        const TSlot& slot = slots_[at];
        if (slot.Key == key) return slot.Index;
        if (slot.Key == 0) return Remember(key, at);
    }
}

std::uint8_t TPaletteMapper::Remember(std::uint32_t key, std::size_t at) {
    // At most half full, so the probe runs stay short. A fuller table moves into one twice as
    // large, up to 8 MiB; pictures of more colours than that holds start it over.
    if (2 * (used_ + 1) > slots_.size()) {
        std::vector<TSlot> old(slots_.size() < kMostSlots ? slots_.size() * 2 : slots_.size());
        old.swap(slots_);
        shift_ = 32 - std::countr_zero(slots_.size());
        const std::size_t mask = slots_.size() - 1;
        if (slots_.size() == old.size())
            used_ = 0;
        else
            for (const TSlot& kept : old) {
                if (kept.Key == 0) continue;
                std::size_t to = (kept.Key * kHash) >> shift_;
                while (slots_[to].Key != 0) to = (to + 1) & mask;
                slots_[to] = kept;
            }
        at = (key * kHash) >> shift_;
        while (slots_[at].Key != 0) at = (at + 1) & mask;
    }
    TSlot& slot = slots_[at];
    slot.Key = key;
    slot.Index = Nearest(key);
    ++used_;
    return slot.Index;
}

void TPaletteMapper::Map(const TBitmap32& picture, std::vector<std::uint8_t>& indices) {
    const std::size_t count = std::size_t(picture.Width()) * std::size_t(picture.Height());
    indices.resize(count);
    const std::uint32_t* pixels = picture.Bits();
    std::uint8_t* out = indices.data();
    // Neighbours often share their colour: the last one is checked before the table.
    std::uint32_t last = 0xFFFFFFFF; // no colour once alpha is masked off
    std::uint8_t lastIndex = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t colour = pixels[i] & 0xFFFFFF;
        if (colour != last) {
            last = colour;
            lastIndex = IndexOf(colour);
        }
        out[i] = lastIndex;
    }
}

TGifObject::TGifObject(const TGifPalette& palette, int delay)
    : mapper_(palette), palette_(palette), delay_(delay) {}

int TGifObject::AddFrame(const TBitmap32& picture) {
    if (picture.Width() <= 0 || picture.Height() <= 0) RaiseError("The picture is empty");
    if (frames_.empty()) {
        // The logical screen's size is a 16-bit field.
        if (picture.Width() > 0xFFFF || picture.Height() > 0xFFFF)
            RaiseError("The picture is too large for a GIF");
        width_ = picture.Width();
        height_ = picture.Height();
    } else if (picture.Width() != width_ || picture.Height() != height_) {
        RaiseError("GIF frames differ in size");
    }
    std::vector<std::uint8_t> indices;
    mapper_.Map(picture, indices);
    frames_.push_back(std::move(indices));
    return FrameCount() - 1;
}

void TGifObject::SaveToFile(const std::string& path) const {
    if (frames_.empty()) RaiseError("The picture is empty");
    // A name that cannot be created fails before the frames are encoded.
    TPendingFile file(path);
    std::string bytes;
    int error = 0;
    std::unique_ptr<GifFileType, TGifCloser> gif(EGifOpen(&bytes, AppendBytes, &error));
    if (!gif) RaiseError("Cannot write file \"" + path + "\". " + GifMessage(error));
    const auto check = [&](int result) {
        if (result != GIF_OK) RaiseError("Cannot write file \"" + path + "\". " + GifMessage(gif->Error));
    };

    EGifSetGifVersion(gif.get(), true);
    GifColorType colours[256];
    for (std::size_t i = 0; i < 256; ++i)
        colours[i] = {GifByteType(Red(palette_[i])), GifByteType(Green(palette_[i])),
                      GifByteType(Blue(palette_[i]))};
    const std::unique_ptr<ColorMapObject, void (*)(ColorMapObject*)> map(GifMakeMapObject(256, colours),
                                                                         GifFreeMapObject);
    if (!map) RaiseError("Cannot write file \"" + path + "\". " + GifMessage(E_GIF_ERR_NOT_ENOUGH_MEM));
    check(EGifPutScreenDesc(gif.get(), width_, height_, 8, 0, map.get()));

    GraphicsControlBlock control{};
    control.DisposalMode = DISPOSAL_UNSPECIFIED;
    control.DelayTime = delay_;
    control.TransparentColor = NO_TRANSPARENT_COLOR;
    GifByteType controlBytes[4];
    const int controlLength = int(EGifGCBToExtension(&control, controlBytes));
    for (std::size_t f = 0; f < frames_.size(); ++f) {
        if (f == 0) {
            // Loop count 0: endless.
            static const GifByteType loop[] = {1, 0, 0};
            check(EGifPutExtensionLeader(gif.get(), APPLICATION_EXT_FUNC_CODE));
            check(EGifPutExtensionBlock(gif.get(), 11, "NETSCAPE2.0"));
            check(EGifPutExtensionBlock(gif.get(), sizeof loop, loop));
            check(EGifPutExtensionTrailer(gif.get()));
        }
        check(EGifPutExtension(gif.get(), GRAPHICS_EXT_FUNC_CODE, controlLength, controlBytes));
        check(EGifPutImageDesc(gif.get(), 0, 0, width_, height_, false, nullptr));
        // giflib takes non-const rows but only reads them.
        auto* row = const_cast<GifPixelType*>(frames_[f].data());
        for (int y = 0; y < height_; ++y, row += width_) check(EGifPutLine(gif.get(), row, width_));
    }
    // Closing writes the trailer.
    if (EGifCloseFile(gif.release(), &error) != GIF_OK)
        RaiseError("Cannot write file \"" + path + "\". " + GifMessage(error));
    file.Write(bytes);
    file.Commit();
}

} // namespace tarvicon
