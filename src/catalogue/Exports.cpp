#include "catalogue/Exports.h"

#include "catalogue/DicomObjects.h"
#include "util/Strings.h"
#include "util/Utilities.h"

#include <charconv>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace tarvicon {

namespace {

// An accession number is outside data: a "/" or a control character in it must not lead the
// picture into another folder or make an unusable name.
std::string SafeFileName(std::string name) {
    for (char& c : name)
        if (c == '/' || static_cast<unsigned char>(c) < 0x20) c = '_';
    if (name == "." || name == "..") name.assign(name.size(), '_');
    return name;
}

std::string Numbered(const std::string& base, int number) {
    char digits[16];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, number);
    std::string text(digits, end);
    if (text.size() < 2) text.insert(0, 2 - text.size(), '0');
    return base + "-" + text;
}

// True when the folder holds CANDIDATE or CANDIDATE.anything.
bool NumberTaken(const std::filesystem::path& folder, const std::string& candidate) {
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.compare(0, candidate.size(), candidate) != 0) continue;
        if (name.size() == candidate.size() || name[candidate.size()] == '.') return true;
    }
    return false;
}

} // namespace

std::string ExportFolder() {
    return SpecialFolder("Personal") + "Melvor2/DICOM/Export";
}

std::string ExportBaseName(const TDicomObject* object) {
    return object ? SafeFileName(std::string(Trim(object->GetValue("Accession number")))) : std::string();
}

std::string ExportLegend(const TDicomObject* object) {
    if (!object) return {};
    const auto value = [&](std::string_view key) { return std::string(Trim(object->GetValue(key))); };
    std::string legend = " " + DicomDateToText(value("Series date")) + ": " + value("Patient name") + ", " +
                         DicomDateToText(value("Patient date of birth")) + ", " + value("Patient sex") +
                         ", " + value("Patient ID") + " ";
    // A picture of a lossy image keeps the mark wherever it goes.
    if (const std::string mark = object->LossyMark(); !mark.empty()) legend += mark + " ";
    return legend;
}

std::string LegendForEditing(const std::string& legend) {
    std::string text;
    for (std::size_t i = 0; i < legend.size(); ++i) {
        if (legend[i] == '\r' || legend[i] == '\n') {
            if (legend[i] == '\r' && i + 1 < legend.size() && legend[i + 1] == '\n') ++i;
            text += "\\n";
        } else {
            text += legend[i];
        }
    }
    return text;
}

std::string LegendFromEditing(const std::string& text) {
    std::string legend;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == 'N')) {
            legend += "\r\n";
            ++i;
        } else {
            legend += text[i];
        }
    }
    return legend;
}

std::string NextExportName(const std::string& folder, const std::string& base, const std::string& extension) {
    const std::filesystem::path where(folder);
    const std::string safeBase = SafeFileName(base);
    int number = 1;
    while (NumberTaken(where, Numbered(safeBase, number))) ++number;
    return (where / (Numbered(safeBase, number) + extension)).string();
}

} // namespace tarvicon
