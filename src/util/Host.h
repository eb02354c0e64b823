#pragma once
// What the core asks of, or learns from, its host: the viewer installs a window-system host,
// the command-line tool and the tests run with the headless default or their own.
//
// The host belongs to the UI thread (the thread that calls the core). No worker thread calls
// it: what a worker needs (the Shift state) is read before it starts, and what it has to say
// (a notice) comes back with its result for the UI thread to pass on.

#include <cstdint>
#include <string>

namespace tarvicon {

class IHost {
public:
    virtual ~IHost() = default;
    // A yes/no question to the user; true for yes.
    virtual bool AskYesNo(const std::string& question) = 0;
    // A notice to the user that does not stop the operation.
    virtual void Notice(const std::string& text) = 0;
    // True while the Shift key is held down.
    virtual bool ShiftHeld() = 0;
    // True while Caps Lock is toggled on.
    virtual bool CapsLockToggled() = 0;
    // Milliseconds of a monotonic clock.
    virtual std::uint64_t TickCount() = 0;
    // Width of the primary screen in pixels.
    virtual int ScreenWidth() = 0;
};

// Without a window: answers yes only when told to, notices go to stderr, no keys held.
class THeadlessHost : public IHost {
public:
    explicit THeadlessHost(bool answerYes = false) : answerYes_(answerYes) {}
    bool AskYesNo(const std::string& question) override;
    void Notice(const std::string& text) override;
    bool ShiftHeld() override { return false; }
    bool CapsLockToggled() override { return false; }
    std::uint64_t TickCount() override;
    int ScreenWidth() override { return 1920; }

private:
    bool answerYes_;
};

// The installed host; the headless default until SetHost is called.
IHost& Host();

// Installs a host (not owned; it must outlive its use) or, with nullptr, the headless default.
void SetHost(IHost* host);

// Installs a host for the lifetime of this object and restores the previous one afterwards.
class TScopedHost {
public:
    explicit TScopedHost(IHost& host);
    ~TScopedHost();
    TScopedHost(const TScopedHost&) = delete;
    TScopedHost& operator=(const TScopedHost&) = delete;

private:
    IHost* previous_;
};

} // namespace tarvicon
