// tarvicon-view: one detail view of a study or a cuboid in a window, with the parameter tree
// bound, for trying the views before the main window exists and for the end-to-end checks.
//
//   tarvicon-view [-cDOC] [-wPREFIX] [-kKEY] FILE|FOLDER|CUBOID…
//
// With TARVICON_TRACE naming a file, the program appends a line there for every parameter
// change, status text, load end, position, build and zoom, and writes its messages there
// instead of showing boxes. SIGTERM and SIGINT close the window as Ctrl+Q does.

#include "ViewerWindow.h"
#include "catalogue/CommandLines.h"
#include "util/Host.h"
#include "util/TraceFiles.h"
#include "views/EndSignals.h"
#include "views/QtHosts.h"
#include "views/TracedHosts.h"

#include <QApplication>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

constexpr const char* kUsage = "usage: tarvicon-view [-cDOC] [-wPREFIX] [-kKEY] FILE|FOLDER|CUBOID...\n";

// The configuration document: -c, else "tarvicon.cfg" beside the program when it exists.
std::string ConfigPath(const tarvicon::TCommandLine& commandLine) {
    if (!commandLine.ConfigPath.empty()) return commandLine.ConfigPath;
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    const auto beside = program.parent_path() / "tarvicon.cfg";
    return std::filesystem::is_regular_file(beside, error) ? beside.string() : std::string();
}

} // namespace

int main(int argc, char** argv) {
    tarvicon::InitProcessNumbers();
    tarvicon::TCommandLine commandLine;
    for (int i = 1; i < argc; ++i)
        if (!tarvicon::TakeCommandLineArgument(argv[i], commandLine)) {
            std::fputs(kUsage, stderr);
            return 2;
        }
    if (commandLine.Paths.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    const tarvicon::TEndSignals endSignals;

    QApplication application(argc, argv);
    // Qt's start-up sets the C locale from the environment: "." again.
    tarvicon::InitProcessNumbers();
    QApplication::setApplicationName("Tarvicon");
    QApplication::setApplicationDisplayName("Tarvicon");

    const tarvicon::TTraceFile trace = tarvicon::TTraceFile::FromEnvironment();
    tarvicon::TTracedHost host(trace);
    const tarvicon::TScopedHost scopedHost(host);

    tarvicon::TViewerWindow window(trace, host, ConfigPath(commandLine));
    endSignals.Watch(window, [&window] { window.close(); });
    window.show();
    window.Open(commandLine);
    const int status = application.exec();
    return status;
}
