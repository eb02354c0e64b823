#pragma once
// A file written whole or not at all: the bytes go to a temporary file beside the destination,
// which takes the destination's name only when the writer commits. A writer that fails or is
// cancelled leaves nothing behind, and an existing file of that name stays as it was.

#include <string>

namespace tarvicon {

class TPendingFile {
public:
    // Creates the temporary file (empty) beside path; it ends with the destination's extension.
    // Raises "Cannot create file "PATH". REASON" naming the destination.
    explicit TPendingFile(const std::string& path);
    // Removes the temporary file unless committed.
    ~TPendingFile();
    TPendingFile(const TPendingFile&) = delete;
    TPendingFile& operator=(const TPendingFile&) = delete;

    const std::string& TemporaryPath() const { return temporary_; }
    // Gives the temporary file the destination's name (replacing a file there); raises
    // "Cannot write file "PATH". REASON".
    void Commit();

private:
    std::string path_;
    std::string temporary_;
    bool committed_ = false;
};

} // namespace tarvicon
