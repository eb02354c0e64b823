// Cube operations on a CT-sized volume: 512 × 512 × 100 samples of 16 bits.

#include "util/Progress.h"
#include "volume/CubeOperations.h"
#include "volume/PixelCube.h"

#include <array>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstring>
#include <random>

namespace {

using namespace tarvicon;

class TQuietSink : public IProgressSink {
public:
    void Started() override {}
    void Show(int, const std::string&, const std::string&, const std::string&) override {}
    bool CancelRequested() override { return false; }
    void Ended() override {}
};

// A smooth body with noise, 12-bit values as from a scanner.
const TPixelCube& Volume() {
    static const TPixelCube cube = [] {
        TPixelCube c;
        c.SetPixelSize(2);
        c.SetWidth(512);
        c.SetHeight(512);
        c.SetDepth(100);
        c.SetMetrics({700, 700, 1500});
        c.EnsureVoxels(2);
        std::mt19937 random(7);
        std::uniform_int_distribution<int> noise(-20, 20);
        std::uint8_t* store = c.Voxels();
        for (int z = 0; z < 100; ++z)
            for (int y = 0; y < 512; ++y)
                for (int x = 0; x < 512; ++x) {
                    const int dx = x - 256, dy = y - 256, dz = z - 50;
                    const int body = dx * dx + dy * dy + 20 * dz * dz < 200 * 200 ? 1040 + (x ^ y) % 97 : 24;
                    const auto v = static_cast<std::uint16_t>(body + noise(random) + 20);
                    std::memcpy(store + ((std::size_t(z) * 512 + y) * 512 + x) * 2, &v, 2);
                }
        return c;
    }();
    return cube;
}

// Opens a progress run with a sink that shows nothing for the benchmark's lifetime.
class TQuietRun {
public:
    TQuietRun() {
        SetProgressSink(&sink_);
        StartProgress("bench");
    }
    ~TQuietRun() {
        EndProgress();
        SetProgressSink(nullptr);
    }
    TQuietRun(const TQuietRun&) = delete;
    TQuietRun& operator=(const TQuietRun&) = delete;

private:
    TQuietSink sink_;
};

template <typename Operation>
void Measure(benchmark::State& state, Operation operation) {
    const TPixelCube& cube = Volume();
    const TQuietRun run;
    for (auto _ : state) {
        TPixelCube result = operation(cube);
        benchmark::DoNotOptimize(result.Voxels());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * cube.ByteSize()));
}

void BM_UpscaleX(benchmark::State& state) {
    Measure(state, [](const TPixelCube& c) { return UpscaleCubeX(c); });
}
void BM_UpscaleY(benchmark::State& state) {
    Measure(state, [](const TPixelCube& c) { return UpscaleCubeY(c); });
}
void BM_UpscaleZ(benchmark::State& state) {
    Measure(state, [](const TPixelCube& c) { return UpscaleCubeZ(c); });
}

void BM_FilterOnes(benchmark::State& state) {
    std::array<std::int8_t, 125> kernel;
    kernel.fill(1);
    Measure(state, [&](const TPixelCube& c) { return FilterCube(c, 1, kernel); });
}

// A Gaussian-like kernel: 8 at the centre, falling with the distance.
void BM_FilterGauss(benchmark::State& state) {
    std::array<std::int8_t, 125> kernel;
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j)
            for (int k = 0; k < 5; ++k) {
                const int d = (i - 2) * (i - 2) + (j - 2) * (j - 2) + (k - 2) * (k - 2);
                kernel[std::size_t((i * 5 + j) * 5 + k)] = static_cast<std::int8_t>(64 >> std::min(d, 6));
            }
    Measure(state, [&](const TPixelCube& c) { return FilterCube(c, 2, kernel); });
}

void BM_Rotate30(benchmark::State& state) {
    Measure(state, [](const TPixelCube& c) { return RotateCube(c, "RBF", 30.0); });
}

BENCHMARK(BM_UpscaleX)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_UpscaleY)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_UpscaleZ)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_FilterOnes)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_FilterGauss)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_Rotate30)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

} // namespace

BENCHMARK_MAIN();
