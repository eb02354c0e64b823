// tarvicon-view: one detail view of a study or a cuboid in a window, with the parameter tree
// bound, for trying the views before the main window exists and for the end-to-end checks.
//
//   tarvicon-view [-cDOC] [-wPREFIX] [-kKEY] FILE|FOLDER|CUBOID…
//
// With TARVICON_TRACE naming a file, the program appends a line there for every parameter
// change, status text, load end, position, build and zoom, and writes its messages there
// instead of showing boxes. SIGTERM and SIGINT close the window as Ctrl+Q does.

#include "util/TraceFiles.h"
#include "views/TracedHosts.h"
#include "ViewerWindow.h"
#include "catalogue/CommandLines.h"
#include "util/Host.h"
#include "views/QtHosts.h"

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

constexpr const char* kUsage = "usage: tarvicon-view [-cDOC] [-wPREFIX] [-kKEY] FILE|FOLDER|CUBOID...\n";

// The signals that end the program cleanly. They are blocked in every thread (threads made
// later inherit the mask) and read from a descriptor by the event loop instead.
sigset_t EndSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

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

    const sigset_t endSignals = EndSignals();
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);
    const int signalDescriptor = signalfd(-1, &endSignals, SFD_CLOEXEC | SFD_NONBLOCK);

    QApplication application(argc, argv);
    // Qt's start-up sets the C locale from the environment: "." again.
    tarvicon::InitProcessNumbers();
    QApplication::setApplicationName("Tarvicon");
    QApplication::setApplicationDisplayName("Tarvicon");

    const tarvicon::TTraceFile trace = tarvicon::TTraceFile::FromEnvironment();
    tarvicon::TTracedHost host(trace);
    const tarvicon::TScopedHost scopedHost(host);

    tarvicon::TViewerWindow window(trace, host, ConfigPath(commandLine));
    if (signalDescriptor >= 0) {
        auto* notifier = new QSocketNotifier(signalDescriptor, QSocketNotifier::Read, &window);
        QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window, signalDescriptor] {
            signalfd_siginfo info;
            while (read(signalDescriptor, &info, sizeof info) == sizeof info) {
            }
            window.close();
        });
    }
    window.show();
    window.Open(commandLine);
    const int status = application.exec();
    if (signalDescriptor >= 0) close(signalDescriptor);
    return status;
}
