#pragma once
// The JPEG XL decoder behind DecodeJpegXlFrame (FrameCodecs.h). It lives in a module of its own,
// libtarvicon_jpegxl.so, loaded when the first JPEG XL frame is decoded: libjxl and the libraries
// behind it then cost a program's start nothing. Nothing raises across the module's edge: the
// entry gives the reason it failed, or an empty text.

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvicon {

// One frame to decode: the codestream, the image's layout, and the output of exactly
// Columns × Rows × Samples × BytesPerSample bytes.
struct TJpegXlFrame {
    const std::uint8_t* Stream = nullptr;
    std::size_t StreamBytes = 0;
    int Columns = 0;
    int Rows = 0;
    int Samples = 1;        // 1 or 3
    int BytesPerSample = 1; // 1 or 2
    std::uint8_t* Out = nullptr;
    std::size_t OutBytes = 0;
};

// The module's one entry: decodes the frame into its output, samples interleaved, 16-bit samples
// in host order with the values the codestream holds; the reason it failed in `reason`, else
// empty. Writes nothing outside the output.
using TDecodeJpegXl = void (*)(const TJpegXlFrame* frame, std::string* reason);
inline constexpr const char* kDecodeJpegXlName = "TarviconDecodeJpegXl";
inline constexpr const char* kJpegXlModuleName = "libtarvicon_jpegxl.so";

} // namespace tarvicon
