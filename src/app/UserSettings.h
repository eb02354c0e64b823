#pragma once
// The user settings kept between sessions: the last DICOM folder and the size of the export
// selection frame, in the per-user store QSettings("Quintar", <program name>).

#include <QString>
#include <string>

namespace tarvicon {

struct TUserSettings {
    // Where the folder dialogs start; stored as "LastDicomDirectory".
    std::string LastDirectory;
    // Size of the detail view's export selection frame; stored as "SelectionWidth" and
    // "SelectionHeight".
    int SelectionWidth = 800;
    int SelectionHeight = 800;
};

// Reads the settings of the program. The last folder walks up to its deepest existing parent and,
// when nothing of it exists, becomes the documents folder + "/Melvor2/DICOM"; a width or height
// that is missing, not a number or below 100 gives 800. A store that is missing or unreadable
// gives these defaults, without a word.
TUserSettings ReadSettings(const QString& programName);

// Stores the settings of the program, creating the store when missing; a store that cannot be
// written is left as it is, without a word.
void WriteSettings(const QString& programName, const TUserSettings& settings);

} // namespace tarvicon
