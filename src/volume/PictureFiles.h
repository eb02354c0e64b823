#pragma once
// Writing finished pictures: JPEG through libjpeg (the encoder's default quality) and BMP as
// 32-bit rows, bottom row first.

#include "volume/Bitmap32.h"

#include <string>

namespace tarvicon {

void SaveJpeg(const TBitmap32& picture, const std::string& path);
void SaveBmp(const TBitmap32& picture, const std::string& path);
// By the extension, ".jpg" or ".bmp" in any case; another extension raises
// "Unknown picture file extension: PATH".
void SavePicture(const TBitmap32& picture, const std::string& path);

} // namespace tarvicon
