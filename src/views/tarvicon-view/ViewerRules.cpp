#include "ViewerRules.h"

#include "util/Strings.h"

#include <filesystem>

namespace tarvicon {

bool IsCuboidFile(const std::string& path) {
    return EqualNoCase(std::filesystem::path(path).extension().string(), ".cub");
}

int WheelZoomSteps(int& rest, int angleDelta) {
    rest += angleDelta;
    const int steps = rest / 120;
    rest -= steps * 120;
    return steps;
}

std::vector<std::string> LoadMessages(const TLoadOutcome& outcome) {
    std::vector<std::string> messages;
    // The study tree captions an unreadable file "NAME Error: REASON"; the reason is the news.
    for (const std::string& caption : outcome.FileErrors) {
        const std::size_t at = caption.find("Error: ");
        messages.push_back(at == std::string::npos ? caption : caption.substr(at));
    }
    if (outcome.ObjectCount == 0 && !outcome.StudyPaths.empty()) {
        std::string paths;
        for (const std::string& path : outcome.StudyPaths) paths += (paths.empty() ? "" : ", ") + path;
        messages.push_back("No DICOM image found in " + paths);
    } else if (outcome.ObjectCount > 0 && !outcome.ShownHasPicture && messages.empty()) {
        messages.push_back("The series holds no picture");
    }
    return messages;
}

} // namespace tarvicon
