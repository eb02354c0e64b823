#pragma once
// The progress protocol every long operation reports to. At most one progress run is active;
// the rules ("already active", "not active", bar position, cancel) live here, and what the
// user sees comes from the installed sink: the dialog in the viewer, a terminal bar in the
// command-line tool, a recording sink in tests. Without a sink the protocol still keeps its
// rules and never cancels.

#include <optional>
#include <string>

namespace tarvicon {

class IProgressSink {
public:
    virtual ~IProgressSink() = default;
    // A run starts; nothing shown yet.
    virtual void Started() = 0;
    // Shows the state after an update: bar 0..100, the lines as they now stand.
    virtual void Show(int bar, const std::string& title, const std::string& text,
                      const std::string& detail) = 0;
    // Polled after every update: true once the user asked to cancel the run.
    virtual bool CancelRequested() = 0;
    // The run ended.
    virtual void Ended() = 0;
};

// Installs a sink (not owned; it must outlive its use) or, with nullptr, none.
void SetProgressSink(IProgressSink* sink);

// Opens the run with its title; returns false when the user has cancelled.
// Raises "Progress dialog already active" while a run is open.
bool StartProgress(const std::string& title);

// Reports position of maximum (below 1 counts as 1) with its text; a title or detail given
// replaces the line, none keeps it. Returns false once cancelled.
// Raises "Progress dialog not active" without an open run.
bool UpdateProgress(long long position, long long maximum, const std::string& text,
                    const std::optional<std::string>& title = std::nullopt,
                    const std::optional<std::string>& detail = std::nullopt);

// Closes the run. Raises "Progress dialog not active" without an open run.
void EndProgress();

// True while a run is open.
bool ProgressActive();

// Opens a run for its lifetime and closes it however the scope ends.
class TProgressRun {
public:
    explicit TProgressRun(const std::string& title) { StartProgress(title); }
    ~TProgressRun();
    TProgressRun(const TProgressRun&) = delete;
    TProgressRun& operator=(const TProgressRun&) = delete;
};

} // namespace tarvicon
