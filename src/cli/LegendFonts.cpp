#include "cli/LegendFonts.h"

#include "util/Errors.h"

#ifdef TARVICON_CLI_LEGEND
#include "views/Legends.h"

#include <QGuiApplication>
#include <array>
#include <clocale>
#include <cstdio>
#endif

namespace tarvicon::cli {

#ifdef TARVICON_CLI_LEGEND

namespace {

// Qt's notes about the session (no runtime folder, say) are not the command's output: only its
// critical and fatal messages reach stderr.
void QuietMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", qPrintable(message));
}

struct TQuietQt {
    QtMessageHandler previous = qInstallMessageHandler(QuietMessages);
    ~TQuietQt() { qInstallMessageHandler(previous); }
    TQuietQt() = default;
    TQuietQt(const TQuietQt&) = delete;
    TQuietQt& operator=(const TQuietQt&) = delete;
};

} // namespace

// Qt keeps argc and argv for the application's lifetime; its messages stay quiet until it ends.
struct TLegendFonts::TState {
    TQuietQt quiet;
    std::array<char, 13> program{"tarvicon-cli"};
    std::array<char, 10> option{"-platform"};
    std::array<char, 10> platform{"offscreen"};
    std::array<char*, 4> argv{program.data(), option.data(), platform.data(), nullptr};
    int argc = 3;
    QGuiApplication application{argc, argv.data()};
};

std::string LegendUnavailable() {
    return {};
}

TLegendFonts::TLegendFonts() : state_(std::make_unique<TState>()) {
    // Qt takes the environment's locale; numbers are read and written in the "C" one here.
    std::setlocale(LC_ALL, "C");
}

void TLegendFonts::Draw(TBitmap32& picture, const std::string& legend) const {
    DrawLegend(picture, legend);
}

#else

struct TLegendFonts::TState {};

std::string LegendUnavailable() {
    return "--legend needs the fonts of the window system, which this build leaves out";
}

TLegendFonts::TLegendFonts() {
    RaiseError(LegendUnavailable());
}

void TLegendFonts::Draw(TBitmap32&, const std::string&) const {}

#endif

TLegendFonts::~TLegendFonts() = default;

} // namespace tarvicon::cli
