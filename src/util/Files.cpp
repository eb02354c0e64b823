#include "util/Files.h"

#include "util/Errors.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace tarvicon {

std::string ErrnoText(int error) {
    return std::generic_category().message(error);
}

std::string ReadWholeFile(const std::string& path) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored))
        RaiseError("Cannot open file \"" + path + "\". " + ErrnoText(EISDIR));
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) RaiseError("Cannot open file \"" + path + "\". " + ErrnoText(errno));
    struct TClose {
        int fd;
        ~TClose() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    constexpr std::size_t kChunk = std::size_t(1) << 16;
    // One byte beyond the size the system reports, so the read that meets the end needs no
    // growth; the file may still grow or shrink meanwhile.
    const std::size_t expected = ::fstat(fd, &info) == 0 && info.st_size > 0 ? std::size_t(info.st_size) : 0;
    std::string content(expected + 1, '\0');
    std::size_t size = 0;
    for (;;) {
        if (size == content.size()) content.resize(content.size() + kChunk);
        const ssize_t n = ::read(fd, content.data() + size, content.size() - size);
        if (n < 0) {
            if (errno == EINTR) continue;
            RaiseError("Cannot read file \"" + path + "\". " + ErrnoText(errno));
        }
        if (n == 0) break;
        size += std::size_t(n);
    }
    content.resize(size);
    return content;
}

} // namespace tarvicon
