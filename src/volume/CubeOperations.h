#pragma once
// Operations that change the volume data: mirrors in place; upscales, the 5 × 5 × 5 filter and
// the rotation build a new cube and leave the source untouched (the caller swaps them). They
// report progress through UpdateProgress, so the caller opens a progress run first. Their work
// runs on all cores; the reports come from the calling thread, in order. A source without a
// store reads as zeros.

#include "volume/PixelCube.h"

#include <cstdint>
#include <span>
#include <string>

namespace tarvicon {

void MirrorX(TPixelCube& cube); // reverses every row
void MirrorY(TPixelCube& cube); // reverses the row order of every slice
void MirrorZ(TPixelCube& cube); // reverses the slice order

// Doubles the sampling along one axis (extent 2n − 1, spacing halved) by the midpoint rule.
TPixelCube UpscaleCubeX(const TPixelCube& cube);
TPixelCube UpscaleCubeY(const TPixelCube& cube);
TPixelCube UpscaleCubeZ(const TPixelCube& cube);

// Filters with a 5 × 5 × 5 kernel (i along X slowest, k along Z fastest); number n names the
// filter in the progress text.
using TFilterKernel = std::span<const std::int8_t, 125>;
TPixelCube FilterCube(const TPixelCube& cube, int n, TFilterKernel kernel);

// Rotates every slice along letter 3 of path by angle degrees in the plane of letters 1 and 2.
// Only 16-bit cubes ("Illegal pixel size to rotate"); the letters must name three axes.
TPixelCube RotateCube(const TPixelCube& cube, const std::string& path, double angle);

} // namespace tarvicon
