#pragma once
// What tarvicon-view decides without a window: which arguments are cuboid files, the wheel's
// zoom steps and what the user is told when a load ends.

#include <string>
#include <vector>

namespace tarvicon {

// A cuboid file: the extension ".cub" in any letter case.
bool IsCuboidFile(const std::string& path);

// Whole zoom steps of a wheel turn (120 per notch, positive away from the user); what is left of
// a notch stays in rest for the next turn.
int WheelZoomSteps(int& rest, int angleDelta);

// What a finished load found.
struct TLoadOutcome {
    std::vector<std::string> StudyPaths; // the paths loaded as DICOM
    int ObjectCount = 0;                 // objects in the tree, cuboids included
    std::vector<std::string> FileErrors; // captions of the files that could not be read
    bool ShownHasPicture = false;        // the shown object has voxels
};

// The messages for the user: each unreadable file's reason, "No DICOM image found in …" when a
// load filed nothing, "The series holds no picture" when the shown object has none otherwise.
std::vector<std::string> LoadMessages(const TLoadOutcome& outcome);

} // namespace tarvicon
