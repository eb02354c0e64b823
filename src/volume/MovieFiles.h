#pragma once
// Videos of an animation through the FFmpeg libraries: H.264 in MP4 or VP9 in WebM, chosen by
// the file's extension. A video keeps every colour of the pictures (no palette).

#include "volume/Bitmap32.h"

#include <memory>
#include <string>

namespace tarvicon {

// True for names ending ".mp4" or ".webm" (any case).
bool IsMovieName(const std::string& path);

// Writes pictures of one size as the frames of a video. The file is written under a temporary
// name beside its own and gets its name only in Finish: a writer destroyed before (a cancel, an
// error) leaves no file behind, and an existing file of that name stays as it was.
class TMovieWriter {
public:
    // Raises "Unknown movie file extension: PATH", or the library's message when the encoder
    // or the file cannot be opened. Odd sizes are padded by one black column or row (the
    // encoders' colour subsampling needs even sizes).
    TMovieWriter(const std::string& path, int width, int height, int framesPerSecond);
    ~TMovieWriter();
    TMovieWriter(const TMovieWriter&) = delete;
    TMovieWriter& operator=(const TMovieWriter&) = delete;

    // Encodes the picture as the next frame; another size raises "Movie frames differ in size".
    void AddFrame(const TBitmap32& picture);
    int FrameCount() const;
    // Drains the encoder, writes the trailer and gives the file its name.
    void Finish();

private:
    struct TState;
    std::unique_ptr<TState> state_;
};

} // namespace tarvicon
