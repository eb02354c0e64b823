#include "util/Utilities.h"

#include "util/Errors.h"
#include "util/Folders.h"
#include "util/Host.h"
#include "util/Strings.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <glob.h>

namespace tarvicon {

namespace {

// Read as a decimal integer, or −1.
int DecimalOrMinusOne(const std::string& text) {
    if (text.empty()) return -1;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

} // namespace

std::string SpecialFolder(const std::string& name) {
    std::string folder;
    if (UpperCase(name) == "EXEDIR")
        folder = ExeDir();
    else if (name == "Cache")
        folder = CacheFolder();
    else if (name == "Personal")
        folder = DocumentsFolder();
    if (folder.empty()) RaiseError("Special folder \"" + name + "\" - not found");
    if (folder.back() != '/') folder += '/';
    return folder;
}

std::string TempFileName(const std::string& prefix, const std::string& extension) {
    static unsigned counter = 0; // process-wide, user-interface thread only
    const std::string folder = SpecialFolder("Cache");
    for (int attempt = 0;; ++attempt) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%08X%04X", unsigned(Host().TickCount() & 0xFFFFFFFFu),
                      counter % 2048);
        ++counter;
        std::string name = folder + "QX" + prefix + digits + extension;
        // A name that is taken is skipped, so two cubes never share a file; after a whole
        // round of the counter the tick count has moved on.
        std::error_code error;
        if (!std::filesystem::exists(name, error) || attempt > 4096) return name;
    }
}

std::string DicomDateToText(const std::string& text) {
    const int day = DecimalOrMinusOne(text.substr(std::min<std::size_t>(6, text.size()), 2));
    const int month = DecimalOrMinusOne(text.substr(std::min<std::size_t>(4, text.size()), 2));
    const int year = DecimalOrMinusOne(text.substr(0, 4));
    if (day < 0 || day > 31 || month < 0 || month > 12 || year < 1900 || year > 2020) return text;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (day < 1 || month < 1) return text;
    const int last = kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
    if (day > last) return text;
    return std::to_string(day) + "." + std::to_string(month) + "." + std::to_string(year);
}

bool FileExistsByMask(const std::string& pattern) {
    glob_t found{};
    const int result = glob(pattern.c_str(), GLOB_PERIOD | GLOB_NOSORT, nullptr, &found);
    const bool any = result == 0 && found.gl_pathc > 0;
    globfree(&found);
    return any;
}

bool KeyToggled(TLockKey key) {
    switch (key) {
    case TLockKey::CapsLock:
        return Host().CapsLockToggled();
    }
    return false;
}

} // namespace tarvicon
