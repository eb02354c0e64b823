// TPixelCube::RenderSlice with everything fuzzed: the cube's extents (1..24 each) and pixel size
// (1, 2, 4), the view path (any three of R L B T F N, repeats allowed), angle, slab thickness,
// mode, threshold, depth weight and position; the voxels are the rest of the input, repeated.

#include "FuzzInput.h"
#include "volume/Bitmap32.h"
#include "volume/PixelCube.h"
#include "volume/Slices.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

namespace {

const std::vector<std::uint32_t>& Table() {
    static const std::vector<std::uint32_t> table = [] {
        std::vector<std::uint32_t> t(65536);
        for (std::size_t i = 0; i < t.size(); ++i) t[i] = 0xFF000000u | std::uint32_t(i * 2654435761u >> 8);
        return t;
    }();
    return table;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarvicon;
    fuzz::TInput input(data, size);
    static constexpr std::array<char, 6> kLetters{'R', 'L', 'B', 'T', 'F', 'N'};
    static constexpr std::array<int, 3> kPixelSizes{1, 2, 4};
    const int width = 1 + input.Pick(24);
    const int height = 1 + input.Pick(24);
    const int depth = 1 + input.Pick(24);
    const int pixelSize = kPixelSizes[std::size_t(input.Pick(3))];
    std::string path;
    for (int i = 0; i < 3; ++i) path += kLetters[std::size_t(input.Pick(6))];
    const int angle = input.Range(-180, 180);
    const int thickness = input.Pick(7);
    const auto mode = input.Pick(2) == 0 ? TRenderMode::Average : TRenderMode::Maximum;
    const std::uint16_t threshold = input.Word();
    const int depthWeight = input.Range(0, 1000);
    TCubePoint position;
    position.X = input.Range(-4, 28);
    position.Y = input.Range(-4, 28);
    position.Z = input.Range(-4, 28);
    try {
        TPixelCube cube;
        cube.SetWidth(std::uint32_t(width));
        cube.SetHeight(std::uint32_t(height));
        cube.SetDepth(std::uint32_t(depth));
        cube.SetPixelSize(pixelSize);
        cube.EnsureVoxels(pixelSize);
        const std::size_t bytes = std::size_t(cube.ByteSize());
        if (input.RestSize() > 0)
            for (std::size_t i = 0; i < bytes; ++i) cube.Voxels()[i] = input.Rest()[i % input.RestSize()];
        TBitmap32 target;
        TSliceCache cache;
        const TLookupTable table(Table().data(), 65536);
        const TSliceRequest request{position, path, mode, table, thickness, angle, depthWeight, threshold};
        cube.RenderSlice(request, target, cache);
        // Once more on the warm cache, as a repaint does.
        cube.RenderSlice(request, target, cache);
    } catch (const std::exception&) {
    }
    return 0;
}
