#include "views/FrameLogs.h"

#include "util/NumberTexts.h"

#include <cstdlib>

namespace tarvicon {

std::string FrameLine(const std::string& view, double at, const TFrameTimes& times) {
    return "Frame " + view + " at=" + FormatFixed(at, 2) +
           " build=" + (times.Built ? FormatFixed(times.Build, 2) : std::string("-")) +
           " draw=" + FormatFixed(times.Draw, 2) + " paint=" + FormatFixed(times.Paint, 2);
}

TFrameLog TFrameLog::FromEnvironment() {
    const char* path = std::getenv("TARVICON_FRAMES");
    return TFrameLog(path ? path : "");
}

TFrameLog::TFrameLog(const std::string& path) : file_(path), start_(std::chrono::steady_clock::now()) {}

void TFrameLog::Frame(const std::string& view, const TFrameTimes& times) const {
    if (!Enabled()) return;
    const double at =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
    file_.Line(FrameLine(view, at, times));
}

} // namespace tarvicon
