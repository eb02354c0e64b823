#pragma once
// Reading a whole local file, the one way every subsystem does it.

#include <string>

namespace tarvicon {

// The whole content of a local file (others may write it meanwhile; no lock is taken).
// Raises "Cannot open file "PATH". REASON" or "Cannot read file "PATH". REASON".
std::string ReadWholeFile(const std::string& path);

} // namespace tarvicon
