#pragma once
// Where the program lives and where it may write.

#include <string>

namespace tarvicon {

// Full path of the running executable.
std::string ProgramPath();

// File name of the running executable without folder and extension.
std::string ProgramName();

// Folder of the running executable, with a trailing "/".
std::string ExeDir();

// The per-user cache folder ($XDG_CACHE_HOME/tarvicon, else ~/.cache/tarvicon), created on
// demand, with a trailing "/".
std::string CacheFolder();

} // namespace tarvicon
