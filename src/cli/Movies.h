#pragma once
// tarvicon-cli render --movie: the rotation or the slice loop of the shown series written frame by
// frame as the viewer's export writes it, an endless GIF in the colouring's palette or a video.

#include "catalogue/DicomObjects.h"
#include "config/ColorMappings.h"
#include "volume/Bitmap32.h"
#include "volume/GifFiles.h"

#include <functional>
#include <optional>
#include <string>

namespace tarvicon::cli {

enum class TMovieKind {
    Rotate, // 72 frames, "detail/angle" at -180, -175, ..., 175
    Slices, // every slice along the path's depth axis, first to last
};

// "rotate" or "slices"; none for any other word.
std::optional<TMovieKind> MovieKindOf(const std::string& word);

// True for the names a movie is written to: ".gif", ".mp4" or ".webm" in any case.
bool IsMovieFileName(const std::string& path);

// The video's frames per second when none is asked for: the GIF's pace of 10 hundredths for
// the rotation, a cine loop's 25 for the slices.
int DefaultFramesPerSecond(TMovieKind kind);

// What the movie shows and how each frame is made.
struct TMovieFrames {
    int Count = 0;
    // Sets the view to frame index (the angle or the slice).
    std::function<void(int index)> Show;
    // The progress text of frame index: the angle with a degree sign, or "Slice N".
    std::function<std::string(int index)> Text;
};

// The rotation: "detail/angle" set as the viewer's export sets it, frame by frame.
TMovieFrames RotationFrames(TConfigNode& angle);

// The slice loop: the object's position moved along the path's depth axis, as the view's slice
// node moves it.
TMovieFrames SliceFrames(TDicomObject& object, const std::string& path);

// Makes every frame (render draws the picture of the view as it now stands) and writes the
// movie under the progress run "Saving NAME...": a GIF with the palette, delay 10 and endless
// looping, or by the extension an MP4 or WebM video at framesPerSecond. The file is written
// whole or not at all; false, and no file, when the progress was cancelled.
bool WriteMovie(const std::string& path, const TMovieFrames& frames,
                const std::function<void(TBitmap32& picture)>& render, const TGifPalette& palette,
                int framesPerSecond);

} // namespace tarvicon::cli
