#pragma once
// Writing an animation of a view frame by frame, as the export and tarvicon-cli render --movie
// do: an endless GIF in the colouring's palette, or by the name's extension an MP4 or WebM video.

#include "config/ColorMappings.h"
#include "volume/Bitmap32.h"
#include "volume/GifFiles.h"

#include <memory>
#include <string>

namespace tarvicon {

class TMovieWriter;

// The mapping's 256-colour palette (forced: the ramp without a colour table) as 0x00RRGGBB.
TGifPalette GifPaletteOf(const TColorMapping& mapping);

// The frames of one animation. A GIF is held until Save; a video is encoded as the frames
// come. Every frame takes the first frame's size: a picture that grew or shrank (an oblique
// cut changes its extents with the angle) is cut or padded with black at its right and bottom.
// Nothing is written before Save, and a writer given up before it leaves no file.
class TAnimationWriter {
public:
    TAnimationWriter(std::string path, const TGifPalette& palette, int framesPerSecond);
    ~TAnimationWriter();
    TAnimationWriter(const TAnimationWriter&) = delete;
    TAnimationWriter& operator=(const TAnimationWriter&) = delete;

    // Raises "The picture is empty" for a picture without pixels.
    void AddFrame(const TBitmap32& picture);
    // Writes the GIF or finishes the video; raises the writer's message.
    void Save();

private:
    std::string path_;
    int fps_;
    int width_ = 0;
    int height_ = 0;
    TBitmap32 scratch_;
    std::unique_ptr<TGifObject> gif_;
    std::unique_ptr<TMovieWriter> movie_;
};

} // namespace tarvicon
