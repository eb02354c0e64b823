#pragma once
// Small shared services: special folders, temporary file names, DICOM dates, wildcard file
// checks and lock-key states.

#include <string>

namespace tarvicon {

// "ExeDir" (any case): the program's folder; "Personal": the documents folder; "Cache": the
// per-user cache folder. Each with a trailing "/". Any other name raises
// Special folder "NAME" - not found.
std::string SpecialFolder(const std::string& name);

// A new name in the cache folder: "QX" + prefix + the tick count as 8 upper-case hex digits +
// a process-wide counter (modulo 2048) as 4 hex digits + extension. A name whose file exists
// is skipped. The file is not created.
std::string TempFileName(const std::string& prefix, const std::string& extension);

// "20201231" gives "31.12.2020"; anything that is not a date of 1900 to 2020 comes back as it is.
std::string DicomDateToText(const std::string& text);

// True when at least one file or folder (hidden ones included) matches the wildcard pattern.
bool FileExistsByMask(const std::string& pattern);

enum class TLockKey { CapsLock };

// The toggle state of a lock key, from the host.
bool KeyToggled(TLockKey key);

} // namespace tarvicon
