#include "cli/TerminalProgress.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace tarvicon::cli {

TTerminalProgress::TTerminalProgress() : terminal_(isatty(STDERR_FILENO) == 1) {
    SetProgressSink(this);
}

TTerminalProgress::~TTerminalProgress() {
    SetProgressSink(nullptr);
}

void TTerminalProgress::Show(int bar, const std::string& title, const std::string& text, const std::string&) {
    if (!terminal_ || bar == lastBar_) return;
    lastBar_ = bar;
    const int filled = bar * 30 / 100;
    std::fprintf(stderr, "\r%s [%s%s] %3d%% %.40s\033[K", title.c_str(),
                 std::string(std::size_t(filled), '#').c_str(),
                 std::string(std::size_t(30 - filled), ' ').c_str(), bar, text.c_str());
    std::fflush(stderr);
}

void TTerminalProgress::Ended() {
    if (terminal_ && lastBar_ >= 0) std::fputs("\r\033[K", stderr);
    lastBar_ = -1;
}

} // namespace tarvicon::cli
