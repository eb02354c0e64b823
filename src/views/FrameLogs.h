#pragma once
// The views' frame timing: when the environment variable TARVICON_FRAMES names a file, every
// paint of a view appends one line to it with what the paint cost, so that a benchmark reads
// the frame rate and the cost of each frame from the program itself while a hand works it.

#include "util/TraceFiles.h"

#include <chrono>
#include <string>

namespace tarvicon {

// What one paint of a view cost, in milliseconds of a monotonic clock: the build of the picture
// (cutting, projecting and colouring it; none when the last one still held), the drawing of it
// and the overlay into the view's buffer, and the whole paint event with the copy to the screen.
struct TFrameTimes {
    double Build = 0;
    double Draw = 0;
    double Paint = 0;
    bool Built = false;
};

// "Frame VIEW at=MS build=MS draw=MS paint=MS": at is the paint's end since the log began;
// build is "-" when the paint drew the picture it already had.
std::string FrameLine(const std::string& view, double at, const TFrameTimes& times);

class TFrameLog {
public:
    // The file TARVICON_FRAMES names; no log when it is unset or empty.
    static TFrameLog FromEnvironment();
    // Appends to path; an empty path writes nothing.
    explicit TFrameLog(const std::string& path);

    bool Enabled() const { return file_.Enabled(); }
    // One line for a paint of the named view that ended now.
    void Frame(const std::string& view, const TFrameTimes& times) const;

private:
    TTraceFile file_;
    std::chrono::steady_clock::time_point start_;
};

} // namespace tarvicon
