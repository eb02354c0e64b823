#pragma once
// Reading a whole local file, the one way every subsystem does it; the system's text for an
// error number.

#include "util/Bytes.h"

#include <string>

namespace tarvicon {

// The whole content of a local file (others may write it meanwhile; no lock is taken).
// Raises "Cannot open file "PATH". REASON" or "Cannot read file "PATH". REASON".
std::string ReadWholeFile(const std::string& path);

// The same into a buffer of the file's size that ends on a page boundary, read with one call
// when the file keeps its size meanwhile: pixel data that closes the file can later move into a
// volume page by page (TByteBuffer::TakePages). The same errors.
TByteBuffer ReadFileBytes(const std::string& path);

// The system's text for an errno value ("No space left on device"), thread-safe.
std::string ErrnoText(int error);

} // namespace tarvicon
