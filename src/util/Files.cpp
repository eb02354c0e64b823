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

namespace {

// An open file descriptor, closed when it goes.
class TOpenFile {
public:
    // Raises "Cannot open file "PATH". REASON" (a folder included).
    explicit TOpenFile(const std::string& path) {
        std::error_code ignored;
        if (std::filesystem::is_directory(path, ignored))
            RaiseError("Cannot open file \"" + path + "\". " + ErrnoText(EISDIR));
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) RaiseError("Cannot open file \"" + path + "\". " + ErrnoText(errno));
    }
    ~TOpenFile() { ::close(fd_); }
    TOpenFile(const TOpenFile&) = delete;
    TOpenFile& operator=(const TOpenFile&) = delete;
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};

// Reads into target until it is full or the file ends; returns the bytes read.
std::size_t ReadInto(int fd, std::uint8_t* target, std::size_t size, const std::string& path) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, target + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            RaiseError("Cannot read file \"" + path + "\". " + ErrnoText(errno));
        }
        if (n == 0) break;
        done += std::size_t(n);
    }
    return done;
}

} // namespace

TByteBuffer ReadFileBytes(const std::string& path) {
    const TOpenFile file(path);
    struct stat info {};
    const std::size_t expected =
        ::fstat(file.Fd(), &info) == 0 && info.st_size > 0 ? std::size_t(info.st_size) : 0;
    TByteBuffer buffer = TByteBuffer::EndingOnPage(expected);
    const std::size_t size = ReadInto(file.Fd(), buffer.data(), expected, path);
    buffer.Truncate(size);
    std::uint8_t probe = 0;
    if (size < expected || ReadInto(file.Fd(), &probe, 1, path) == 0) return buffer;
    // The file grew meanwhile (or reports no size): the rest in chunks after what is read.
    std::string content(buffer.view());
    content += char(probe);
    constexpr std::size_t kChunk = std::size_t(1) << 16;
    for (;;) {
        const std::size_t at = content.size();
        content.resize(at + kChunk);
        const std::size_t n =
            ReadInto(file.Fd(), reinterpret_cast<std::uint8_t*>(content.data()) + at, kChunk, path);
        content.resize(at + n);
        if (n < kChunk) break;
    }
    const std::size_t total = content.size();
    return TByteBuffer::Adopt(std::move(content), 0, total);
}

std::string ReadWholeFile(const std::string& path) {
    const TOpenFile file(path);
    const int fd = file.Fd();
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
