#pragma once
// Reading a whole local file, the one way every subsystem does it; the system's text for an
// error number.

#include <string>

namespace tarvicon {

// The whole content of a local file (others may write it meanwhile; no lock is taken).
// Raises "Cannot open file "PATH". REASON" or "Cannot read file "PATH". REASON".
std::string ReadWholeFile(const std::string& path);

// The system's text for an errno value ("No space left on device"), thread-safe.
std::string ErrnoText(int error);

} // namespace tarvicon
