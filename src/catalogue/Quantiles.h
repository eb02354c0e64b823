#pragma once
// The grey value behind the "Q" notation of a level scaling: a quantile of the shown cuboid,
// scaled by a factor.

#include "volume/PixelCube.h"

#include <cstdint>

namespace tarvicon {

// From the cube's cumulative histogram (entry g = n + voxels ≤ g, so 2n at the top): the first
// grey value g whose entry reaches total × percent ÷ 100 (truncated), times (factor ÷ 100)³,
// truncated. Percent is clamped to 0..200 and factor to 0..100000, a negative or NaN one
// counting as 0. Percent 100 gives the highest voxel value, at or below 50 it gives 0, above
// 100 it gives 65535; no cube (null) gives 65535, and so does a result above 65535. The cube
// is not const because its histogram first makes sure its store exists.
std::int32_t DoOnQuantilValue(TPixelCube* cube, double percent, double factor);

} // namespace tarvicon
