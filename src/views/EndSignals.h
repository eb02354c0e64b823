#pragma once
// SIGTERM and SIGINT as events of the event loop: a program that has a window ends cleanly (its
// destructors run, its trace is complete) instead of dying in the middle of a paint.

#include <QObject>
#include <functional>

namespace tarvicon {

class TEndSignals {
public:
    // Blocks the two signals in this thread and in every thread made later (they inherit the
    // mask): make it first thing in main, before any thread starts.
    TEndSignals();
    ~TEndSignals();
    TEndSignals(const TEndSignals&) = delete;
    TEndSignals& operator=(const TEndSignals&) = delete;

    // Once the event loop runs, either signal calls onEnd there; the watch lives as long as owner.
    void Watch(QObject& owner, std::function<void()> onEnd) const;

private:
    int descriptor_ = -1;
};

} // namespace tarvicon
