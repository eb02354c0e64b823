#pragma once
// A file written whole or not at all: the bytes go to a temporary file beside the destination,
// which takes the destination's name only when the writer commits. A writer that fails or is
// cancelled leaves nothing behind, and an existing file of that name stays as it was.

#include <string>
#include <string_view>

namespace tarvicon {

class TPendingFile {
public:
    // Creates the temporary file, empty and new (never one that exists), beside path: hidden,
    // ending with the destination's extension (writers that choose a format by the name still
    // see it). Raises "Cannot create file "PATH". REASON" naming the destination.
    explicit TPendingFile(const std::string& path);
    // Removes the temporary file unless committed.
    ~TPendingFile();
    TPendingFile(const TPendingFile&) = delete;
    TPendingFile& operator=(const TPendingFile&) = delete;

    // The destination.
    const std::string& Path() const { return path_; }
    // For writers that open the file themselves.
    const std::string& TemporaryPath() const { return temporary_; }
    // Appends bytes to the temporary file; raises "Cannot write file "PATH". REASON".
    void Write(std::string_view bytes);
    // Flushes the temporary file to the disk and gives it the destination's name, replacing a
    // file there; raises "Cannot write file "PATH". REASON".
    void Commit();

private:
    [[noreturn]] void RaiseWriteError(int error) const;
    std::string path_;
    std::string temporary_;
    int descriptor_ = -1;
    bool committed_ = false;
};

} // namespace tarvicon
