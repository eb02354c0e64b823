// The rotation's encoders alone: 72 grey CT-like pictures (made beforehand) mapped onto the
// colour mapping's palette and written as a GIF, and written as MP4 (H.264) and WebM (VP9), at
// 512 × 512 and 1000 × 1000. The files go to the temporary folder and are removed.

#include "volume/GifFiles.h"
#include "volume/MovieFiles.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>
#include <filesystem>
#include <map>
#include <numbers>
#include <random>
#include <unistd.h>

namespace {

using namespace tarvicon;

constexpr int kFrames = 72;

// A head turning in 5° steps: dark air, a soft-tissue ellipse with noise, a bright skull ring and
// two darker ventricles, as a CT picture through a brain window.
std::vector<TBitmap32> Turn(int size) {
    std::vector<TBitmap32> frames;
    std::mt19937 random(5);
    std::normal_distribution<double> noise(0, 4);
    for (int f = 0; f < kFrames; ++f) {
        const double angle = (-180 + 5 * f) * std::numbers::pi / 180;
        const double c = std::cos(angle), s = std::sin(angle);
        TBitmap32 picture(size, size);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const double u = (x - size / 2.0) / size, v = (y - size / 2.0) / size;
                const double ru = c * u - s * v, rv = s * u + c * v;
                const double r = std::hypot(ru / 0.36, rv / 0.44);
                double level = 0;
                if (r < 1) {
                    level = r > 0.92 ? 235 : 110 + 12 * std::sin(9 * ru) * std::cos(7 * rv);
                    if (std::hypot((ru - 0.07) / 0.04, rv / 0.12) < 1 ||
                        std::hypot((ru + 0.07) / 0.04, rv / 0.12) < 1)
                        level = 60;
                    level += noise(random);
                }
                const auto grey = std::uint32_t(std::clamp(level, 0.0, 255.0));
                picture.Bits()[std::size_t(y) * std::size_t(size) + std::size_t(x)] =
                    0xFF000000 | grey * 0x010101;
            }
        frames.push_back(std::move(picture));
    }
    return frames;
}

const std::vector<TBitmap32>& Frames(int size) {
    static std::map<int, std::vector<TBitmap32>> made;
    auto at = made.find(size);
    if (at == made.end()) at = made.emplace(size, Turn(size)).first;
    return at->second;
}

// A windowed grey ramp, flat below and above the window, as the colour mapping makes it.
TGifPalette Window() {
    TGifPalette palette{};
    for (int i = 0; i < 256; ++i) {
        const auto level = std::uint32_t(std::clamp((i - 40) * 255 / 160, 0, 255));
        palette[std::size_t(i)] = level * 0x010101;
    }
    return palette;
}

std::string OutputPath(const char* extension) {
    return (std::filesystem::temp_directory_path() /
            ("encoder-bench-" + std::to_string(::getpid()) + extension))
        .string();
}

void BM_MapOnly(benchmark::State& state) {
    const auto& frames = Frames(int(state.range(0)));
    std::vector<std::uint8_t> indices;
    for (auto _ : state) {
        TPaletteMapper mapper(Window());
        for (const TBitmap32& frame : frames) mapper.Map(frame, indices);
        benchmark::DoNotOptimize(indices.data());
    }
}

void BM_Gif(benchmark::State& state) {
    const auto& frames = Frames(int(state.range(0)));
    const std::string path = OutputPath(".gif");
    for (auto _ : state) {
        TGifObject gif(Window());
        for (const TBitmap32& frame : frames) gif.AddFrame(frame);
        gif.SaveToFile(path);
    }
    state.counters["bytes"] = double(std::filesystem::file_size(path));
    std::filesystem::remove(path);
}

void Movie(benchmark::State& state, const char* extension) {
    const auto& frames = Frames(int(state.range(0)));
    const std::string path = OutputPath(extension);
    for (auto _ : state) {
        TMovieWriter movie(path, frames[0].Width(), frames[0].Height(), 10);
        for (const TBitmap32& frame : frames) movie.AddFrame(frame);
        movie.Finish();
    }
    state.counters["bytes"] = double(std::filesystem::file_size(path));
    std::filesystem::remove(path);
}

void BM_Mp4(benchmark::State& state) {
    Movie(state, ".mp4");
}
void BM_WebM(benchmark::State& state) {
    Movie(state, ".webm");
}

BENCHMARK(BM_MapOnly)->Arg(512)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Gif)->Arg(512)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Mp4)->Arg(512)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_WebM)->Arg(512)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
