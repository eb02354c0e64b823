#include "app/LayoutRules.h"

#include "util/NumberTexts.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace tarvicon {

namespace {

// Wide enough that no product of an int and a 64-bit extent overflows, so absurd extents from a
// broken series give absurd but defined sizes.
__extension__ using TWide = __int128;

constexpr std::int64_t kDefaultExtent = 10000;

std::int64_t ExtentOrDefault(std::int64_t extent) {
    return extent > 0 ? extent : kDefaultExtent;
}

int ClampToInt(TWide value) {
    return static_cast<int>(
        std::clamp<TWide>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

std::string Text(std::int64_t value) {
    char buffer[24];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, written.ptr);
}

// Halves away from zero; NaN counts as 0 and the rest is kept far inside the integer range.
std::int64_t RoundedMillimetres(double micrometres) {
    if (std::isnan(micrometres)) return 0;
    return static_cast<std::int64_t>(std::round(std::clamp(micrometres / 1000.0, -1e15, 1e15)));
}

} // namespace

TNaviSizes NaviPanelSizes(int available, const TNaviExtents& extents) {
    const TWide cw = ExtentOrDefault(extents.CoronalWidth);
    const TWide ch = ExtentOrDefault(extents.CoronalHeight);
    const TWide sw = ExtentOrDefault(extents.SagittalWidth);
    const TWide th = ExtentOrDefault(extents.TransaxialHeight);

    TNaviSizes sizes;
    sizes.CoronalWidth = ClampToInt(std::max(available, 0) * cw / (cw + sw));
    sizes.UpperHeight = std::max(ClampToInt(sizes.CoronalWidth * ch / cw), 20);
    sizes.TransaxialWidth = sizes.CoronalWidth;
    sizes.MiddleHeight = std::max(ClampToInt(sizes.TransaxialWidth * th / cw), 50);
    return sizes;
}

int NaviPanelWidth(int clientHeight) {
    return std::max(static_cast<int>(static_cast<std::int64_t>(clientHeight) * 2 / 5), 200);
}

bool ScreensplitShows(int value, bool visibleNow) {
    // 0 stands for minus the width when shown and plus it when hidden: a toggle.
    if (value == 0) return !visibleNow;
    return value > 0;
}

int ScreensplitValue(int panelWidth, bool visible) {
    return visible ? panelWidth : -panelWidth;
}

int MarkerAngle(int angle) {
    std::int64_t a = static_cast<std::int64_t>(angle) + 180;
    // The same as adding or subtracting 360 until inside, so 360 stays 360 and 720 becomes 360.
    if (a > 360) a = (a - 1) % 360 + 1;
    if (a < 0) {
        a %= 360;
        if (a < 0) a += 360;
    }
    return static_cast<int>(a);
}

bool ViewShowsMarker(const std::string& detailPath, const std::string& viewPath) {
    // Path letters are case-blind: "rft" and "RFT" are the same path.
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    return detailPath.size() >= 2 && viewPath.size() >= 3 && upper(viewPath[2]) == upper(detailPath[1]);
}

int WheelTarget(const TWheelInput& input) {
    if (!input.InsideDetail) return kWheelOutside;
    if (input.LeftButton) return kWheelNone;
    if (input.Alt) return input.Ctrl ? kWheelWidth : kWheelCenter;
    if (input.Ctrl) return kWheelZoom;
    // The strips along the edges; a disabled strip falls through to the next one.
    const int w = input.Width, h = input.Height;
    if (input.X < w / 10 && input.CenterEnabled) return kWheelCenter;
    if (input.X > w - w / 10 && input.AngleEnabled) return kWheelParameter;
    if (input.Y < h / 10 && input.WidthEnabled) return kWheelWidth;
    if (input.Y > h - h / 10 && input.AngleEnabled) return kWheelAngle;
    return kWheelSlice;
}

TWheelSteps WheelSteps(bool shift) {
    return shift ? TWheelSteps{10, 1} : TWheelSteps{1, 10};
}

int NaviWheelSlices(int sign, bool shift) {
    return shift ? -8 * sign : -sign;
}

std::string VoxelText(int x, int y, int z, int value, double scaled) {
    return Text(x) + " : " + Text(y) + " : " + Text(z) + " = " + Text(value) + " = (" +
           FormatFixed(scaled, 1) + ")";
}

std::string WorldText(std::int64_t xUm, std::int64_t yUm, std::int64_t zUm) {
    return Text(xUm / 1000) + "mm : " + Text(yUm / 1000) + "mm : " + Text(zUm / 1000) + "mm";
}

std::string OffsetText(double dxUm, double dyUm) {
    const std::int64_t dx = RoundedMillimetres(dxUm);
    const std::int64_t dy = RoundedMillimetres(dyUm);
    const auto d =
        static_cast<std::int64_t>(std::round(std::hypot(static_cast<double>(dx), static_cast<double>(dy))));
    return Text(dx) + "mm : " + Text(dy) + "mm = " + Text(d) + "mm";
}

std::string LabelText(const std::string& caption) {
    std::string label;
    for (const char c : caption)
        if (c != '&') label += c;
    return label + "\r\n";
}

TCapsStep CapsLockStep(bool toggled, std::int32_t overlaySerial, std::int32_t capsSeries,
                       std::int32_t selectedSerial) {
    if (toggled && overlaySerial != 0 && capsSeries == 0) return {overlaySerial, selectedSerial};
    if (!toggled && capsSeries != 0) return {capsSeries, 0};
    return {0, capsSeries};
}

} // namespace tarvicon
