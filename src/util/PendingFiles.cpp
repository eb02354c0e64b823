#include "util/PendingFiles.h"

#include "util/Errors.h"
#include "util/Files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <unistd.h>

namespace tarvicon {

namespace {

// Room for the hidden dot, the random part and the extension within the 255 bytes a name may
// have on the usual file systems.
constexpr std::size_t kLongestStem = 160;

std::string RandomPart(std::mt19937_64& random) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string part(6, ' ');
    for (char& c : part) c = kLetters[random() % (sizeof kLetters - 1)];
    return part;
}

} // namespace

TPendingFile::TPendingFile(const std::string& path) : path_(path) {
    const std::filesystem::path destination(path);
    const std::string extension = destination.extension().string();
    const std::string stem = destination.stem().string().substr(0, kLongestStem);
    std::random_device device;
    std::mt19937_64 random((std::uint64_t(device()) << 32) ^ device());
    // Created exclusively with the ordinary rights of a new file (the umask applies), so the
    // picture ends up as any file the user writes would.
    for (int attempt = 0;; ++attempt) {
        const std::string name = "." + stem + ".tmp-" + RandomPart(random) + extension;
        temporary_ = (destination.parent_path() / name).string();
        descriptor_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor_ >= 0) break;
        if (errno != EEXIST || attempt == 100)
            RaiseError("Cannot create file \"" + path + "\". " + ErrnoText(errno));
    }
}

TPendingFile::~TPendingFile() {
    if (descriptor_ >= 0) ::close(descriptor_);
    if (!committed_) ::unlink(temporary_.c_str());
}

void TPendingFile::RaiseWriteError(int error) const {
    RaiseError("Cannot write file \"" + path_ + "\". " + ErrnoText(error));
}

void TPendingFile::Write(std::string_view bytes) {
    if (descriptor_ < 0) RaiseWriteError(EBADF);
    while (!bytes.empty()) {
        const ssize_t n = ::write(descriptor_, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            RaiseWriteError(errno);
        }
        bytes.remove_prefix(std::size_t(n));
    }
}

void TPendingFile::Commit() {
    if (committed_) return;
    if (descriptor_ < 0) RaiseWriteError(EBADF);
    // On the disk before it takes the name: after a crash the name holds the old file or the
    // whole new one. A full disk may show only here or at close on some file systems.
    const int descriptor = descriptor_;
    descriptor_ = -1;
    const bool synced = ::fsync(descriptor) == 0 || errno == EINVAL; // EINVAL: cannot be synced
    const int syncError = errno;
    const bool closed = ::close(descriptor) == 0;
    if (!synced) RaiseWriteError(syncError);
    if (!closed) RaiseWriteError(errno);
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0) RaiseWriteError(errno);
    committed_ = true;
}

} // namespace tarvicon
