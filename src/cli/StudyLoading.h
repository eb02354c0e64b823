#pragma once
// Loading a study as the viewer does, to the end of each run: the command line's paths first
// (the tree cleared before them), then the paths of --add as a second run into the same study,
// as the viewer's Add folder does.

#include "catalogue/CommandLines.h"
#include "catalogue/DicomTrees.h"

#include <string>
#include <vector>

namespace tarvicon::cli {

struct TStudySources {
    TCommandLine First;
    std::vector<std::string> Added; // the paths after --add
    bool Adding = false;            // --add was given: later paths are added
};

// Takes a study argument: -w/-k, a path, "--add" and the paths after it; false for any other.
bool TakeStudyArgument(const std::string& argument, TStudySources& sources);

// "No such file or folder: PATH" for the first local path that does not exist; empty when all
// exist (addresses are not checked here: their fetch says what is wrong).
std::string MissingSource(const TStudySources& sources);

// "No DICOM files found in PATH, …" when the loaded tree holds nothing; empty otherwise.
std::string NothingFound(const TDicomTree& tree, const TStudySources& sources);

// What the loaded study holds, for messages: "the study holds: 0 CAPTION, 1 CAPTION, …" with the
// objects in tree order and their nodes' captions (at most ten; then "…").
std::string StudyContents(const TDicomTree& tree);

// Loads the sources, each run to its end. Returns the message of a run stopped by errors
// (the load stops there), empty when every run finished.
std::string LoadStudy(TDicomTree& tree, const TStudySources& sources);

} // namespace tarvicon::cli
