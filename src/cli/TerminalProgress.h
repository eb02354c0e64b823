#pragma once
// The command-line tool's progress: a one-line bar on stderr, drawn only when stderr is a
// terminal, so scripts and tests see clean output.

#include "util/Progress.h"

namespace tarvicon::cli {

class TTerminalProgress : public IProgressSink {
public:
    TTerminalProgress();
    ~TTerminalProgress() override;
    TTerminalProgress(const TTerminalProgress&) = delete;
    TTerminalProgress& operator=(const TTerminalProgress&) = delete;

    void Started() override {}
    void Show(int bar, const std::string& title, const std::string& text, const std::string& detail) override;
    bool CancelRequested() override { return false; }
    void Ended() override;

private:
    bool terminal_;
    int lastBar_ = -1;
};

} // namespace tarvicon::cli
