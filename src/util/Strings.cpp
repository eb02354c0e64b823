#include "util/Strings.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>

namespace tarvicon {

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::string SplitFirst(std::string& text, char c) {
    const std::size_t at = text.find(c);
    std::string head;
    if (at == std::string::npos) {
        head = std::move(text);
        text.clear();
    } else {
        head = text.substr(0, at);
        text.erase(0, at + 1);
    }
    return head;
}

std::optional<double> ParseReal(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.front() == '+') return std::nullopt;
    double value = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<long long> ParseWholeNumber(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.front() == '+') return std::nullopt;
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (end != text.data() + text.size()) return std::nullopt;
    if (error == std::errc::result_out_of_range) return text.front() == '-' ? LLONG_MIN : LLONG_MAX;
    if (error != std::errc()) return std::nullopt;
    return value;
}

std::optional<long long> ParseInteger(std::string_view text) {
    const auto value = ParseWholeNumber(text);
    if (!value || *value < INT32_MIN || *value > INT32_MAX) return std::nullopt;
    return value;
}

std::string FormatReal(double value) {
    if (value == 0) return "0";
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    std::string text(buffer, result.ptr);
    const std::size_t e = text.find('e');
    if (e == std::string::npos) return text;
    // "1e+20" -> "1E20", "1.5e-05" -> "1.5E-5"
    std::string mantissa = text.substr(0, e);
    std::string exponent = text.substr(e + 1);
    const bool negative = !exponent.empty() && exponent.front() == '-';
    if (!exponent.empty() && (exponent.front() == '-' || exponent.front() == '+')) exponent.erase(0, 1);
    while (exponent.size() > 1 && exponent.front() == '0') exponent.erase(0, 1);
    return mantissa + "E" + (negative ? "-" : "") + exponent;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 'A' && byte <= 'Z' ? byte + 32 : byte;
    };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

bool IsHttpAddress(std::string_view path) {
    return StartsWithNoCase(path, "http://");
}

std::string UpperCase(std::string_view text) {
    std::string upper(text);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return upper;
}

} // namespace tarvicon
