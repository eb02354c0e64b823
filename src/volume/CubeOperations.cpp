#include "volume/CubeOperations.h"

#include "util/Errors.h"
#include "util/Progress.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <mutex>
#include <numbers>
#include <optional>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace tarvicon {

// 16-bit voxels are read and written as native words.
static_assert(std::endian::native == std::endian::little, "voxels are little-endian words");

namespace {

using TSample = std::int16_t;

const TSample* Samples(const TPixelCube& cube) {
    return reinterpret_cast<const TSample*>(cube.Voxels());
}

TSample* Samples(TPixelCube& cube) {
    return reinterpret_cast<TSample*>(cube.Voxels());
}

// Runs work(u) for every unit u in [0, units) on all cores. This thread makes the reports, in
// order: report(0) before any work starts (so a missing progress run stops everything), then
// report(s) once the first s × units / reports units are done.
void RunReported(std::int64_t units, std::int64_t reports, const std::function<void(std::int64_t)>& report,
                 const std::function<void(std::int64_t)>& work) {
    if (reports > 0) report(0);
    if (units <= 0) {
        for (std::int64_t s = 1; s < reports; ++s) report(s);
        return;
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<char> done(static_cast<std::size_t>(units), 0);
    std::int64_t prefix = 0; // units 0 .. prefix − 1 are all done
    std::exception_ptr failure;
    std::atomic<std::int64_t> next{0};
    std::atomic<bool> stop{false};

    const auto loop = [&] {
        while (!stop.load(std::memory_order_relaxed)) {
            const std::int64_t u = next.fetch_add(1);
            if (u >= units) return;
            try {
                work(u);
            } catch (...) {
                const std::lock_guard lock(mutex);
                if (!failure) failure = std::current_exception();
                stop = true;
                changed.notify_all();
                return;
            }
            const std::lock_guard lock(mutex);
            done[static_cast<std::size_t>(u)] = 1;
            const std::int64_t before = prefix;
            while (prefix < units && done[static_cast<std::size_t>(prefix)]) ++prefix;
            if (prefix != before) changed.notify_all();
        }
    };

    const auto workers = static_cast<std::int64_t>(std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::jthread> threads;
    // Declared after the threads, so it runs first when a report throws: the workers stop
    // taking units and the threads join before the error leaves.
    struct TStopOnExit {
        std::atomic<bool>& flag;
        ~TStopOnExit() { flag = true; }
    } stopOnExit{stop};
    for (std::int64_t t = 0; t < std::min(workers, units); ++t) threads.emplace_back(loop);

    for (std::int64_t s = 1; s < reports; ++s) {
        const std::int64_t need = s * units / reports;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return prefix >= need || failure; });
            if (failure) break;
        }
        report(s);
    }
    threads.clear(); // joins
    if (failure) std::rethrow_exception(failure);
}

// A new cube of the source's pixel size, extents, spacing and origin, without a store.
TPixelCube ShapeOf(const TPixelCube& source) {
    TPixelCube cube;
    cube.SetPixelSize(source.PixelSize());
    cube.SetWidth(source.Width());
    cube.SetHeight(source.Height());
    cube.SetDepth(source.Depth());
    cube.SetMetrics(source.Metrics());
    cube.SetOrigin(source.Origin());
    return cube;
}

// The doubled extent 2n − 1; an empty axis stays empty.
std::uint32_t Doubled(std::uint32_t n) {
    return n == 0 ? 0 : CheckedRange<std::uint32_t>(2 * std::int64_t(n) - 1);
}

// Midpoint of neighbours p, q where a first sample with the top bit set yields the second.
inline TSample MidpointFirst(TSample p, TSample q) {
    return p < 0 ? q : static_cast<TSample>((std::int32_t(p) + std::int32_t(q)) >> 1);
}

void MidpointRows(const TSample* first, const TSample* second, TSample* target, std::int64_t count) {
    for (std::int64_t x = 0; x < count; ++x) target[x] = MidpointFirst(first[x], second[x]);
}

void CopySamples(const TSample* source, TSample* target, std::int64_t count) {
    if (count > 0) std::memcpy(target, source, static_cast<std::size_t>(count) * sizeof(TSample));
}

void SwapBlocks(std::uint8_t* a, std::uint8_t* b, std::size_t bytes) {
    std::swap_ranges(a, a + bytes, b);
}

