#pragma once
// The DICOM view's arithmetic without a window: the animations' offsets as functions of the
// clock, the slice steps, the level window both ways, the zoom exponent of the "zoom" node and
// the corners that map the overlay cube's picture onto the shown cube's picture.

#include "config/LevelLinks.h"
#include "volume/PixelCube.h"

#include <cstdint>
#include <string_view>

namespace tarvicon {

// The swing's angle offset at now (ms) for a swing started at start: ±35° over 6 s.
int SwingOffset(std::uint64_t now, std::uint64_t start);

// The rotation's angle offset: one turn every 6 s, growing without bound.
int RotateOffset(std::uint64_t now, std::uint64_t start);

// The sweep's overlay phase in degrees, and whether it has come full circle and stops.
struct TSweepStep {
    int Phase = 0;
    bool Finished = false;
};

// The sweep at now (ms) for a sweep started at start: 360° over 3 s.
TSweepStep SweepStep(std::uint64_t now, std::uint64_t start);

// The slice animation's next slice and its step, whose sign turns at the ends.
struct TSliceStep {
    int Slice = 0;
    int Step = 0;
};

// One tick of the slice animation: one slice in the step's direction, bouncing at slice 0 and
// count − 1. Step 0 or no slices leave both as they are.
TSliceStep AnimateSlice(int current, int count, int step);

// The slice delta (−1 "prev", +1 "next") away from current, wrapping around at the ends;
// 0 when there are no slices.
int WrapSlice(int current, int count, int delta);

// The "zoom" node's value for a zoom: ln(zoom) / ln(1.12), at most 10. Zooms stay within
// 0.01..100, so one below 0.01 counts as 0.01.
double ZoomExponent(double currentZoom);

// The zoom of an exponent: 1.12 to the power x.
double ZoomFromExponent(double exponent);

// Where the overlay picture lands in the shown picture: the source rectangle (the overlay
// picture, Left/Top 0) and the destination corners 0 top left, 1 top right, 2 bottom right,
// 3 bottom left, in columns and rows of the shown picture.
struct TOverlayCorners {
    std::int32_t SourceLeft = 0;
    std::int32_t SourceTop = 0;
    std::int32_t SourceRight = 0;
    std::int32_t SourceBottom = 0;
    std::int32_t X0 = 0, Y0 = 0, X1 = 0, Y1 = 0, X2 = 0, Y2 = 0, X3 = 0, Y3 = 0;
    friend bool operator==(const TOverlayCorners&, const TOverlayCorners&) = default;
};

// The overlay picture's corners (0, 0) and (w', h') along the path's first two letters, taken
// through world coordinates from the overlay cube into the shown cube. A bad path raises
// "bad view path"; a corner outside 32 bits a range error.
TOverlayCorners OverlayCorners(const TPixelCube& shown, const TPixelCube& overlay, std::string_view path);

} // namespace tarvicon
