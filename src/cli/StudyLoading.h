#pragma once
// Loading a study as the viewer's command line does: every argument that is not an option is an
// index document (when a prefix or key is given), a file whose folder is scanned, or a folder;
// then the load steps run until the squeeze is done.

#include "catalogue/DicomTrees.h"

#include <string>
#include <vector>

namespace tarvicon::cli {

struct TStudySources {
    std::vector<std::string> Paths;
    std::string Prefix; // "-w": put before each instance key of an index document
    std::string Key;    // "-k": key of protected entries
};

// Takes "-w…" and "-k…" (either case, the value joined to the option, the first one wins) and
// plain paths; false for any other argument.
bool TakeStudyArgument(const std::string& argument, TStudySources& sources);

// Queues the sources and runs the load to its end. Returns the message of a run stopped by
// errors, empty when the run finished.
std::string LoadStudy(TDicomTree& tree, const TStudySources& sources);

} // namespace tarvicon::cli
