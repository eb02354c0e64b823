#pragma once
// Text helpers shared by the subsystems; numbers always with "." as decimal separator.

#include <optional>
#include <string>
#include <string_view>

namespace tarvicon {

// The text without characters of code 32 or below at both ends.
std::string_view Trim(std::string_view text);

// Cuts text at the first c: returns the part before it and leaves the part after it in text;
// without c returns all of text and leaves it empty.
std::string SplitFirst(std::string& text, char c);

// A real number written with "." (an optional sign, digits, fraction, "E" exponent), blanks
// around it allowed; nothing when the text is not one.
std::optional<double> ParseReal(std::string_view text);

// A whole decimal number that fits 32 bits, blanks around it allowed; nothing otherwise.
std::optional<long long> ParseInteger(std::string_view text);

// A whole decimal number of any length, blanks around it allowed: one beyond 64 bits is still a
// number, out of every range, and gives the smallest or largest 64-bit value; nothing when the
// text is not a whole number.
std::optional<long long> ParseWholeNumber(std::string_view text);

// General number format: at most 15 significant digits, "." as separator, "E" exponent
// ("0.25", "1E20", "1.5E-5").
std::string FormatReal(double value);

// Upper-case ASCII.
std::string UpperCase(std::string_view text);

// Equal without regard to ASCII letter case.
bool EqualNoCase(std::string_view a, std::string_view b);

// text begins with prefix without regard to ASCII letter case.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// An address fetched over HTTP: it begins with "http://" in any letter case.
bool IsHttpAddress(std::string_view path);

} // namespace tarvicon
