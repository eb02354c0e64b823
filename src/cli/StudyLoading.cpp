#include "cli/StudyLoading.h"

namespace tarvicon::cli {

bool TakeStudyArgument(const std::string& argument, TStudySources& sources) {
    if (argument == "--add") {
        sources.Adding = true;
        return true;
    }
    if (sources.Adding && (argument.empty() || argument[0] != '-')) {
        sources.Added.push_back(argument);
        return true;
    }
    // The configuration document is the parameter option --config here.
    if (argument.size() >= 2 && argument[0] == '-' && (argument[1] == 'c' || argument[1] == 'C'))
        return false;
    return TakeCommandLineArgument(argument, sources.First);
}

std::string LoadStudy(TDicomTree& tree, const TStudySources& sources) {
    ProcessCommandLine(tree, sources.First);
    std::string stopped = LoadToEnd(tree);
    TCommandLine added = sources.First;
    added.Paths = sources.Added;
    if (stopped.empty() && !added.Paths.empty()) {
        AddPaths(tree, added);
        stopped = LoadToEnd(tree);
    }
    return stopped;
}

} // namespace tarvicon::cli
