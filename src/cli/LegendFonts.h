#pragma once
// The export legend on the command line's pictures, drawn by the function the viewer draws it
// with. Its fonts come from Qt's GUI part on the "offscreen" platform, so no display is needed;
// a build without the window system (the core-only build) has no fonts and so no legend.

#include "volume/Bitmap32.h"

#include <memory>
#include <string>

namespace tarvicon::cli {

// Empty when this build draws legends; else why it cannot.
std::string LegendUnavailable();

// The fonts for its lifetime (one QGuiApplication on the "offscreen" platform). Raises the
// reason of LegendUnavailable in a build without legends.
class TLegendFonts {
public:
    TLegendFonts();
    ~TLegendFonts();
    TLegendFonts(const TLegendFonts&) = delete;
    TLegendFonts& operator=(const TLegendFonts&) = delete;

    // Draws the legend at the top left of the picture, white on a black box.
    void Draw(TBitmap32& picture, const std::string& legend) const;

private:
    struct TState;
    std::unique_ptr<TState> state_;
};

} // namespace tarvicon::cli