template <typename T>
void ReverseRows(std::uint8_t* store, std::uint64_t rows, std::uint64_t width) {
    T* samples = reinterpret_cast<T*>(store);
    for (std::uint64_t r = 0; r < rows; ++r) std::reverse(samples + r * width, samples + (r + 1) * width);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Mirrors

void MirrorZ(TPixelCube& cube) {
    cube.EnsureVoxels(0);
    const std::uint64_t depth = cube.Depth();
    if (depth < 2) return;
    const std::uint64_t bytes = cube.ByteSize() / depth;
    if (bytes % 2 != 0) RaiseError("Odd to swap");
    std::uint8_t* store = cube.Voxels();
    for (std::uint64_t i = 0; i < depth / 2; ++i)
        SwapBlocks(store + i * bytes, store + (depth - 1 - i) * bytes, bytes);
}

void MirrorY(TPixelCube& cube) {
    cube.EnsureVoxels(0);
    const std::uint64_t height = cube.Height(), depth = cube.Depth();
    if (height < 2 || depth == 0) return;
    const std::uint64_t bytes = std::uint64_t(cube.Width()) * std::uint64_t(std::max(cube.PixelSize(), 0));
    if (bytes % 2 != 0) RaiseError("Odd to swap");
    std::uint8_t* store = cube.Voxels();
    for (std::uint64_t z = 0; z < depth; ++z) {
        std::uint8_t* slice = store + z * height * bytes;
        for (std::uint64_t j = 0; j < height / 2; ++j)
            SwapBlocks(slice + j * bytes, slice + (height - 1 - j) * bytes, bytes);
    }
}

void MirrorX(TPixelCube& cube) {
    cube.EnsureVoxels(0);
    const std::int32_t size = cube.PixelSize();
    if (size != 2 && size != 4) RaiseError("Invalid pixel size");
    const std::uint64_t rows = std::uint64_t(cube.Height()) * cube.Depth();
    if (cube.Width() < 2 || rows == 0) return;
    if (size == 2)
        ReverseRows<std::uint16_t>(cube.Voxels(), rows, cube.Width());
    else
        ReverseRows<std::uint32_t>(cube.Voxels(), rows, cube.Width());
}

// ---------------------------------------------------------------------------------------------
// Upscales: every slice is one unit of work, copies and midpoints in one pass over it.

TPixelCube UpscaleCubeZ(const TPixelCube& cube) {
    if (cube.PixelSize() != 2) RaiseError("Illegal pixel size to upscaleZ");
    TPixelCube result = ShapeOf(cube);
    const std::int64_t depth = cube.Depth();
    result.SetDepth(Doubled(cube.Depth()));
    TCubePoint metrics = cube.Metrics();
    metrics.Z /= 2;
    result.SetMetrics(metrics);
    result.EnsureVoxels(2);

    const std::string text = result.Describe();
    const std::int64_t slice = std::int64_t(cube.Width()) * cube.Height();
    const TSample* source = cube.HasVoxels() ? Samples(cube) : nullptr;
    TSample* target = Samples(result);
    // Reports: the copy pass counts D steps, the midpoint pass D − 1, both out of 2D.
    RunReported(
        source ? depth : 0, std::max<std::int64_t>(2 * depth - 1, 0),
        [&](std::int64_t s) { UpdateProgress(s, 2 * depth, text); },
        [&](std::int64_t k) {
            const TSample* here = source + k * slice;
            CopySamples(here, target + 2 * k * slice, slice);
            if (k + 1 < depth) MidpointRows(here, here + slice, target + (2 * k + 1) * slice, slice);
        });
    return result;
}

TPixelCube UpscaleCubeY(const TPixelCube& cube) {
    if (cube.PixelSize() != 2) RaiseError("Illegal pixel size to upscaleY");
    TPixelCube result = ShapeOf(cube);
    const std::int64_t depth = cube.Depth(), height = cube.Height(), width = cube.Width();
    result.SetHeight(Doubled(cube.Height()));
    TCubePoint metrics = cube.Metrics();
    metrics.Y /= 2;
    result.SetMetrics(metrics);
    result.EnsureVoxels(2);

    const std::string text = result.Describe();
    const std::int64_t newHeight = result.Height();
    const TSample* source = cube.HasVoxels() ? Samples(cube) : nullptr;
    TSample* target = Samples(result);
    RunReported(
        source ? depth : 0, 2 * depth, [&](std::int64_t s) { UpdateProgress(s, 2 * depth, text); },
        [&](std::int64_t k) {
            const TSample* from = source + k * height * width;
            TSample* to = target + k * newHeight * width;
            for (std::int64_t j = 0; j < height; ++j) {
                CopySamples(from + j * width, to + 2 * j * width, width);
                if (j + 1 < height)
                    MidpointRows(from + j * width, from + (j + 1) * width, to + (2 * j + 1) * width, width);
            }
        });
    return result;
}

TPixelCube UpscaleCubeX(const TPixelCube& cube) {
    if (cube.PixelSize() != 2) RaiseError("Illegal pixel size to upscaleX");
    TPixelCube result = ShapeOf(cube);
    const std::int64_t depth = cube.Depth(), height = cube.Height(), width = cube.Width();
    result.SetWidth(Doubled(cube.Width()));
    TCubePoint metrics = cube.Metrics();
    metrics.X /= 2;
    result.SetMetrics(metrics);
    result.EnsureVoxels(2);

    const std::string text = result.Describe();
    const std::int64_t newWidth = result.Width();
    const TSample* source = cube.HasVoxels() ? Samples(cube) : nullptr;
    TSample* target = Samples(result);
    RunReported(
        source && width > 0 ? depth : 0, depth, [&](std::int64_t k) { UpdateProgress(k, depth, text); },
        [&](std::int64_t k) {
            for (std::int64_t j = 0; j < height; ++j) {
                const TSample* from = source + (k * height + j) * width;
                TSample* to = target + (k * height + j) * newWidth;
                for (std::int64_t i = 0; i + 1 < width; ++i) {
                    const TSample p = from[i], q = from[i + 1];
                    // Here a second sample with the top bit set yields the first.
                    to[2 * i] = p;
                    to[2 * i + 1] =
                        q < 0 ? p : static_cast<TSample>((std::int32_t(p) + std::int32_t(q)) >> 1);
                }
                to[2 * (width - 1)] = from[width - 1];
            }
        });
    return result;
}

// ---------------------------------------------------------------------------------------------
// Filter

namespace {

struct TFilterPlan {
    // Every tap with a non-zero weight: offset in samples and weight (both parts together).
    std::vector<std::int64_t> offsets;
    std::vector<std::uint32_t> weights;
    // The same weight split as high × 65536 + low with low a signed 16-bit value, so that the
    // low parts go through 16 × 16 → 32-bit multiply-adds and the high parts through 16-bit
    // products (only bits 16..31 of the sum are kept).
    struct TPair {
        std::int64_t first, second;
        std::int32_t lows; // low parts of both taps as two 16-bit halves
    };
    std::vector<TPair> pairs;
    struct THigh {
        std::int64_t offset;
        std::int16_t high;
    };
    std::vector<THigh> highs;
    std::int64_t lowest = 0, highest = 0; // offset range
};

TFilterPlan PlanFilter(TFilterKernel kernel, std::int64_t width, std::int64_t height) {
    std::int32_t sum = 0;
    for (const std::int8_t k : kernel) sum += k;
    if (sum == 0) sum = 1;
    TFilterPlan plan;
    struct TLow {
        std::int64_t offset;
        std::int16_t low;
    };
    std::vector<TLow> lows;
    for (int i = -2; i <= 2; ++i)
        for (int j = -2; j <= 2; ++j)
            for (int k = -2; k <= 2; ++k) {
                const std::int32_t entry = kernel[std::size_t(((i + 2) * 5 + (j + 2)) * 5 + (k + 2))];
                const std::int32_t weight = entry * 65536 / sum;
                if (weight == 0) continue;
                const std::int64_t offset = (k * height + j) * width + i;
                plan.offsets.push_back(offset);
                plan.weights.push_back(static_cast<std::uint32_t>(weight));
                const auto low = static_cast<std::int16_t>(weight);
                const auto high = static_cast<std::int16_t>((weight - low) >> 16);
                if (low != 0) lows.push_back({offset, low});
                if (high != 0) plan.highs.push_back({offset, high});
            }
    if (plan.offsets.empty()) return plan;
    const auto [lo, hi] = std::minmax_element(plan.offsets.begin(), plan.offsets.end());
    plan.lowest = *lo;
    plan.highest = *hi;
    if (lows.size() % 2 != 0) lows.push_back({lows.back().offset, 0});
    for (std::size_t t = 0; t < lows.size(); t += 2)
        plan.pairs.push_back(
            {lows[t].offset, lows[t + 1].offset,
             static_cast<std::int32_t>(std::uint32_t(std::uint16_t(lows[t].low)) |
                                       std::uint32_t(std::uint16_t(lows[t + 1].low)) << 16)});
    return plan;
}

// Samples [first, last) of the result, each neighbour index clamped into the store of count
// samples.
void FilterClamped(const TFilterPlan& plan, const TSample* source, std::int64_t count, TSample* target,
                   std::int64_t first, std::int64_t last) {
    for (std::int64_t g = first; g < last; ++g) {
        std::uint32_t sum = 0; // bits 16..31 are those of the exact sum
        for (std::size_t t = 0; t < plan.offsets.size(); ++t) {
            const std::int64_t at = std::clamp<std::int64_t>(g + plan.offsets[t], 0, count - 1);
            sum += plan.weights[t] * static_cast<std::uint32_t>(std::int32_t(source[at]));
        }
        target[g] = static_cast<TSample>(sum >> 16);
    }
}

// Samples [first, last) whose neighbourhoods lie wholly inside the store.
void FilterInside(const TFilterPlan& plan, const TSample* source, TSample* target, std::int64_t first,
                  std::int64_t last) {
    std::int64_t g = first;
#if defined(__SSE2__)
    for (; g + 16 <= last; g += 16) {
        __m128i acc0 = _mm_setzero_si128(), acc1 = acc0, acc2 = acc0, acc3 = acc0;
        for (const TFilterPlan::TPair& pair : plan.pairs) {
            const TSample* a = source + g + pair.first;
            const TSample* b = source + g + pair.second;
            const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
            const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 8));
            const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
            const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 8));
            const __m128i w = _mm_set1_epi32(pair.lows);
            acc0 = _mm_add_epi32(acc0, _mm_madd_epi16(_mm_unpacklo_epi16(a0, b0), w));
            acc1 = _mm_add_epi32(acc1, _mm_madd_epi16(_mm_unpackhi_epi16(a0, b0), w));
            acc2 = _mm_add_epi32(acc2, _mm_madd_epi16(_mm_unpacklo_epi16(a1, b1), w));
            acc3 = _mm_add_epi32(acc3, _mm_madd_epi16(_mm_unpackhi_epi16(a1, b1), w));
        }
        // Bits 16..31 of each sum as a signed 16-bit value: the pack cannot saturate.
        __m128i r0 = _mm_packs_epi32(_mm_srai_epi32(acc0, 16), _mm_srai_epi32(acc1, 16));
        __m128i r1 = _mm_packs_epi32(_mm_srai_epi32(acc2, 16), _mm_srai_epi32(acc3, 16));
        for (const TFilterPlan::THigh& high : plan.highs) {
            const TSample* a = source + g + high.offset;
            const __m128i w = _mm_set1_epi16(high.high);
            r0 = _mm_add_epi16(r0, _mm_mullo_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)), w));
            r1 = _mm_add_epi16(r1,
                               _mm_mullo_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 8)), w));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + g), r0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + g + 8), r1);
    }
