#include "cli/StudyLoading.h"

#include "util/Strings.h"

#include <chrono>
#include <filesystem>
#include <thread>

namespace tarvicon::cli {

bool TakeStudyArgument(const std::string& argument, TStudySources& sources) {
    if (argument.empty() || argument[0] != '-') {
        sources.Paths.push_back(argument);
        return true;
    }
    const std::string option = UpperCase(argument.substr(0, 2));
    const std::string value = argument.substr(std::min<std::size_t>(2, argument.size()));
    if (option == "-W") {
        if (sources.Prefix.empty()) sources.Prefix = value;
        return true;
    }
    if (option == "-K") {
        if (sources.Key.empty()) sources.Key = value;
        return true;
    }
    return false;
}

std::string LoadStudy(TDicomTree& tree, const TStudySources& sources) {
    bool first = true;
    for (const std::string& path : sources.Paths) {
        if (first) tree.Clear();
        first = false;
        std::error_code error;
        if (!sources.Prefix.empty() || !sources.Key.empty())
            tree.LoadIndex(sources.Prefix, sources.Key, path);
        else if (std::filesystem::is_regular_file(path, error))
            tree.AddFolder(std::filesystem::path(path).parent_path().string());
        else
            tree.AddFolder(path);
    }
    struct TStopListener : ITreeListener {
        std::string Message;
        void LoadError(TDicomTree&, const std::string& message) override { Message = message; }
    } stop;
    const TScopedTreeListener listening(tree, stop);
    // Like the viewer's timer: a step whenever the clock allows, a short pause while the fetch
    // threads have nothing ready.
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

} // namespace tarvicon::cli
