#include "cli/StudyLoading.h"

#include "dicom/DicomWeb.h"
#include "util/Strings.h"

#include <filesystem>
#include <functional>

namespace tarvicon::cli {

namespace {

std::vector<std::string> AllPaths(const TStudySources& sources) {
    std::vector<std::string> paths = sources.First.Paths;
    paths.insert(paths.end(), sources.Added.begin(), sources.Added.end());
    return paths;
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

std::string MissingSource(const TStudySources& sources) {
    return MissingPath(AllPaths(sources));
}

std::string NothingFound(const TDicomTree& tree, const TStudySources& sources) {
    return tree.Roots().empty() ? NothingToLoad(AllPaths(sources)) : std::string();
}

std::string StudyContents(const TDicomTree& tree) {
    std::vector<std::string> captions(std::size_t(tree.ObjectCount()));
    const std::function<void(const TTreeNode&)> visit = [&](const TTreeNode& node) {
        if (node.Object())
            for (int i = 0; i < tree.ObjectCount(); ++i)
                if (tree.ObjectAt(i) == node.Object())
                    captions[std::size_t(i)] = std::string(Trim(node.Caption()));
        for (const auto& child : node.Children()) visit(*child);
    };
    for (const auto& root : tree.Roots()) visit(*root);
    std::string text = "the study holds:";
    for (std::size_t i = 0; i < captions.size(); ++i) {
        if (i == 10) return text + ", …";
        std::string caption;
        for (const char c : captions[i]) caption += (c == '\r' || c == '\n') ? ' ' : c;
        text += (i == 0 ? " " : ", ") + std::to_string(i) + " " + caption;
    }
    return captions.empty() ? "the study holds nothing" : text;
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