#endif
    for (; g < last; ++g) {
        std::uint32_t sum = 0;
        for (std::size_t t = 0; t < plan.offsets.size(); ++t)
            sum += plan.weights[t] * static_cast<std::uint32_t>(std::int32_t(source[g + plan.offsets[t]]));
        target[g] = static_cast<TSample>(sum >> 16);
    }
}

} // namespace

TPixelCube FilterCube(const TPixelCube& cube, int n, TFilterKernel kernel) {
    TPixelCube result = ShapeOf(cube);
    result.EnsureVoxels(2);
    const std::int64_t width = cube.Width(), height = cube.Height(), depth = cube.Depth();
    const std::int64_t slice = width * height, count = slice * depth;
    const TSample* source = cube.HasVoxels() ? Samples(cube) : nullptr;
    TSample* target = Samples(result);
    const std::int64_t computed = std::max<std::int64_t>(depth - 4, 0); // slices 2 .. D − 3
    if (source) {
        // The slices the filter does not compute keep the source's values.
        const std::int64_t head = std::min<std::int64_t>(depth, 2) * slice;
        CopySamples(source, target, head);
        const std::int64_t tail = computed > 0 ? (depth - 2) * slice : head;
        CopySamples(source + tail, target + tail, count - tail);
    }
    const TFilterPlan plan = PlanFilter(kernel, width, height);
    const std::string text = "Filtering #" + std::to_string(n);
    // Results whose whole neighbourhood lies inside the store.
    const std::int64_t safeFirst = -plan.lowest, safeLast = count - plan.highest;
    RunReported(
        source ? computed : 0, computed, [&](std::int64_t s) { UpdateProgress(s + 2, depth, text); },
        [&](std::int64_t s) {
            const std::int64_t first = (s + 2) * slice, last = first + slice;
            const std::int64_t insideFirst = std::clamp(safeFirst, first, last);
            const std::int64_t insideLast = std::clamp(safeLast, insideFirst, last);
            FilterClamped(plan, source, count, target, first, insideFirst);
            FilterInside(plan, source, target, insideFirst, insideLast);
            FilterClamped(plan, source, count, target, insideLast, last);
        });
    return result;
}

