#pragma once
// The views' own cursors, drawn as SVG resources and chosen by number: 8 "CUR_NORMAL",
// 9 "CUR_HAND", 10 "CUR_ZOOM", 11 "CUR_BRIGHT", 12 "CUR_CONTRAST", 13 "CUR_SLICE", 14 "CUR_PARAM",
// 15 "CUR_WAIT", 16 "CUR_ANGLE".

#include <QCursor>
#include <string>

namespace tarvicon {

// The resource name of a cursor number; empty for numbers outside 8..16.
std::string ViewCursorName(int number);

// The cursor of a number as a 32 × 32 picture with its hot spot; the arrow for 0 and for numbers
// outside 8..16. UI thread only (it draws a pixmap).
QCursor ViewCursor(int number);

} // namespace tarvicon
