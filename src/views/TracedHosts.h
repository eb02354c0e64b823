#pragma once
// The host of the programs with a window: the window system's host, except that while the
// program traces (an unattended run) questions and notices go to the trace instead of modal
// boxes. Every notice is also handed to OnNotice (a status line).

#include "util/TraceFiles.h"
#include "views/QtHosts.h"

#include <functional>
#include <string>

namespace tarvicon {

class TTracedHost : public IHost {
public:
    explicit TTracedHost(const TTraceFile& trace) : trace_(trace) {}

    // Where notices are shown besides the box or the trace (the status line); may be empty.
    std::function<void(const std::string&)> OnNotice;

    // Tracing: the line "Question TEXT" and no; else the window system's box.
    bool AskYesNo(const std::string& question) override;
    // Tracing: the line "Notice TEXT"; else the window system's box. Shown by OnNotice first.
    void Notice(const std::string& text) override;
    bool ShiftHeld() override { return qt_.ShiftHeld(); }
    bool CapsLockToggled() override { return qt_.CapsLockToggled(); }
    std::uint64_t TickCount() override { return qt_.TickCount(); }
    int ScreenWidth() override { return qt_.ScreenWidth(); }

private:
    const TTraceFile& trace_;
    TQtHost qt_;
};

} // namespace tarvicon