// ---------------------------------------------------------------------------------------------
// Rotation

namespace {

struct TRotation {
    std::int64_t e1 = 0, e2 = 0, e3 = 0;
    std::int64_t m1 = 0, m2 = 0;
    std::int64_t s1 = 0, s2 = 0, s3 = 0; // steps in samples, sense ignored
    std::int64_t c = 0, s = 0;           // cosine and sine × 32768
};

// Offset from the centre in 1/256 of the spacing.
std::int64_t Centred(std::int64_t index, std::int64_t extent, std::int64_t metric) {
    return (index - extent / 2) * metric / 256;
}

// The bilinear sample at voxel (ix, iy) plus fractions (fx, fy) of 32768 of the slice at source.
inline TSample Bilinear(const TRotation& r, const TSample* source, std::int64_t ix, std::int64_t iy,
                        std::int64_t fx, std::int64_t fy) {
    if (ix < 0 || iy < 0 || ix >= r.e1 - 1 || iy >= r.e2 - 1) return 0;
    const TSample* p = source + ix * r.s1 + iy * r.s2;
    const std::int64_t s00 = p[0], s10 = p[r.s1], s01 = p[r.s2], s11 = p[r.s1 + r.s2];
    const std::int64_t top = (s00 * (32767 - fx) + s10 * fx) / 32768;
    const std::int64_t bottom = (s01 * (32767 - fx) + s11 * fx) / 32768;
    const std::int64_t value = (fy * bottom + (32767 - fy) * top) / 32768;
    return static_cast<TSample>(std::clamp<std::int64_t>(value, 0, 65535));
}

// One slice with 128-bit arithmetic, for spacings and extents so large that 64 bits overflow.
void RotateSliceWide(const TRotation& r, const TSample* source, TSample* target) {
    using TWide = __int128;
    for (std::int64_t j = 0; j < r.e2; ++j) {
        const TWide v = TWide(j - r.e2 / 2) * r.m2 / 256;
        for (std::int64_t i = 0; i < r.e1; ++i) {
            const TWide u = TWide(i - r.e1 / 2) * r.m1 / 256;
            const TWide x = (u * r.c - v * r.s) / r.m1 * 256 + TWide(r.e1) * 16384;
            const TWide y = (u * r.s + v * r.c) / r.m2 * 256 + TWide(r.e2) * 16384;
            const TWide ix = x / 32768, iy = y / 32768;
            const bool inside = ix >= 0 && iy >= 0 && ix < r.e1 - 1 && iy < r.e2 - 1;
            target[i * r.s1 + j * r.s2] = inside ? Bilinear(r, source, std::int64_t(ix), std::int64_t(iy),
                                                            std::int64_t(x % 32768), std::int64_t(y % 32768))
                                                 : 0;
        }
    }
}

// n = quotient × m + rest with 0 ≤ rest < m.
struct TFloorDivision {
    std::int32_t quotient = 0;
    std::uint32_t rest = 0;
};

TFloorDivision FloorDivide(std::int64_t n, std::int64_t m) {
    std::int64_t q = n / m, rest = n % m;
    if (rest < 0) {
        q -= 1;
        rest += m;
    }
    return {static_cast<std::int32_t>(q), static_cast<std::uint32_t>(rest)};
}

// The source positions split into a column part and a row part: (u × C − v × S) div m1 is put
// together from the floor divisions of u × C and −v × S without a division per voxel.
struct TRotationTerms {
    std::vector<std::int32_t> qx, qy;
    std::vector<std::uint32_t> rx, ry;
};

// Truncated (a + b) / m from the floor divisions of a and b, plus offset. Only Positions without
// SSE2 calls it.
[[maybe_unused]] inline std::int32_t TruncatedSum(std::int32_t qa, std::uint32_t ra, std::int32_t qb,
                                                  std::uint32_t rb, std::uint32_t m, std::int32_t offset) {
    const std::uint32_t rest = ra + rb;
    const std::int32_t carry = rest >= m ? 1 : 0;
    const std::int32_t floor = qa + qb + carry;
    const std::int32_t up = floor < 0 && rest != (carry ? m : 0u) ? 1 : 0;
    return floor + up + offset;
}

// Tiles of 32 columns × 16 rows keep the source voxels they read in the first-level cache, even
// for rows 2^n bytes apart (whose lines share few cache sets).
constexpr std::size_t tileColumns = 32;
constexpr std::int64_t tileRows = 16;
using TTileRow = std::array<std::int32_t, tileColumns>;

// Working arrays of one tile row.
struct TRunScratch {
    TTileRow px{}, py{};
    std::array<TSample, tileColumns> values{};
    alignas(16) TTileRow tops{}, bottoms{}, xs{}, ys{};
    std::array<std::size_t, tileColumns> apart{};
};

// The samples at positions (px, py), P = X / 256 (X is a multiple of 256, so ix = P div 128 and
// fx = (P mod 128) × 256), written to out with the step along letter 1.
void RotateRun(const TRotation& r, const TSample* source, TRunScratch& w, std::size_t columns, TSample* out) {
#if defined(__SSE2__)
    // Gathers the sample pairs and weight pairs of each position; the arithmetic then runs four
    // positions at a time in 16 × 16 → 32-bit multiply-adds. Positions with a negative fraction
    // (just before the first voxel) would overflow these and are taken one by one afterwards.
    std::size_t aparts = 0;
    const auto pair = [](std::int64_t low, std::int64_t high) {
        return static_cast<std::int32_t>(std::uint32_t(std::uint16_t(low)) |
                                         std::uint32_t(std::uint16_t(high)) << 16);
    };
    for (std::size_t i = 0; i < columns; ++i) {
        const std::int32_t x = w.px[i], y = w.py[i];
        const std::int64_t ix = x / 128, iy = y / 128, fx = (x % 128) * 256, fy = (y % 128) * 256;
        if (ix < 0 || iy < 0 || ix >= r.e1 - 1 || iy >= r.e2 - 1 || fx < 0 || fy < 0) {
            w.tops[i] = w.bottoms[i] = w.xs[i] = w.ys[i] = 0;
            if (ix >= 0 && iy >= 0 && ix < r.e1 - 1 && iy < r.e2 - 1) w.apart[aparts++] = i;
            continue;
        }
        const TSample* p = source + ix * r.s1 + iy * r.s2;
        w.tops[i] = pair(p[0], p[r.s1]);
        w.bottoms[i] = pair(p[r.s2], p[r.s1 + r.s2]);
        w.xs[i] = pair(32767 - fx, fx);
        w.ys[i] = pair(fy, 32767 - fy);
    }
    for (std::size_t i = columns; i % 8 != 0; ++i) w.tops[i] = w.bottoms[i] = w.xs[i] = w.ys[i] = 0;
    const auto truncated = [](__m128i sum) { // sum div 32768, rounded toward zero
        return _mm_srai_epi32(
            _mm_add_epi32(sum, _mm_and_si128(_mm_srai_epi32(sum, 31), _mm_set1_epi32(32767))), 15);
    };
    const auto lanes = [](const TTileRow& a, std::size_t i) {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(a.data() + i));
    };
    for (std::size_t i = 0; i < columns; i += 8) {
        __m128i v[2];
        for (std::size_t h = 0; h < 2; ++h) {
            const __m128i wx = lanes(w.xs, i + 4 * h);
            const __m128i top = truncated(_mm_madd_epi16(lanes(w.tops, i + 4 * h), wx));
            const __m128i bottom = truncated(_mm_madd_epi16(lanes(w.bottoms, i + 4 * h), wx));
            const __m128i both =
                _mm_or_si128(_mm_and_si128(bottom, _mm_set1_epi32(0xFFFF)), _mm_slli_epi32(top, 16));
            const __m128i value = truncated(_mm_madd_epi16(both, lanes(w.ys, i + 4 * h)));
            v[h] = _mm_andnot_si128(_mm_srai_epi32(value, 31), value); // below 0 becomes 0
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(w.values.data() + i), _mm_packs_epi32(v[0], v[1]));
    }
    for (std::size_t a = 0; a < aparts; ++a) {
        const std::size_t i = w.apart[a];
        const std::int32_t x = w.px[i], y = w.py[i];
        w.values[i] = Bilinear(r, source, x / 128, y / 128, (x % 128) * 256, (y % 128) * 256);
    }
#else
    for (std::size_t i = 0; i < columns; ++i) {
        const std::int32_t x = w.px[i], y = w.py[i];
        w.values[i] = Bilinear(r, source, x / 128, y / 128, (x % 128) * 256, (y % 128) * 256);
    }
#endif
    if (r.s1 == 1)
        std::memcpy(out, w.values.data(), columns * sizeof(TSample));
    else
        for (std::size_t i = 0; i < columns; ++i) out[std::int64_t(i) * r.s1] = w.values[i];
}

