#include "catalogue/AnimationFiles.h"

#include "util/Errors.h"
#include "volume/MovieFiles.h"

#include <algorithm>
#include <cstring>

namespace tarvicon {

namespace {

const TBitmap32& FrameOfSize(const TBitmap32& picture, int width, int height, TBitmap32& scratch) {
    if (picture.Width() == width && picture.Height() == height) return picture;
    scratch.SetSize(width, height);
    std::fill(scratch.Bits(), scratch.Bits() + std::size_t(width) * std::size_t(height), 0xFF000000u);
    const int columns = std::min(width, picture.Width());
    for (int y = 0; y < std::min(height, picture.Height()); ++y)
        std::memcpy(scratch.Bits() + std::size_t(y) * std::size_t(width),
                    picture.Bits() + std::size_t(y) * std::size_t(picture.Width()),
                    std::size_t(columns) * sizeof(std::uint32_t));
    return scratch;
}

} // namespace

TGifPalette GifPaletteOf(const TColorMapping& mapping) {
    const std::optional<TPalette> palette = mapping.CreatePalette(true);
    TGifPalette colours{};
    if (palette)
        for (std::size_t i = 0; i < colours.size(); ++i) {
            const TPaletteEntry& entry = (*palette)[i];
            colours[i] = std::uint32_t(entry.Red) << 16 | std::uint32_t(entry.Green) << 8 | entry.Blue;
        }
    return colours;
}

TAnimationWriter::TAnimationWriter(std::string path, const TGifPalette& palette, int framesPerSecond)
    : path_(std::move(path)), fps_(framesPerSecond) {
    if (!IsMovieName(path_)) gif_ = std::make_unique<TGifObject>(palette);
}

TAnimationWriter::~TAnimationWriter() = default;

void TAnimationWriter::AddFrame(const TBitmap32& picture) {
    if (picture.Width() <= 0 || picture.Height() <= 0) RaiseError("The picture is empty");
    if (width_ == 0) {
        width_ = picture.Width();
        height_ = picture.Height();
        if (!gif_) movie_ = std::make_unique<TMovieWriter>(path_, width_, height_, fps_);
    }
    const TBitmap32& frame = FrameOfSize(picture, width_, height_, scratch_);
    if (gif_)
        gif_->AddFrame(frame);
    else
        movie_->AddFrame(frame);
}

void TAnimationWriter::Save() {
    if (gif_)
        gif_->SaveToFile(path_);
    else if (movie_)
        movie_->Finish();
    else
        RaiseError("The picture is empty");
}

} // namespace tarvicon
