#include "volume/GifFiles.h"

#include "util/Errors.h"
#include "util/PendingFiles.h"

#include <cstring>
#include <gif_lib.h>

namespace tarvicon {

namespace {

constexpr std::uint32_t kTaken = 0x01000000;

std::size_t SlotOf(std::uint32_t key, std::size_t mask) {
    return (key * 0x9E3779B1u >> 7) & mask;
}

std::string GifMessage(int error) {
    const char* text = GifErrorString(error);
    return text ? text : "GIF error " + std::to_string(error);
}

} // namespace

TPaletteMapper::TPaletteMapper(const TGifPalette& palette) : palette_(palette), slots_(1 << 16) {}

std::uint8_t TPaletteMapper::Nearest(std::uint32_t colour) const {
    const int r = int(colour >> 16 & 0xFF), g = int(colour >> 8 & 0xFF), b = int(colour & 0xFF);
    int best = 0;
    int bestDistance = 1 << 30;
    for (int i = 0; i < 256; ++i) {
        const std::uint32_t entry = palette_[std::size_t(i)];
        const int dr = r - int(entry >> 16 & 0xFF), dg = g - int(entry >> 8 & 0xFF),
                  db = b - int(entry & 0xFF);
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
            if (distance == 0) break;
        }
    }
    return std::uint8_t(best);
}

std::uint8_t TPaletteMapper::IndexOf(std::uint32_t colour) {
    const std::uint32_t key = (colour & 0xFFFFFF) | kTaken;
    std::size_t mask = slots_.size() - 1;
    for (std::size_t at = SlotOf(key, mask);; at = (at + 1) & mask) {
        TSlot& slot = slots_[at];
        if (slot.Key == key) return slot.Index;
        if (slot.Key != 0) continue;
        // A table at most half full keeps the probes short; a fuller one starts over, larger.
        if (2 * (used_ + 1) > slots_.size()) {
            std::vector<TSlot> old(slots_.size() * 2);
            old.swap(slots_);
            mask = slots_.size() - 1;
            for (const TSlot& kept : old)
                if (kept.Key != 0) {
                    std::size_t to = SlotOf(kept.Key, mask);
                    while (slots_[to].Key != 0) to = (to + 1) & mask;
                    slots_[to] = kept;
                }
            return IndexOf(colour);
        }
        slot.Key = key;
        slot.Index = Nearest(colour);
        ++used_;
        return slot.Index;
    }
}

void TPaletteMapper::Map(const TBitmap32& picture, std::vector<std::uint8_t>& indices) {
    const std::size_t count = std::size_t(picture.Width()) * std::size_t(picture.Height());
    indices.resize(count);
    const std::uint32_t* pixels = picture.Bits();
    std::uint32_t last = 0;
    std::uint8_t lastIndex = 0;
    bool any = false;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t colour = pixels[i] & 0xFFFFFF;
        if (!any || colour != last) {
            last = colour;
            lastIndex = IndexOf(colour);
            any = true;
        }
        indices[i] = lastIndex;
    }
}

TGifObject::TGifObject(const TGifPalette& palette, int delay)
    : mapper_(palette), palette_(palette), delay_(delay) {}

int TGifObject::AddFrame(const TBitmap32& picture) {
    if (picture.Width() <= 0 || picture.Height() <= 0) RaiseError("The picture is empty");
    if (frames_.empty()) {
        width_ = picture.Width();
        height_ = picture.Height();
    } else if (picture.Width() != width_ || picture.Height() != height_) {
        RaiseError("GIF frames differ in size");
    }
    frames_.emplace_back();
    mapper_.Map(picture, frames_.back());
    return FrameCount() - 1;
}

void TGifObject::SaveToFile(const std::string& path) const {
    TPendingFile pending(path);
    int error = 0;
    GifFileType* gif = EGifOpenFileName(pending.TemporaryPath().c_str(), false, &error);
    if (!gif) RaiseError("Cannot create file \"" + path + "\". " + GifMessage(error));
    struct TClose {
        GifFileType*& gif;
        ~TClose() {
            int ignored = 0;
            if (gif) EGifCloseFile(gif, &ignored);
        }
    } const close{gif};
    const auto check = [&](int result) {
        if (result != GIF_OK) RaiseError("Cannot write file \"" + path + "\". " + GifMessage(gif->Error));
    };

    GifColorType colours[256];
    for (std::size_t i = 0; i < 256; ++i)
        colours[i] = {GifByteType(palette_[i] >> 16), GifByteType(palette_[i] >> 8),
                      GifByteType(palette_[i])};
    ColorMapObject* map = GifMakeMapObject(256, colours);
    if (!map) RaiseError("Cannot write file \"" + path + "\". Out of memory");
    EGifSetGifVersion(gif, true);
    const int screen = EGifPutScreenDesc(gif, width_, height_, 8, 0, map);
    GifFreeMapObject(map);
    check(screen);

    for (std::size_t f = 0; f < frames_.size(); ++f) {
        if (f == 0) {
            static const GifByteType loop[] = {1, 0, 0};
            check(EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE));
            check(EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0"));
            check(EGifPutExtensionBlock(gif, sizeof loop, loop));
            check(EGifPutExtensionTrailer(gif));
        }
        GraphicsControlBlock control{};
        control.DisposalMode = DISPOSAL_UNSPECIFIED;
        control.DelayTime = delay_;
        control.TransparentColor = NO_TRANSPARENT_COLOR;
        GifByteType bytes[4];
        const std::size_t length = EGifGCBToExtension(&control, bytes);
        check(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(length), bytes));
        check(EGifPutImageDesc(gif, 0, 0, width_, height_, false, nullptr));
        const std::vector<std::uint8_t>& pixels = frames_[f];
        for (int y = 0; y < height_; ++y)
            check(EGifPutLine(gif,
                              const_cast<GifPixelType*>(pixels.data() + std::size_t(y) * std::size_t(width_)),
                              width_));
    }
    GifFileType* closing = gif;
    gif = nullptr;
    if (EGifCloseFile(closing, &error) != GIF_OK)
        RaiseError("Cannot write file \"" + path + "\". " + GifMessage(error));
    pending.Commit();
}

} // namespace tarvicon
