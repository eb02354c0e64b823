#include "util/Folders.h"

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

} // namespace tarvicon
