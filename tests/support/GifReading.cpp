#include "support/GifReading.h"

#include <cstring>
#include <gtest/gtest.h>

namespace tarvicon::test {

void TGifCloser::operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
}

TGif ReadGif(const std::filesystem::path& path) {
    int error = 0;
    TGif gif(DGifOpenFileName(path.c_str(), &error));
    if (!gif || DGifSlurp(gif.get()) != GIF_OK) {
        ADD_FAILURE() << "giflib cannot read " << path << ": " << GifErrorString(gif ? gif->Error : error);
        return nullptr;
    }
    return gif;
}

std::vector<std::uint8_t> FrameIndices(const GifFileType& gif, int frame) {
    const SavedImage& image = gif.SavedImages[frame];
    return {image.RasterBits, image.RasterBits + image.ImageDesc.Width * image.ImageDesc.Height};
}

std::optional<int> LoopCount(const SavedImage& image) {
    for (int i = 0; i + 1 < image.ExtensionBlockCount; ++i) {
        const ExtensionBlock& block = image.ExtensionBlocks[i];
        const ExtensionBlock& data = image.ExtensionBlocks[i + 1];
        if (block.Function == APPLICATION_EXT_FUNC_CODE && block.ByteCount == 11 &&
            std::memcmp(block.Bytes, "NETSCAPE2.0", 11) == 0 && data.Function == CONTINUE_EXT_FUNC_CODE &&
            data.ByteCount == 3 && data.Bytes[0] == 1)
            return data.Bytes[1] | data.Bytes[2] << 8;
    }
    return std::nullopt;
}

} // namespace tarvicon::test