// Positions of one tile row along one axis: TruncatedSum of the column terms and the row's term.
// The terms are padded to whole tiles, so the vector form may run past columns.
void Positions(const std::int32_t* q, const std::uint32_t* rest, TFloorDivision row, std::uint32_t m,
               std::int32_t offset, std::size_t columns, TTileRow& out) {
#if defined(__SSE2__)
    // Branch-free: carries and roundings toward zero depend on the data.
    const __m128i bias = _mm_set1_epi32(std::numeric_limits<std::int32_t>::min());
    const __m128i base = _mm_set1_epi32(row.quotient + offset),
                  rowRest = _mm_set1_epi32(std::int32_t(row.rest));
    const __m128i divisor = _mm_set1_epi32(std::int32_t(m)), at = _mm_set1_epi32(offset);
    const __m128i below = _mm_xor_si128(_mm_set1_epi32(std::int32_t(m - 1)), bias);
    for (std::size_t i = 0; i < columns; i += 4) {
        const __m128i sum =
            _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rest + i)), rowRest);
        const __m128i carry = _mm_cmpgt_epi32(_mm_xor_si128(sum, bias), below); // sum ≥ m, unsigned; −1 or 0
        const __m128i floor = _mm_sub_epi32(
            _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q + i)), base), carry);
        const __m128i remainder = _mm_sub_epi32(sum, _mm_and_si128(carry, divisor));
        const __m128i exact = _mm_cmpeq_epi32(remainder, _mm_setzero_si128());
        const __m128i negative = _mm_cmpgt_epi32(at, floor); // the quotient without the offset is below 0
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out.data() + i),
                         _mm_sub_epi32(floor, _mm_andnot_si128(exact, negative)));
    }
