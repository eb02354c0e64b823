#include "util/Folders.h"

#include "util/Strings.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace tarvicon {

namespace fs = std::filesystem;

std::string ProgramPath() {
    std::error_code error;
    const fs::path path = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

std::string ProgramName() {
    return fs::path(ProgramPath()).stem().string();
}

std::string ExeDir() {
    const std::string folder = fs::path(ProgramPath()).parent_path().string();
    return folder.empty() ? std::string("./") : folder + "/";
}

std::string CacheFolder() {
    fs::path base;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache)
        base = cache;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = fs::path(home) / ".cache";
    else
        base = fs::temp_directory_path();
    const fs::path folder = base / "tarvicon";
    std::error_code error;
    fs::create_directories(folder, error);
    return folder.string() + "/";
}

std::string DocumentsFolder() {
    if (const char* documents = std::getenv("XDG_DOCUMENTS_DIR"); documents && *documents)
        return fs::path(documents).string();
    if (const char* home = std::getenv("HOME"); home && *home) return (fs::path(home) / "Documents").string();
    return {};
}

std::string ExistingFolderOrParent(std::string lastDirectory) {
    while (!lastDirectory.empty()) {
        lastDirectory = std::string(Trim(lastDirectory));
        std::error_code error;
        if (lastDirectory.empty() || fs::is_directory(lastDirectory, error)) break;
        // Everything up to the last "/", then without it: each step is shorter, so the walk ends.
        const std::size_t slash = lastDirectory.rfind('/');
        lastDirectory.erase(slash == std::string::npos ? 0 : slash);
    }
    if (!lastDirectory.empty()) return lastDirectory;
    const std::string documents = DocumentsFolder();
    return documents.empty() ? std::string() : documents + "/Melvor2/DICOM";
}

int SelectionSizeOrDefault(std::optional<int> stored) {
    return stored && *stored >= 100 ? *stored : 800;
}

} // namespace tarvicon
