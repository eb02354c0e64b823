#pragma once
// The inner parts of the JPEG-LS bridge, for the bridge itself and its tests: the callbacks the
// codec calls, the reading of its information text and the program-wide library state.

#include "dicom/JpegLs.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tarvicon {

// The callbacks handed to the codec; user is the TJpegLsDecoder.
struct TJpegLsCallbacks {
    // Sets the bytes the read callback serves, from the start.
    static void SetInput(TJpegLsDecoder& decoder, std::span<const std::uint8_t> input);
    // Copies up to size of the bytes left into buffer; returns how many.
    static std::size_t Read(void* user, void* buffer, std::size_t size);
    // Appends the decoded bytes to the decoder's output.
    static int Write(void* user, const void* bytes, std::size_t size);
    // The codec's texts are not shown.
    static void Message(void* user, const char* text);
};

// The decoded size of the frame the codec's information text describes ("width=", "height=",
// "bits=", "components=" lines), or nothing when a line is missing.
std::optional<std::uint64_t> JpegLsFrameBytes(std::string_view info);

// The loaded library's handle, or nullptr before the first load.
void* JpegLsLibraryHandle();

// Number of live TJpegLsDecoder objects.
int JpegLsLiveDecoders();

} // namespace tarvicon
