// Slice extraction on a 512 × 512 × 400 16-bit cube: thin slices, maximum slabs and full
// projections along the three views' paths, an oblique mean slab, the colour re-map of a
// cached picture, and the bandwidth limit of a plain two-core maximum over the same bytes.

#include "HeadPhantom.h"
#include "volume/Bitmap32.h"
#include "volume/Slices.h"

#include <algorithm>
#include <array>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace tarvicon;

using bench::kDepth;
using bench::kHeight;
using bench::kWidth;
const TCubePoint kCentre{256, 256, 200};

// A smooth phantom (a body, two organs, a bone ring) with noise, 12-bit as a CT series.
TPixelCube& Cube() {
    static TPixelCube cube = [] {
        TPixelCube c;
        bench::FillHeadPhantom(c);
        return c;
    }();
    return cube;
}

const std::array<std::uint32_t, 65536>& Table() {
    static const auto table = [] {
        auto t = std::make_unique<std::array<std::uint32_t, 65536>>();
        for (std::uint32_t v = 0; v < 65536; ++v) {
            const std::uint32_t g = std::min<std::uint32_t>(255, v / 16);
            (*t)[v] = 0xFF000000u | g << 16 | g << 8 | g;
        }
        return t;
    }();
    return *table;
}

void Render(benchmark::State& state, const char* path, TRenderMode mode, std::int32_t thickness,
            std::int32_t angle) {
    TPixelCube& cube = Cube();
    TSliceCache cache;
    TBitmap32 picture;
    for (auto _ : state) {
        cache.Clear(); // never served from the cache
        cube.RenderSlice({kCentre, path, mode, Table(), thickness, angle}, picture, cache);
        benchmark::DoNotOptimize(picture.Bits());
    }
    if (cache.Count() != std::size_t(picture.Width()) * std::size_t(picture.Height()))
        state.SkipWithError("nothing rendered");
}

void BM_ThinSlice(benchmark::State& state, const char* path) {
    Render(state, path, TRenderMode::Average, 1, 0);
}
void BM_MaxSlab32(benchmark::State& state, const char* path) {
    Render(state, path, TRenderMode::Maximum, 32, 0);
}
void BM_FullMax(benchmark::State& state, const char* path) {
    Render(state, path, TRenderMode::Maximum, 0, 0);
}
void BM_ObliqueMean9(benchmark::State& state) {
    Render(state, "RBF", TRenderMode::Average, 9, 30);
}

void BM_Remap(benchmark::State& state) {
    TPixelCube& cube = Cube();
    TSliceCache cache;
    TBitmap32 picture;
    cube.RenderSlice({kCentre, "RBF", TRenderMode::Maximum, Table(), 0}, picture, cache);
    for (auto _ : state) {
        cache.Apply(Table(), picture.Bits(), cache.Count());
        benchmark::DoNotOptimize(picture.Bits());
    }
}

// The bandwidth limit: every slice read once, an element-wise maximum into one picture, both
// halves of the picture on their own core.
void BM_StreamingMaxLimit(benchmark::State& state) {
    const auto* voxels = reinterpret_cast<const std::uint16_t*>(Cube().Voxels());
    constexpr std::size_t plane = std::size_t(kWidth) * kHeight;
    std::vector<std::uint16_t> result(plane);
    const auto half = [&](std::size_t begin, std::size_t end) {
        using TVec = std::uint16_t __attribute__((vector_size(32)));
        std::memcpy(result.data() + begin, voxels + begin, (end - begin) * 2);
        for (std::size_t z = 1; z < kDepth; ++z) {
            const std::uint16_t* slice = voxels + z * plane;
            for (std::size_t i = begin; i < end; i += 16) {
                TVec a, b;
                std::memcpy(&a, result.data() + i, sizeof a);
                std::memcpy(&b, slice + i, sizeof b);
                a = b > a ? b : a;
                std::memcpy(result.data() + i, &a, sizeof a);
            }
        }
    };
    for (auto _ : state) {
        std::jthread other(half, plane / 2, plane);
        half(0, plane / 2);
        other.join();
        benchmark::DoNotOptimize(result.data());
    }
}

} // namespace

BENCHMARK_CAPTURE(BM_ThinSlice, RBF, "RBF")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ThinSlice, RFT, "RFT")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ThinSlice, BFR, "BFR")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_MaxSlab32, RBF, "RBF")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_MaxSlab32, RFT, "RFT")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_MaxSlab32, BFR, "BFR")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_FullMax, RBF, "RBF")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_FullMax, RFT, "RFT")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_FullMax, BFR, "BFR")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ObliqueMean9)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Remap)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StreamingMaxLimit)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