#else
    for (std::size_t i = 0; i < columns; ++i)
        out[i] = TruncatedSum(q[i], rest[i], row.quotient, row.rest, m, offset);
#endif
}

// One slice, tile by tile.
void RotateSlice(const TRotation& r, const TRotationTerms& terms, const TSample* source, TSample* target) {
    TRunScratch w;
    std::array<TFloorDivision, tileRows> bx{}, by{};
    const auto m1 = static_cast<std::uint32_t>(r.m1), m2 = static_cast<std::uint32_t>(r.m2);
    const auto x0 = static_cast<std::int32_t>(r.e1 * 64), y0 = static_cast<std::int32_t>(r.e2 * 64);
    for (std::int64_t j0 = 0; j0 < r.e2; j0 += tileRows) {
        const std::int64_t rows = std::min(tileRows, r.e2 - j0);
        for (std::int64_t j = 0; j < rows; ++j) {
            const std::int64_t v = Centred(j0 + j, r.e2, r.m2);
            bx[std::size_t(j)] = FloorDivide(-v * r.s, r.m1);
            by[std::size_t(j)] = FloorDivide(v * r.c, r.m2);
        }
        for (std::int64_t i0 = 0; i0 < r.e1; i0 += std::int64_t(tileColumns)) {
            const auto columns = std::size_t(std::min(std::int64_t(tileColumns), r.e1 - i0));
            const std::size_t first = std::size_t(i0);
            for (std::int64_t j = 0; j < rows; ++j) {
                const TFloorDivision x = bx[std::size_t(j)], y = by[std::size_t(j)];
                Positions(terms.qx.data() + first, terms.rx.data() + first, x, m1, x0, columns, w.px);
                Positions(terms.qy.data() + first, terms.ry.data() + first, y, m2, y0, columns, w.py);
                RotateRun(r, source, w, columns, target + (j0 + j) * r.s2 + i0 * r.s1);
            }
        }
    }
}

