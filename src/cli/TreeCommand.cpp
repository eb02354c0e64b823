// tarvicon-cli tree: the study tree of folders, files and index documents.

#include "cli/Commands.h"
#include "cli/ParameterOptions.h"
#include "cli/StudyLoading.h"
#include "cli/TerminalProgress.h"

#include <chrono>
#include <cstdio>
#include <exception>

namespace tarvicon::cli {

namespace {

void PrintNode(const TTreeNode& node, int depth) {
    std::string line(std::size_t(depth) * 2, ' ');
    // Error captions carry the reader's line breaks; one node stays one line.
    for (const char c : node.Caption()) line += (c == '\r' || c == '\n') ? ' ' : c;
    if (const TDicomObject* object = node.Object()) {
        const TPixelCube& cube = object->Cube();
        const TCubePoint& m = cube.Metrics();
        const TCubePoint& o = cube.Origin();
        char details[256];
        std::snprintf(details, sizeof details,
                      "  [#%d %ux%ux%u px%d metrics %d,%d,%d origin %d,%d,%d volume %d]",
                      object->SerialNumber(), cube.Width(), cube.Height(), cube.Depth(), cube.PixelSize(),
                      m.X, m.Y, m.Z, o.X, o.Y, o.Z, object->IsVolume() ? 1 : 0);
        line += details;
    }
    std::printf("%s\n", line.c_str());
    for (const auto& child : node.Children()) PrintNode(*child, depth + 1);
}

} // namespace

int TreeCommand(const std::vector<std::string>& args) {
    const std::string usage = "tree [-wPREFIX] [-kKEY] [--config DOC] [--time] PATH... [--add PATH...]";
    try {
        TParameterSession session;
        TStudySources sources;
        bool timed = false;
        for (std::size_t i = 0; i < args.size(); ++i) {
            if (args[i] == "--time") {
                timed = true;
                continue;
            }
            if (args[i] == "--config") {
                if (TakeParameterOption(session, args, i) != TTake::Taken) return Usage(usage);
                continue;
            }
            if (!TakeStudyArgument(args[i], sources)) return Usage(usage);
        }
        if (sources.First.Paths.empty()) return Usage(usage);
        if (const std::string missing = MissingSource(sources); !missing.empty()) {
            std::fprintf(stderr, "%s\n", missing.c_str());
            return 1;
        }
        const TTerminalProgress progress;
        TDicomTree tree;
        session.BindTree(tree);
        const auto start = std::chrono::steady_clock::now();
        std::string stopped = LoadStudy(tree, sources);
        // The load alone, as benchmarks time other loaders: without the program's start and end.
        if (timed)
            std::fprintf(
                stderr, "Loaded in %.1f ms\n",
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        for (const auto& root : tree.Roots()) PrintNode(*root, 0);
        if (stopped.empty()) stopped = NothingFound(tree, sources);
        if (!stopped.empty()) {
            std::fflush(stdout);
            std::fprintf(stderr, "%s\n", stopped.c_str());
            return 1;
        }
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}

} // namespace tarvicon::cli
