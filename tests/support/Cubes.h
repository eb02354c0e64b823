#pragma once
// Small cubes for the volume tests.

#include "volume/PixelCube.h"

namespace tarvicon::test {

// A cube of w × h × d voxels of p bytes with its zero-filled store.
inline TPixelCube MakeCube(std::uint32_t w, std::uint32_t h, std::uint32_t d, std::int32_t p = 2) {
    TPixelCube cube;
    cube.SetWidth(w);
    cube.SetHeight(h);
    cube.SetDepth(d);
    cube.SetPixelSize(p);
    cube.EnsureVoxels(p);
    return cube;
}

} // namespace tarvicon::test