// The terms of the 32-bit path, or none when spacings and extents are too large for it.
std::optional<TRotationTerms> RotationTerms(const TRotation& r) {
    const auto reach = [](std::int64_t extent, std::int64_t metric) {
        return std::max(std::abs(Centred(0, extent, metric)), std::abs(Centred(extent - 1, extent, metric)));
    };
    const std::int64_t u = reach(r.e1, r.m1), v = reach(r.e2, r.m2), limit = std::int64_t(1) << 29;
    if (u >= (std::int64_t(1) << 40) || v >= (std::int64_t(1) << 40)) return std::nullopt;
    if ((u + v) * 32768 / r.m1 + r.e1 * 64 >= limit || (u + v) * 32768 / r.m2 + r.e2 * 64 >= limit)
        return std::nullopt;
    TRotationTerms terms;
    const std::size_t e1 = std::size_t(r.e1), padded = (e1 + tileColumns - 1) / tileColumns * tileColumns;
    terms.qx.resize(padded);
    terms.qy.resize(padded);
    terms.rx.resize(padded);
    terms.ry.resize(padded);
    for (std::size_t i = 0; i < e1; ++i) {
        const std::int64_t ui = Centred(std::int64_t(i), r.e1, r.m1);
        const TFloorDivision x = FloorDivide(ui * r.c, r.m1), y = FloorDivide(ui * r.s, r.m2);
        terms.qx[i] = x.quotient;
        terms.rx[i] = x.rest;
        terms.qy[i] = y.quotient;
        terms.ry[i] = y.rest;
    }
    return terms;
}

