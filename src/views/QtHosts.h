#pragma once
// The window system's host: the core's questions and notices as message boxes, the keyboard
// state from the window system, a monotonic tick and the primary screen's width.
//
// It belongs to the UI thread: create it and call it there only, once the QApplication exists.

#include "util/Host.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <string>

namespace tarvicon {

// Sets "." as the decimal separator for C and for Qt. Call it first thing in main and again right
// after the QApplication is made: Qt's start-up sets the C locale from the environment.
void InitProcessNumbers();

// Stand-ins for the message boxes (tests): each gets the box's title and text. An empty function
// shows the window system's box.
struct TMessageBoxes {
    // A warning with Yes and No; true for Yes.
    std::function<bool(const QString& title, const QString& text)> Question;
    // An information box with OK.
    std::function<void(const QString& title, const QString& text)> Information;
};

class TQtHost : public IHost {
public:
    explicit TQtHost(TMessageBoxes boxes = {});

    // Asks in a warning box with Yes and No, titled with the application's display name.
    bool AskYesNo(const std::string& question) override;
    // Shows an information box titled with the application's display name.
    void Notice(const std::string& text) override;
    // The Shift key as the window system reports it now, not as the last event saw it.
    bool ShiftHeld() override;
    // The Caps Lock indicator from XKB on X11; false on platforms without it (offscreen).
    bool CapsLockToggled() override;
    // Milliseconds of the steady clock.
    std::uint64_t TickCount() override;
    // Width of the primary screen; 1920 without a screen.
    int ScreenWidth() override;

private:
    TMessageBoxes boxes_;
};

} // namespace tarvicon
