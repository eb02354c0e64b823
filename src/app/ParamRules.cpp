#include "app/ParamRules.h"

#include "util/NumberTexts.h"
#include "util/Strings.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace tarvicon {

namespace {

// Far outside every slider's range, yet far from the int limits, so index arithmetic never
// overflows.
constexpr double kIndexLimit = 1e9;

int ClampToInt(long long value, int low, int high) {
    return static_cast<int>(std::clamp<long long>(value, low, high));
}

// The decimal places of a number pattern: the digit placeholders after its ".", "0" always
// written, "#" only when not a trailing zero.
struct TPatternDecimals {
    int Fixed = 0;
    int Optional = 0;
};

TPatternDecimals DecimalsOf(const std::string& pattern) {
    TPatternDecimals decimals;
    const std::size_t point = pattern.find('.');
    if (point == std::string::npos) return decimals;
    for (std::size_t i = point + 1; i < pattern.size(); ++i) {
        if (pattern[i] == '0')
            ++decimals.Fixed;
        else if (pattern[i] == '#')
            ++decimals.Optional;
        else
            break;
    }
    return decimals;
}

// The raw scale the bar paints: bottom b and span d, never empty.
struct TPaintScale {
    long long Bottom = 0;
    long long Span = 1;
};

TPaintScale PaintScaleOf(const TColorBarScale& scale) {
    const long long b = scale.ScaleLow == 65535 ? 0 : scale.ScaleLow;
    const long long a = scale.ScaleHigh == b ? b + 1 : scale.ScaleHigh;
    return {b, a - b};
}

} // namespace

int SliderMaximum(std::int32_t steps) {
    return steps < 2 ? 1 : steps - 1;
}

int LargeStep(std::int32_t steps) {
    return steps / 32;
}

int IndexOfPosition(std::int32_t steps, int position) {
    return ClampToInt(static_cast<long long>(steps) - position - 1, std::numeric_limits<int>::min(),
                      std::numeric_limits<int>::max());
}

int PositionOfIndex(const TSliderRange& range, int index) {
    long long i = index;
    if (range.Cyclic && range.Steps > 0) i = ((i % range.Steps) + range.Steps) % range.Steps;
    return ClampToInt(static_cast<long long>(range.Steps) - i - 1, 0, SliderMaximum(range.Steps));
}

double ValueOfIndex(const TSliderRange& range, int index) {
    if (range.Steps <= 1) return range.Min;
    const double value = range.Min + index * (range.Max - range.Min) / (range.Steps - 1);
    return std::clamp(value, std::min(range.Min, range.Max), std::max(range.Min, range.Max));
}

std::optional<int> IndexOfValue(const TSliderRange& range, double value) {
    if (!(std::abs(range.Max - range.Min) >= 1e-20)) return std::nullopt;
    const double index = std::nearbyint((value - range.Min) * (static_cast<double>(range.Steps) - 1) /
                                        (range.Max - range.Min));
    if (!std::isfinite(index)) return std::nullopt;
    return static_cast<int>(std::clamp(index, -kIndexLimit, kIndexLimit));
}

std::string PatternText(double value, const std::string& pattern) {
    if (pattern.empty()) return FormatReal(value);
    const TPatternDecimals decimals = DecimalsOf(pattern);
    std::string text = FormatFixed(value, decimals.Fixed + decimals.Optional);
    if (!std::isfinite(value)) return text;
    for (int dropped = 0; dropped < decimals.Optional && text.back() == '0'; ++dropped) text.pop_back();
    if (text.back() == '.') text.pop_back();
    return text;
}

std::string NodeValueText(double value, const std::string& pattern, bool wholeNumbers) {
    return PatternText(value, wholeNumbers ? "0" : pattern);
}

double TypedValue(const std::string& text) {
    return ParseReal(text).value_or(0.0);
}

std::string ValueWithUnits(const std::string& valueText, const std::string& units) {
    return units.empty() ? valueText : valueText + " " + units;
}

std::string ParamStatusText(const std::string& caption, const std::string& valueWithUnits) {
    return caption + " = " + valueWithUnits;
}

std::string CaptionWithoutAccelerator(const std::string& caption) {
    std::string shown;
    for (std::size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&' && ++i >= caption.size()) break;
        shown += caption[i];
    }
    return shown;
}

std::string AcceleratorLetter(const std::string& caption) {
    const std::size_t mark = caption.find('&');
    const std::size_t at = mark == std::string::npos ? 0 : mark + 1;
    return at < caption.size() ? caption.substr(at, 1) : std::string();
}

