#pragma once
// The benchmarks' series: a 512 × 512 × 400 16-bit head phantom (skull shell, brain, a lesion
// whose brightness varies with z, noise), so that cuts and projections read real-looking data.

#include "volume/PixelCube.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace tarvicon::bench {

inline constexpr std::uint32_t kWidth = 512, kHeight = 512, kDepth = 400;

// Sizes the cube to the phantom and fills its voxels.
inline void FillHeadPhantom(TPixelCube& c) {
    c.SetWidth(kWidth);
    c.SetHeight(kHeight);
    c.SetDepth(kDepth);
    c.SetPixelSize(2);
    c.EnsureVoxels(2);
    auto* voxels = reinterpret_cast<std::uint16_t*>(c.Voxels());
    std::uint32_t noise = 12345;
    for (std::uint32_t z = 0; z < kDepth; ++z)
        for (std::uint32_t y = 0; y < kHeight; ++y)
            for (std::uint32_t x = 0; x < kWidth; ++x) {
                const double dx = (double(x) - 256) / 230, dy = (double(y) - 256) / 180,
                             dz = (double(z) - 200) / 190;
                const double r = dx * dx + dy * dy + dz * dz;
                double v = r < 1 ? 1000 : 0;
                if (r > 0.8 && r < 0.9) v = 2000;
                const double ox = dx - 0.3, oz = dz + 0.2;
                if (ox * ox + dy * dy + oz * oz < 0.05) v = 1300 + 200 * std::sin(double(z) / 9);
                noise = noise * 1664525u + 1013904223u;
                voxels[(std::size_t(z) * kHeight + y) * kWidth + x] =
                    std::uint16_t(v + double(noise >> 24) / 4);
            }
}

} // namespace tarvicon::bench
