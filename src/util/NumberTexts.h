#pragma once
// Numbers as the editors and the status bar show them: fixed decimals, "." as separator.

#include <string>

namespace tarvicon {

// The value with exactly `decimals` digits after "." (0 gives a whole number, the "0" pattern;
// 1 gives the "0.0" pattern). The value is taken as its shortest round-trip decimal text (what
// a user would type: 0.05 is "0.05", not 0.05000000000000000277) and halves are rounded away
// from zero: 2.5 -> "3", -2.5 -> "-3", 0.25 -> "0.3", -0.05 -> "-0.1". A result of zero never
// carries a sign ("-0.04" -> "0.0"). Decimals are clamped to 0..17. NaN gives "NAN",
// infinities "INF" and "-INF".
std::string FormatFixed(double value, int decimals);

} // namespace tarvicon
