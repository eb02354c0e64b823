#pragma once
// The parameter editors' rules without pixels: a slider's positions, indices and values, the
// texts it shows, the painted gauge's handle, and the colour bar's rows, lines, hit test and
// drags. The widgets only feed them their state and measured text widths.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvicon {

// --- the slider ---

// What a slider's arithmetic depends on. Index 0 is at the bottom and means Min.
struct TSliderRange {
    double Min = 0;
    double Max = 100;
    std::int32_t Steps = 32765;
    bool Cyclic = false;
};

// The slider's own highest position (0 is at the top): Steps − 1, or 1 when Steps is below 2.
int SliderMaximum(std::int32_t steps);
// The large step: Steps div 32.
int LargeStep(std::int32_t steps);
// Index = Steps − position − 1.
int IndexOfPosition(std::int32_t steps, int position);
// The position SetIndex moves to: a cyclic range with Steps above 0 first wraps the index into
// 0 … Steps − 1; then Steps − index − 1, limited to 0 … SliderMaximum as the slider limits it.
int PositionOfIndex(const TSliderRange& range, int index);
// Min when Steps is at most 1; else Min + index × (Max − Min) / (Steps − 1), limited to the range
// between Min and Max whichever is larger.
double ValueOfIndex(const TSliderRange& range, int index);
// (value − Min) × (Steps − 1) / (Max − Min) rounded to the nearest index, ties to even; none when
// |Max − Min| is below 1e−20 or the result is not a finite number. Far-off values give indices far
// outside the range (kept within ±1e9) that the slider limits or a cyclic range wraps.
std::optional<int> IndexOfValue(const TSliderRange& range, double value);

// A value written with a number pattern: the digit placeholders after "." give the decimals ("0"
// whole, "0.0" one decimal; a "#" place is left out when it would end in a zero), halves away from
// zero, "." as separator; the empty pattern gives the general format (at most 15 significant
// digits).
std::string PatternText(double value, const std::string& pattern);
// The text a slider writes to its node: the value with the pattern; for a node that holds whole
// numbers (and reads any other text as 0) the value rounded to a whole number, halves away from
// zero.
std::string NodeValueText(double value, const std::string& pattern, bool wholeNumbers);
// The number in a typed value text; 0 when it is not a number.
double TypedValue(const std::string& text);

// The value text followed by a space and the units when there are units.
std::string ValueWithUnits(const std::string& valueText, const std::string& units);
// Caption + " = " + the value text with its units (the caption keeps its "&").
std::string ParamStatusText(const std::string& caption, const std::string& valueWithUnits);
// The caption as shown: without its accelerator mark ("&&" stands for one "&").
std::string CaptionWithoutAccelerator(const std::string& caption);
// The character after the first "&" of the caption, the first character when there is no "&";
// empty when there is no such character.
std::string AcceleratorLetter(const std::string& caption);
// The label's text: the caption when its shown width is below the label's width, else the
// accelerator letter.
std::string LabelShown(const std::string& caption, int captionWidth, int labelWidth);
// The value field's text: the value with its units when that is narrower than the field, else
// the value text alone.
std::string ValueFieldShown(const std::string& valueText, const std::string& valueWithUnits,
                            int valueWithUnitsWidth, int fieldWidth);

// --- the painted gauge (a vertical slider) ---

// The handle's size along the gauge is up to this many pixels.
inline constexpr int kGaugeHandleSize = 30;

// Where the handle lies along a gauge of a length in pixels.
struct TGaugeHandle {
    int Top = 0;
    int Size = 0;
};
// The handle of a position in 0 … maximum: its size is kGaugeHandleSize or the whole length when
// shorter; position 0 puts it at the top, maximum at the bottom, rounded in between.
TGaugeHandle GaugeHandleOf(int length, int maximum, int position);
// The position whose handle lies nearest to a handle top (dragging), limited to 0 … maximum.
int GaugePositionAt(int length, int maximum, int handleTop);
// A press on the track away from the handle moves a large step (at least 1) towards the press:
// the new position, limited to 0 … maximum; the position itself for a press on the handle.
int GaugeTrackPress(int length, int maximum, int position, int largeStep, int pressAt);

// --- the colour bar ---

// The colour mapping's raw values the bar paints and tests by (the last table's).
struct TColorBarScale {
    std::uint16_t ScaleLow = 0;
    std::uint16_t ScaleHigh = 0;
    std::uint16_t WindowLow = 0;
    std::uint16_t WindowHigh = 0;
    std::uint16_t PhaseSplit = 0;
};

// The raw value painted in row c counted from the bottom (drawn at y = height − c − 1):
// b + c × d div height with b = ScaleLow (0 when 65535), a = ScaleHigh (b + 1 when equal to b),
// d = a − b.
int ColorBarRowRaw(const TColorBarScale& scale, int row, int height);
// The y of the dotted lines, in order: WindowLow, PhaseSplit when it differs from WindowLow,
// WindowHigh; each height − height × (raw − b) div d − 1 (may lie outside the bar).
std::vector<int> ColorBarLineRows(const TColorBarScale& scale, int height);
// What a press at (x, y) drags: −1 none, 0 the window, 1 its low end, 2 its high end, 3 the phase
// split. Nothing within 6 pixels of either side; an end or the split when less than 7 pixels from
// its line (y(raw) = (1 − (raw − ScaleLow) / (ScaleHigh − ScaleLow)) × height truncated, 0 when
// the scale is empty); the window between the two ends' lines.
int ColorBarHitTest(const TColorBarScale& scale, int x, int y, int width, int height);
// The percent of a point of the bar: (1 − y / height) × 100 (0 for an empty bar).
double ColorBarPercent(int y, int height);

// The distances of the level's ends from the pressed point, kept while the window is dragged.
struct TColorBarOffsets {
    double Low = 0;
    double High = 0;
};
// Low and high percent minus the pressed point's percent.
TColorBarOffsets ColorBarOffsetsAt(double percent, double lowPercent, double highPercent);

// The level values a drag sets, in percent of their ranges; none where the drag leaves a value
// alone or the result is not a finite number.
struct TColorBarDrag {
    std::optional<double> Low;
    std::optional<double> High;
    std::optional<double> Phase;
};
// A movement of a drag to a point of percent p: mode 0 moves low and high with their offsets,
// 1 sets low to p, 2 high to p, 3 the phase to (p − low) / (high − low) × 100 (nothing when low
// and high are equal).
TColorBarDrag ColorBarDragTo(int mode, double percent, double lowPercent, double highPercent,
                             const TColorBarOffsets& offsets);

} // namespace tarvicon
