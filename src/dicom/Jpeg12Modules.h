#pragma once
// The 12-bit JPEG decoder behind DecodeJpegFrame (FrameCodecs.h): DCMTK's IJG decoder built for
// 12-bit samples. It lives in a module of its own, libtarvicon_jpeg12.so, loaded when the first
// 12-bit frame is decoded: DCMTK's libraries and the XML and Unicode libraries behind them would
// otherwise add several milliseconds to every program's start. Nothing raises across the module's
// edge: the call gives the reason it failed, or an empty text.

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvicon {

// One frame for the module. The caller has checked the stream's frame header against the image:
// Out holds exactly its Width x Height x Components 16-bit samples, filled interleaved in host order.
struct TJpeg12Frame {
    const std::uint8_t* Stream = nullptr;
    std::size_t StreamSize = 0;
    std::uint8_t* Out = nullptr;
    std::size_t OutSize = 0;
    bool HoldsYCbCr = false; // three components in YCbCr, to be turned into RGB
    bool Signed = false;
};

// The module's one entry: decodes the frame; `reason` is left empty, or says why it failed.
using TDecodeJpeg12Frame = void (*)(const TJpeg12Frame& frame, std::string* reason);
inline constexpr const char* kDecodeJpeg12FrameName = "TarviconDecodeJpeg12Frame";
inline constexpr const char* kJpeg12ModuleName = "libtarvicon_jpeg12.so";

} // namespace tarvicon
