#pragma once
// Where the program lives and where it may write, and the start folder and frame size taken
// from the user settings.

#include <optional>
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

// The user's documents folder ($XDG_DOCUMENTS_DIR, else ~/Documents), without a trailing "/";
// empty when neither is known.
std::string DocumentsFolder();

// The folder the DICOM dialogs start in, from the stored last folder: blanks trimmed, then
// parent after parent until one exists (a trailing "/" dropped at each step). When nothing is
// left: the documents folder followed by "/Melvor2/DICOM", or empty without a documents folder.
std::string ExistingFolderOrParent(std::string lastDirectory);

// A stored width or height of the export selection frame; a missing one or one below 100
// gives 800.
int SelectionSizeOrDefault(std::optional<int> stored);

} // namespace tarvicon
