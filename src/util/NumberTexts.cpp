#include "util/NumberTexts.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace tarvicon {

namespace {

// Adds one to a string of decimal digits; "" counts as 0.
void Increment(std::string& digits) {
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return;
        }
        *it = '0';
    }
    digits.insert(digits.begin(), '1');
}

} // namespace

std::string FormatFixed(double value, int decimals) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    decimals = std::clamp(decimals, 0, 17);

    // Shortest round-trip digits, so the value rounds as the decimal a user reads, not as the
    // binary fraction behind it (0.15 is 0.1499999999999999944 in binary but rounds to "0.2").
    char buffer[64];
    const auto written =
        std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific);
    const std::string_view text(buffer, static_cast<std::size_t>(written.ptr - buffer));
    const std::size_t e = text.find('e');
    std::string digits;
    for (const char c : text.substr(0, e))
        if (c != '.') digits += c;
    int exponent = 0;
    const std::string_view exponentText = text.substr(e + 1);
    const char* first = exponentText.data() + (exponentText.front() == '+' ? 1 : 0);
    std::from_chars(first, exponentText.data() + exponentText.size(), exponent);

    // Digit i weighs 10^(exponent - i); the last one kept weighs 10^-decimals.
    const long kept = static_cast<long>(exponent) + decimals + 1;
    const long count = static_cast<long>(digits.size());
    std::string units; // the result in units of 10^-decimals
    if (kept > 0) units = digits.substr(0, static_cast<std::size_t>(std::min(kept, count)));
    if (kept > count) units.append(static_cast<std::size_t>(kept - count), '0');
    if (kept >= 0 && kept < count && digits[static_cast<std::size_t>(kept)] >= '5') Increment(units);

    const bool zero = units.find_first_not_of('0') == std::string::npos;
    if (units.size() < static_cast<std::size_t>(decimals) + 1)
        units.insert(0, static_cast<std::size_t>(decimals) + 1 - units.size(), '0');
    if (decimals > 0) units.insert(units.size() - static_cast<std::size_t>(decimals), 1, '.');
    return (value < 0 && !zero ? "-" : "") + units;
}

} // namespace tarvicon
