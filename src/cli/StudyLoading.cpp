#include "cli/StudyLoading.h"

#include <chrono>
#include <thread>

namespace tarvicon::cli {

namespace {

// Runs the load steps as the viewer's timer does: a step whenever the clock allows, a short
// pause while the fetch threads have nothing ready.
std::string RunLoad(TDicomTree& tree) {
    struct TStopListener : ITreeListener {
        std::string Message;
        void LoadError(TDicomTree&, const std::string& message) override { Message = message; }
    } stop;
    const TScopedTreeListener listening(tree, stop);
    for (;;) {
        const int before = tree.Cache().Count();
        const bool more = tree.LoadStep();
        if (!more && !tree.Loading()) break;
        if (tree.Cache().FindFirst({TEntryState::Fetched, TEntryState::Failed}) < 0 &&
            before == tree.Cache().Count())
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return stop.Message;
}

} // namespace

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
    std::string stopped = RunLoad(tree);
    TCommandLine added = sources.First;
    added.Paths = sources.Added;
    if (stopped.empty() && !added.Paths.empty()) {
        AddPaths(tree, added);
        stopped = RunLoad(tree);
    }
    return stopped;
}

} // namespace tarvicon::cli
