#pragma once
// The video encoder behind TMovieWriter (MovieFiles.h). It lives in a module of its own,
// libtarvicon_movies.so, loaded when the first video is written: the FFmpeg libraries and the
// many codec libraries behind them then cost a program's start nothing (they were most of
// tarvicon-cli's start-up time). Nothing raises across the module's edge: every call gives the
// reason it failed, or an empty text.

#include <cstdint>
#include <string>

namespace tarvicon {

class IMovieEncoder {
public:
    virtual ~IMovieEncoder() = default;
    // Encodes one frame of the encoder's (even) size, BGRA pixels `stride` bytes apart.
    virtual std::string AddFrame(const std::uint32_t* pixels, int stride) = 0;
    // Drains the encoder, writes the trailer and closes the file.
    virtual std::string Finish() = 0;
};

// The module's one entry: an encoder writing H.264 in MP4 (mp4) or VP9 in WebM to `path`, frames
// of width x height (both even) at framesPerSecond; null with the reason when it cannot start.
using TOpenMovieEncoder = IMovieEncoder* (*)(const char* path, bool mp4, int width, int height,
                                             int framesPerSecond, std::string* reason);
inline constexpr const char* kOpenMovieEncoderName = "TarviconOpenMovieEncoder";
inline constexpr const char* kMovieModuleName = "libtarvicon_movies.so";

} // namespace tarvicon
