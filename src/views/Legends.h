#pragma once
// The legend of an exported picture as the window draws it: one line of "Arial" 16 at the top
// left corner, white on an opaque black box. Needs a QGuiApplication (the fonts live there).

#include "volume/Bitmap32.h"

#include <string>

namespace tarvicon {

// Writes the legend into the picture; an empty legend or picture leaves it as it is.
void DrawLegend(TBitmap32& picture, const std::string& legend);

} // namespace tarvicon
