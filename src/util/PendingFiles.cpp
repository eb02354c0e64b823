#include "util/PendingFiles.h"

#include "util/Errors.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarvicon {

TPendingFile::TPendingFile(const std::string& path) : path_(path) {
    const std::filesystem::path destination(path);
    const std::string extension = destination.extension().string();
    // Hidden, unique, and ending as the destination does (writers choose formats by extension).
    std::string pattern =
        (destination.parent_path() / ("." + destination.filename().string() + ".XXXXXX" + extension))
            .string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int descriptor = mkstemps(name.data(), int(extension.size()));
    if (descriptor < 0) RaiseError("Cannot create file \"" + path + "\". " + std::strerror(errno));
    // mkstemps makes the file private; the picture gets the rights any new file of the user gets.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(descriptor, 0666 & ~mask);
    close(descriptor);
    temporary_ = name.data();
}

TPendingFile::~TPendingFile() {
    if (!committed_) std::remove(temporary_.c_str());
}

void TPendingFile::Commit() {
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0)
        RaiseError("Cannot write file \"" + path_ + "\". " + std::strerror(errno));
    committed_ = true;
}

} // namespace tarvicon
