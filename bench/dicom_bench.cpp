// Reading and decoding speed of the DICOM subsystem.

#include "dicom/Dicoms.h"
#include "dicom/LosslessJpeg.h"
#include "support/LosslessJpegWriter.h"
#include "support/TestSupport.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <random>

namespace {

using namespace tarvicon;

// A smooth 12-bit phantom with noise, as a CT slice looks to the entropy coder.
std::vector<std::uint16_t> Phantom(int size) {
    std::mt19937 random(1);
    std::normal_distribution<double> noise(0.0, 6.0);
    std::vector<std::uint16_t> samples(std::size_t(size) * size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const double r = std::hypot(x - size / 2.0, y - size / 2.0) / (size / 2.0);
            const double body = r < 0.9 ? 1040 + 200 * std::cos(r * 7) : 24;
            samples[std::size_t(y) * size + x] =
                static_cast<std::uint16_t>(std::clamp(body + noise(random), 0.0, 4095.0));
        }
    return samples;
}

void BM_LoadFromString_512x512x16(benchmark::State& state) {
    test::TDicomWriter w;
    w.Preamble().Meta("1.2.840.10008.1.2.1").Explicit(0x0010, 0x0010, "PN", "Bench^Mark");
    w.US(0x0028, 0x0010, 512).US(0x0028, 0x0011, 512).US(0x0028, 0x0100, 16).US(0x0028, 0x0101, 12);
    w.US(0x0028, 0x0102, 11).Explicit(0x7FE0, 0x0010, "OW", test::SampleBytes(Phantom(512)));
    const std::string bytes = w.Bytes();
    TDicomFile file;
    for (auto _ : state) {
        file.LoadFromString(bytes);
        benchmark::DoNotOptimize(file.PixelData());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_LoadFromString_512x512x16);

void BM_DecodeLosslessJpeg_512x512x16(benchmark::State& state) {
    test::TJpegOptions options;
    options.Precision = 16;
    options.Predictor = static_cast<int>(state.range(0));
    const std::string stream = test::EncodeLosslessJpeg(Phantom(512), 512, 512, options);
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(stream.data()),
                                              stream.size());
    for (auto _ : state) {
        const TByteBuffer image = DecodeLosslessJpeg(bytes, 2, 512, 512, 1);
        benchmark::DoNotOptimize(image.data());
    }
    state.SetBytesProcessed(state.iterations() * 512 * 512 * 2);
}
BENCHMARK(BM_DecodeLosslessJpeg_512x512x16)->Arg(1)->Arg(7);

} // namespace

BENCHMARK_MAIN();
