#include "util/Progress.h"

#include "util/Errors.h"

#include <algorithm>

namespace tarvicon {

namespace {

struct TProgressState {
    bool active = false;
    bool cancelled = false;
    std::string title, text, detail;
};

TProgressState state;
IProgressSink* sink = nullptr;

} // namespace

void SetProgressSink(IProgressSink* newSink) {
    sink = newSink;
}

bool StartProgress(const std::string& title) {
    if (state.active) RaiseError("Progress dialog already active");
    state = TProgressState{true, false, title, {}, {}};
    if (sink) sink->Started();
    return UpdateProgress(0, 1, "...", std::nullopt, std::string(" "));
}

bool UpdateProgress(long long position, long long maximum, const std::string& text,
                    const std::optional<std::string>& title, const std::optional<std::string>& detail) {
    if (!state.active) RaiseError("Progress dialog not active");
    state.text = text;
    maximum = std::max(maximum, 1LL);
    if (title) state.title = *title;
    if (detail) state.detail = *detail;
    const int bar = static_cast<int>(std::clamp(position * 100 / maximum, 0LL, 100LL));
    if (sink) {
        sink->Show(bar, state.title, state.text, state.detail);
        if (!state.cancelled && sink->CancelRequested()) state.cancelled = true;
    }
    return !state.cancelled;
}

void EndProgress() {
    if (!state.active) RaiseError("Progress dialog not active");
    state = TProgressState{};
    if (sink) sink->Ended();
}

bool ProgressActive() {
    return state.active;
}

TProgressRun::~TProgressRun() {
    if (state.active) EndProgress();
}

} // namespace tarvicon