std::string LabelShown(const std::string& caption, int captionWidth, int labelWidth) {
    return captionWidth < labelWidth ? CaptionWithoutAccelerator(caption) : AcceleratorLetter(caption);
}

std::string ValueFieldShown(const std::string& valueText, const std::string& valueWithUnits,
                            int valueWithUnitsWidth, int fieldWidth) {
    return valueWithUnitsWidth < fieldWidth ? valueWithUnits : valueText;
}

TGaugeHandle GaugeHandleOf(int length, int maximum, int position) {
    const int size = std::clamp(length, 0, kGaugeHandleSize);
    const long long travel = length - size;
    if (maximum <= 0) return {0, size};
    const long long at = std::clamp(position, 0, maximum);
    return {static_cast<int>((travel * at * 2 + maximum) / (2LL * maximum)), size};
}

int GaugePositionAt(int length, int maximum, int handleTop) {
    const long long travel = length - std::clamp(length, 0, kGaugeHandleSize);
    if (maximum <= 0 || travel <= 0) return 0;
    const long long top = std::clamp<long long>(handleTop, 0, travel);
    return static_cast<int>((top * maximum * 2 + travel) / (2 * travel));
}

int GaugeTrackPress(int length, int maximum, int position, int largeStep, int pressAt) {
    const TGaugeHandle handle = GaugeHandleOf(length, maximum, position);
    const int step = std::max(largeStep, 1);
    long long moved = position;
    if (pressAt < handle.Top)
        moved -= step;
    else if (pressAt >= handle.Top + handle.Size)
        moved += step;
    return ClampToInt(moved, 0, std::max(maximum, 0));
}

int ColorBarRowRaw(const TColorBarScale& scale, int row, int height) {
    const TPaintScale paint = PaintScaleOf(scale);
    if (height <= 0) return static_cast<int>(paint.Bottom);
    return static_cast<int>(paint.Bottom + row * paint.Span / height);
}

std::vector<int> ColorBarLineRows(const TColorBarScale& scale, int height) {
    const TPaintScale paint = PaintScaleOf(scale);
    const auto lineY = [&](std::uint16_t raw) {
        return static_cast<int>(height - height * (raw - paint.Bottom) / paint.Span - 1);
    };
    std::vector<int> rows{lineY(scale.WindowLow)};
    if (scale.PhaseSplit != scale.WindowLow) rows.push_back(lineY(scale.PhaseSplit));
    rows.push_back(lineY(scale.WindowHigh));
    return rows;
}

int ColorBarHitTest(const TColorBarScale& scale, int x, int y, int width, int height) {
    if (x < 6 || x > width - 6) return -1;
    const auto lineY = [&](std::uint16_t raw) -> long long {
        if (scale.ScaleHigh == scale.ScaleLow) return 0;
        const double share = (double(raw) - scale.ScaleLow) / (double(scale.ScaleHigh) - scale.ScaleLow);
        return static_cast<long long>(std::trunc((1 - share) * height));
    };
    const auto near = [&](std::uint16_t raw) { return std::llabs(y - lineY(raw)) < 7; };
    if (near(scale.WindowLow)) return 1;
    if (near(scale.WindowHigh)) return 2;
    if (near(scale.PhaseSplit)) return 3;
    if (y >= lineY(std::min(scale.WindowLow, scale.WindowHigh))) return -1;
    if (y > lineY(std::max(scale.WindowLow, scale.WindowHigh))) return 0;
    return -1;
}

double ColorBarPercent(int y, int height) {
    if (height <= 0) return 0;
    return (1 - static_cast<double>(y) / height) * 100;
}

TColorBarOffsets ColorBarOffsetsAt(double percent, double lowPercent, double highPercent) {
    return {lowPercent - percent, highPercent - percent};
}

TColorBarDrag ColorBarDragTo(int mode, double percent, double lowPercent, double highPercent,
                             const TColorBarOffsets& offsets) {
    const auto finite = [](double value) -> std::optional<double> {
        if (std::isfinite(value)) return value;
        return std::nullopt;
    };
    TColorBarDrag drag;
    switch (mode) {
    case 0:
        drag.Low = finite(percent + offsets.Low);
        drag.High = finite(percent + offsets.High);
        break;
    case 1:
        drag.Low = finite(percent);
        break;
    case 2:
        drag.High = finite(percent);
        break;
    case 3:
        if (highPercent != lowPercent)
            drag.Phase = finite((percent - lowPercent) / (highPercent - lowPercent) * 100);
        break;
    default:
        break;
    }
    return drag;
}

} // namespace tarvicon