// 0 for X, 1 for Y, 2 for Z (the letter is already known to be valid).
int AxisOf(char letter) {
    switch (letter) {
    case 'R':
    case 'r':
    case 'L':
    case 'l':
        return 0;
    case 'B':
    case 'b':
    case 'T':
    case 't':
        return 1;
    default:
        return 2;
    }
}

std::int64_t StepAlong(const TPixelCube& cube, int axis) {
    return axis == 0   ? 1
           : axis == 1 ? std::int64_t(cube.Width())
                       : std::int64_t(cube.Width()) * cube.Height();
}

} // namespace

TPixelCube RotateCube(const TPixelCube& cube, const std::string& path, double angle) {
    if (cube.PixelSize() != 2) RaiseError("Illegal pixel size to rotate");
    TRotation r;
    r.e1 = cube.ExtentAlong(path, 0);
    r.e2 = cube.ExtentAlong(path, 1);
    r.e3 = cube.ExtentAlong(path, 2);
    const char l1 = TPixelCube::PathLetter(path, 0), l2 = TPixelCube::PathLetter(path, 1),
               l3 = TPixelCube::PathLetter(path, 2);
    const int a1 = AxisOf(l1), a2 = AxisOf(l2), a3 = AxisOf(l3);
    // Two letters of one axis would address voxels outside the store.
    if (a1 == a2 || a1 == a3 || a2 == a3) RaiseError("bad view path");
    r.s1 = StepAlong(cube, a1);
    r.s2 = StepAlong(cube, a2);
    r.s3 = StepAlong(cube, a3);
    r.m1 = cube.MetricAlong(l1);
    r.m2 = cube.MetricAlong(l2);

    TPixelCube result = ShapeOf(cube);
    result.EnsureVoxels(2);
    const double theta = -angle * std::numbers::pi / 180;
    r.c = static_cast<std::int64_t>(std::trunc(std::cos(theta) * 32768));
    r.s = static_cast<std::int64_t>(std::trunc(std::sin(theta) * 32768));

    const TSample* source = cube.HasVoxels() && r.e1 > 0 && r.e2 > 0 ? Samples(cube) : nullptr;
    TSample* target = Samples(result);
    const std::optional<TRotationTerms> terms = source ? RotationTerms(r) : std::nullopt;
    RunReported(
        source ? r.e3 : 0, r.e3, [&](std::int64_t k) { UpdateProgress(k, r.e3, ""); },
        [&](std::int64_t k) {
            if (terms)
                RotateSlice(r, *terms, source + k * r.s3, target + k * r.s3);
            else
                RotateSliceWide(r, source + k * r.s3, target + k * r.s3);
        });
    return result;
}

} // namespace tarvicon
