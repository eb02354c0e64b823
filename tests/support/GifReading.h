#pragma once
// Reading GIF files back with giflib, for the tests of everything that writes them.

#include <cstdint>
#include <filesystem>
#include <gif_lib.h>
#include <memory>
#include <optional>
#include <vector>

namespace tarvicon::test {

struct TGifCloser {
    void operator()(GifFileType* gif) const;
};
using TGif = std::unique_ptr<GifFileType, TGifCloser>;

// The whole file read by DGifSlurp; a failure of the test and none when giflib cannot read it.
TGif ReadGif(const std::filesystem::path& path);

// The palette indices of one frame, rows top first.
std::vector<std::uint8_t> FrameIndices(const GifFileType& gif, int frame);

// The loop count of a "NETSCAPE2.0" application extension among the frame's extensions.
std::optional<int> LoopCount(const SavedImage& image);

} // namespace tarvicon::test
