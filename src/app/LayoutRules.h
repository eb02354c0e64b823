#pragma once
// The main window's rules without pixels: the navigation column's sizes and visibility, the angle
// marker, the wheel's target and steps, the status bar's texts, the detail view's label and the
// Caps Lock switch to the overlay series. The window only feeds them its state.

#include <cstdint>
#include <string>

namespace tarvicon {

// Physical extents of the navigation pictures in micrometres (spacing × pixel count); a value of 0 or less
// counts as 10000.
struct TNaviExtents {
    std::int64_t CoronalWidth = 0, CoronalHeight = 0, SagittalWidth = 0, TransaxialHeight = 0;
};
// Client sizes of the coronal view, the upper and middle navigation panels and the transaxial view.
struct TNaviSizes {
    int CoronalWidth = 0;
    int UpperHeight = 0;
    int TransaxialWidth = 0;
    int MiddleHeight = 0;
};
// NaviPanelResize's arithmetic: available = UpperNaviPanel client width minus Splitter6 width. Products in 64
// bits, quotients truncated; UpperHeight at least 20, MiddleHeight at least 50.
TNaviSizes NaviPanelSizes(int available, const TNaviExtents& extents);
// FormResize: two fifths of the client height, at least 200.
int NaviPanelWidth(int clientHeight);
// The reaction to "detail/screensplit" value v: whether the navigation column is shown afterwards (v 0
// toggles, below 0 hides, else shows).
bool ScreensplitShows(int value, bool visibleNow);
// The value NaviPanelResize writes to "detail/screensplit": the width when shown, minus it when hidden.
int ScreensplitValue(int panelWidth, bool visible);
// The angle marker: angle + 180 brought into 0..360.
int MarkerAngle(int angle);
// A view shows the marker when its path's third letter equals the detail view's path's second letter
// (case-blind).
bool ViewShowsMarker(const std::string& detailPath, const std::string& viewPath);

// Wheel targets = cursor numbers.
inline constexpr int kWheelOutside = 0, kWheelSlice = 8, kWheelNone = 9, kWheelZoom = 10, kWheelCenter = 11,
                     kWheelWidth = 12, kWheelParameter = 14, kWheelAngle = 16;
// The mouse and keys at a wheel turn, in the detail view's client coordinates, and which of the
// detail view's parameters are enabled.
struct TWheelInput {
    bool InsideDetail = false;
    bool LeftButton = false;
    bool Alt = false;
    bool Ctrl = false;
    int X = 0, Y = 0, Width = 0, Height = 0;
    bool CenterEnabled = true, WidthEnabled = true, AngleEnabled = true;
};
// The wheel target by zone and modifier.
int WheelTarget(const TWheelInput& input);
// Small and large steps: 1 and 10, swapped with Shift.
struct TWheelSteps {
    int Small = 1;
    int Large = 10;
};
// The steps for a wheel turn with or without Shift.
TWheelSteps WheelSteps(bool shift);
// A navigation view's slice change for a wheel turn of sign s: −s, or −8·s with Shift.
int NaviWheelSlices(int sign, bool shift);

// Status panel 0: x + " : " + y + " : " + z + " = " + v + " = (" + s + ")" with s written "0.0" (FormatFixed
// from util/NumberTexts.h).
std::string VoxelText(int x, int y, int z, int value, double scaled);
// Status panel 2: micrometres divided by 1000, truncated: X + "mm : " + Y + "mm : " + Z + "mm".
std::string WorldText(std::int64_t xUm, std::int64_t yUm, std::int64_t zUm);
// Status panel 1: dx, dy = micrometres ÷ 1000 rounded (halves away from zero); d = √(dx² + dy²) rounded: dx +
// "mm : " + dy + "mm = " + d + "mm".
std::string OffsetText(double dxUm, double dyUm);
// The detail view's label: the caption without "&" followed by a line break (CR LF).
std::string LabelText(const std::string& caption);

// Caps Lock: what the idle pass does. SelectSerial 0 = select nothing new.
struct TCapsStep {
    std::int32_t SelectSerial = 0;
    std::int32_t CapsSeries = 0;
};
// On with an overlay series and nothing remembered: remember the selection, select the overlay.
// Off with something remembered: select it again and forget it. Otherwise nothing changes.
TCapsStep CapsLockStep(bool toggled, std::int32_t overlaySerial, std::int32_t capsSeries,
                       std::int32_t selectedSerial);

} // namespace tarvicon
