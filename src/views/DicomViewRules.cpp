#include "views/DicomViewRules.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace tarvicon {
namespace {

// Signed, so a clock read just before its start gives a small negative time, not a huge one.
std::int64_t Elapsed(std::uint64_t now, std::uint64_t start) {
    return static_cast<std::int64_t>(now - start);
}

} // namespace

int SwingOffset(std::uint64_t now, std::uint64_t start) {
    return int(std::sin(double(Elapsed(now, start)) * 2.0 * std::numbers::pi / 6000.0) * 35.0);
}

int RotateOffset(std::uint64_t now, std::uint64_t start) {
    return int(Elapsed(now, start) * 360 / 6000);
}

TSweepStep SweepStep(std::uint64_t now, std::uint64_t start) {
    const auto phase = int(Elapsed(now, start) * 360 / 3000);
    return {phase, phase >= 360};
}

TSliceStep AnimateSlice(int current, int count, int step) {
    if (step == 0 || count <= 0) return {current, step};
    if ((current <= 0 && step < 0) || (current >= count - 1 && step > 0)) step = -step;
    return {WrapSlice(current, count, step > 0 ? 1 : -1), step};
}

int WrapSlice(int current, int count, int delta) {
    if (count <= 0) return 0;
    const int slice = int((std::int64_t(current) + delta) % count);
    return slice < 0 ? slice + count : slice;
}

double ZoomExponent(double currentZoom) {
    // max() also turns a NaN into the smallest zoom.
    return std::min(std::log(std::max(0.01, currentZoom)) / std::log(1.12), 10.0);
}

double ZoomFromExponent(double exponent) {
    return std::pow(1.12, exponent);
}

TOverlayCorners OverlayCorners(const TPixelCube& shown, const TPixelCube& overlay, std::string_view path) {
    const std::int32_t width = overlay.ExtentAlong(path, 0), height = overlay.ExtentAlong(path, 1);
    // A point of the overlay picture, seen in the shown cube as (column, row).
    const auto inShown = [&](std::int32_t column, std::int32_t row) {
        TCubePoint voxel;
        overlay.SetCoordAlong(voxel, path, 0, column);
        overlay.SetCoordAlong(voxel, path, 1, row);
        const TCubePoint there = shown.WorldToIndex(overlay.IndexToWorld(voxel));
        return std::pair{shown.CoordAlong(there, path, 0), shown.CoordAlong(there, path, 1)};
    };
    const auto [left, top] = inShown(0, 0);
    const auto [right, bottom] = inShown(width, height);
    TOverlayCorners corners;
    corners.SourceRight = width;
    corners.SourceBottom = height;
    corners.X0 = corners.X3 = left;
    corners.X1 = corners.X2 = right;
    corners.Y0 = corners.Y1 = top;
    corners.Y2 = corners.Y3 = bottom;
    return corners;
}

} // namespace tarvicon
