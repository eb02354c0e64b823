#include "volume/Slices.h"

#include "util/Errors.h"
#include "volume/Bitmap32.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <numbers>
#include <optional>
#include <thread>

// The hot loops in an AVX2 and a plain version, chosen once when the program is loaded. Under
// ThreadSanitizer the choosing code would run before the sanitizer's own start, so that build
// keeps the plain version only.
#if defined(__SANITIZE_THREAD__)
#define TARVICON_AVX2_CLONES
#else
#define TARVICON_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#endif

namespace tarvicon {

// The renderer reads 16-bit samples in the host's order, as the decoders stored them.
static_assert(std::endian::native == std::endian::little, "16-bit samples are stored little-endian");

namespace {

__extension__ using TWide = __int128;

// Sixteen samples per vector; where the build has no wide registers the compiler splits them.
using TVecS16 = std::int16_t __attribute__((vector_size(32)));
using TVecU16x8 = std::uint16_t __attribute__((vector_size(16)));
using TVecU32x8 = std::uint32_t __attribute__((vector_size(32)));
using TVecS32x8 = std::int32_t __attribute__((vector_size(32)));
constexpr std::int64_t kLanes = 16;

// Below this many streamed samples a picture is cut on the calling thread alone: starting a
// thread costs about as much as a thin 512 × 512 slice.
constexpr std::int64_t kThreadedWork = std::int64_t(1) << 20;
// A sample read across memory (one cache line each) counts as this many streamed ones.
constexpr std::int64_t kScatteredCost = 16;
// A ray of more steps than this cannot be meant; it ends the render.
constexpr std::int64_t kMaxRaySteps = std::int64_t(1) << 22;

std::int64_t Add(std::int64_t a, std::int64_t b) {
    std::int64_t r;
    if (__builtin_add_overflow(a, b, &r)) RaiseRangeError();
    return r;
}

std::int64_t Mul(std::int64_t a, std::int64_t b) {
    std::int64_t r;
    if (__builtin_mul_overflow(a, b, &r)) RaiseRangeError();
    return r;
}

std::int64_t Narrow(TWide value) {
    if (value < TWide(std::numeric_limits<std::int64_t>::min()) ||
        value > TWide(std::numeric_limits<std::int64_t>::max()))
        RaiseRangeError();
    return std::int64_t(value);
}

// One letter of a view path, in 64 bits: its extent, signed voxel step, spacing and the
// coordinate of the position along it.
struct TLetter {
    int Axis = 0;
    std::int64_t Extent = 0;
    std::int64_t Step = 0;
    std::int64_t Metric = 1000;
    std::int64_t Coord = 0;
};

TLetter LetterOf(const TPixelCube& cube, const TCubePoint& position, char letter) {
    const std::int64_t w = cube.Width(), h = cube.Height(), d = cube.Depth();
    const TCubePoint& metrics = cube.Metrics();
    const auto metric = [](std::int32_t m) { return m > 0 ? std::int64_t(m) : std::int64_t(1000); };
    switch (letter) {
    case 'R':
        return {0, w, 1, metric(metrics.X), position.X};
    case 'L':
        return {0, w, -1, metric(metrics.X), w - 1 - position.X};
    case 'B':
        return {1, h, w, metric(metrics.Y), position.Y};
    case 'T':
        return {1, h, -w, metric(metrics.Y), h - 1 - position.Y};
    case 'F':
        return {2, d, Mul(w, h), metric(metrics.Z), position.Z};
    default: // N
        return {2, d, -Mul(w, h), metric(metrics.Z), d - 1 - position.Z};
    }
}

// Runs body(begin, end) over [0, count) split across the cores; errors reach the caller.
template <typename Body>
void ForRanges(std::int64_t count, std::int64_t work, const Body& body) {
    std::int64_t threads = std::clamp<std::int64_t>(std::thread::hardware_concurrency(), 1, 8);
    if (work < kThreadedWork) threads = 1;
    threads = std::min(threads, count);
    if (threads <= 1) {
        if (count > 0) body(std::int64_t(0), count);
        return;
    }
    std::vector<std::exception_ptr> errors(static_cast<std::size_t>(threads));
    const auto run = [&](std::int64_t t) {
        try {
            body(count * t / threads, count * (t + 1) / threads);
        } catch (...) {
            errors[std::size_t(t)] = std::current_exception();
        }
    };
    {
        std::vector<std::jthread> pool;
        pool.reserve(std::size_t(threads - 1));
        for (std::int64_t t = 1; t < threads; ++t) pool.emplace_back(run, t);
        run(0);
    }
    for (const std::exception_ptr& error : errors)
        if (error) std::rethrow_exception(error);
}

std::uint16_t Clamp16(std::int64_t value) {
    return std::uint16_t(std::clamp<std::int64_t>(value, 0, 65535));
}

// ---- the result value r of one pixel, straight over its offset lists (any geometry) ----

struct TRayRules {
    TRenderMode Mode = TRenderMode::Average;
    std::int64_t DepthWeight = 0;
    std::uint16_t Threshold = 0;
};

// Largest sample of a list as signed 16-bit, starting from 0; on ties the farther one wins.
std::pair<std::int32_t, std::int64_t> RayMaximum(const std::uint16_t* centre,
                                                 std::span<const std::int64_t> steps) {
    std::int32_t best = 0;
    std::int64_t position = 0;
    for (std::int64_t k = std::int64_t(steps.size()) - 1; k >= 0; --k) {
        const auto v = std::int16_t(centre[steps[std::size_t(k)]]);
        if (v > best) {
            best = v;
            position = k;
        }
    }
    return {best, position};
}

std::uint16_t PixelValue(const std::uint16_t* centre, std::span<const std::int64_t> far,
                         std::span<const std::int64_t> near, const TRayRules& rules) {
    if (rules.Mode == TRenderMode::Maximum) {
        std::int64_t best = *centre, d = 0;
        if (const auto [m, p] = RayMaximum(centre, far); m > best) {
            best = m;
            d = p;
        }
        if (const auto [m, p] = RayMaximum(centre, near); m > best) {
            best = m;
            d = -p;
        }
        // d is at most kMaxRaySteps, so the product stays far inside 64 bits.
        return Clamp16(best + d * rules.DepthWeight);
    }
    std::uint64_t sum = *centre, n = 1;
    for (const auto steps : {far, near})
        for (const std::int64_t step : steps)
            if (const std::uint16_t v = centre[step]; v >= rules.Threshold) {
                sum += v;
                ++n;
            }
    return std::uint16_t(std::min<std::uint64_t>(sum / n, 65535));
}

// ---- slabs cut straight through the cube (no oblique turn) ----

// The distinct samples of the shared ray, as offsets in samples from the centre, each with how
// often the ray takes it and its last list position (the one a tie resolves to).
struct TSlabEntry {
    std::int64_t Offset = 0;
    std::uint32_t Times = 0;
    std::int32_t Position = 0;
    bool Far = true;
};

std::vector<TSlabEntry> SlabEntries(std::span<const std::int64_t> far, std::span<const std::int64_t> near) {
    std::vector<TSlabEntry> entries;
    for (const bool isFar : {true, false}) {
        const auto steps = isFar ? far : near;
        for (std::size_t k = 0; k < steps.size(); ++k) {
            if (k > 0 && steps[k] == steps[k - 1]) {
                ++entries.back().Times;
                entries.back().Position = std::int32_t(k);
            } else {
                entries.push_back({steps[k], 1, std::int32_t(k), isFar});
            }
        }
    }
    return entries;
}

// Lines of samples that lie next to each other in memory: every line is one picture row (or
// column), every slab entry shifts the whole line by the same offset.
struct TLineSet {
    const std::uint16_t* Store = nullptr;
    std::vector<std::int64_t> Start; // per line: the sample at the lowest address
    std::int64_t Length = 0;
    std::int64_t OuterStride = 0; // distance between neighbouring lines in memory
    // Where sample m of line o goes in the picture.
    std::vector<std::int64_t> OutBase;
    std::int64_t OutStep = 1;
    bool Reversed = false;
};

// The same, remembering the list position of the winner (a later position wins ties).
TARVICON_AVX2_CLONES void MaxLineAt(std::int16_t* __restrict acc, std::int16_t* __restrict at,
                                    const std::uint16_t* __restrict src, std::int64_t n,
                                    std::int16_t position) {
    std::int64_t m = 0;
    const TVecS16 p = TVecS16{} + position;
    for (; m + kLanes <= n; m += kLanes) {
        TVecS16 a, v, q;
        std::memcpy(&a, acc + m, sizeof a);
        std::memcpy(&q, at + m, sizeof q);
        std::memcpy(&v, src + m, sizeof v);
        const TVecS16 take = v >= a;
        a = take ? v : a;
        q = take ? p : q;
        std::memcpy(acc + m, &a, sizeof a);
        std::memcpy(at + m, &q, sizeof q);
    }
    for (; m < n; ++m)
        if (const auto v = std::int16_t(src[m]); v >= acc[m]) {
            acc[m] = v;
            at[m] = position;
        }
}

TARVICON_AVX2_CLONES void SumLine(std::uint32_t* __restrict sum, std::uint32_t* __restrict count,
                                  const std::uint16_t* __restrict src, std::int64_t n,
                                  std::uint16_t threshold, std::uint32_t times) {
    std::int64_t m = 0;
    const TVecU32x8 t = TVecU32x8{} + threshold, w = TVecU32x8{} + times;
    for (; m + 8 <= n; m += 8) {
        TVecU16x8 raw;
        TVecU32x8 s, c;
        std::memcpy(&raw, src + m, sizeof raw);
        std::memcpy(&s, sum + m, sizeof s);
        std::memcpy(&c, count + m, sizeof c);
        const TVecU32x8 v = __builtin_convertvector(raw, TVecU32x8);
        const auto keep = TVecU32x8(v >= t);
        s += keep & (v * w);
        c += keep & w;
        std::memcpy(sum + m, &s, sizeof s);
        std::memcpy(count + m, &c, sizeof c);
    }
    for (; m < n; ++m)
        if (src[m] >= threshold) {
            sum[m] += src[m] * times;
            count[m] += times;
        }
}

// The four-at-a-time form: fewer passes over the accumulator, four streams in flight.
TARVICON_AVX2_CLONES void MaxLine4(std::int16_t* __restrict acc, const std::uint16_t* __restrict a,
                                   const std::uint16_t* __restrict b, const std::uint16_t* __restrict c,
                                   const std::uint16_t* __restrict d, std::int64_t n) {
    std::int64_t m = 0;
    for (; m + kLanes <= n; m += kLanes) {
        TVecS16 r, va, vb, vc, vd;
        std::memcpy(&r, acc + m, sizeof r);
        std::memcpy(&va, a + m, sizeof va);
        std::memcpy(&vb, b + m, sizeof vb);
        std::memcpy(&vc, c + m, sizeof vc);
        std::memcpy(&vd, d + m, sizeof vd);
        va = va > vb ? va : vb;
        vc = vc > vd ? vc : vd;
        va = va > vc ? va : vc;
        r = va > r ? va : r;
        std::memcpy(acc + m, &r, sizeof r);
    }
    for (; m < n; ++m)
        acc[m] = std::max(
            {acc[m], std::int16_t(a[m]), std::int16_t(b[m]), std::int16_t(c[m]), std::int16_t(d[m])});
}

// Where results go: the raw value for the cache and its colour for the picture.
struct TPictureOut {
    std::uint16_t* Values;
    std::uint32_t* Colours;
    TLookupTable Table;
    void Put(std::int64_t at, std::uint16_t v) const {
        Values[at] = v;
        Colours[at] = Table[v];
    }
};

// Accumulator bytes a block of lines may take: well inside the second-level cache.
constexpr std::int64_t kBlockBytes = 96 << 10;

// Cuts the lines [first, last) of a slab; the caller has checked that sums and positions fit.
void SlabLines(const TLineSet& lines, std::span<const TSlabEntry> entries, const TRayRules& rules,
               std::int64_t first, std::int64_t last, const TPictureOut& out) {
    const std::int64_t n = lines.Length;
    const auto put = [&](std::int64_t o, std::int64_t m, std::uint16_t v) {
        const std::int64_t q = lines.Reversed ? n - 1 - m : m;
        out.Put(lines.OutBase[std::size_t(o)] + q * lines.OutStep, v);
    };
    if (entries.empty()) {
        for (std::int64_t o = first; o < last; ++o) {
            const std::uint16_t* centre = lines.Store + lines.Start[std::size_t(o)];
            if (lines.OutStep == 1 && !lines.Reversed) {
                const std::int64_t base = lines.OutBase[std::size_t(o)];
                std::memcpy(out.Values + base, centre, std::size_t(n) * sizeof(std::uint16_t));
                for (std::int64_t m = 0; m < n; ++m) out.Colours[base + m] = out.Table[centre[m]];
            } else {
                for (std::int64_t m = 0; m < n; ++m) put(o, m, centre[m]);
            }
        }
        return;
    }
    const bool weighted = rules.Mode == TRenderMode::Maximum && rules.DepthWeight != 0;
    const bool plainMaximum = rules.Mode == TRenderMode::Maximum && !weighted;
    std::int64_t spread = 0;
    for (const TSlabEntry& e : entries) spread = std::max(spread, std::abs(e.Offset));
    // Neighbouring lines close together in memory are cut a block at a time, so every slab
    // entry is read as one run; lines far apart are cut one by one, each streaming its own run.
    const std::int64_t lineBytes = n * (plainMaximum ? 2 : 8);
    const std::int64_t block =
        std::abs(lines.OuterStride) < spread ? std::max<std::int64_t>(1, kBlockBytes / lineBytes) : 1;
    const std::size_t size = std::size_t(block * n);
    std::vector<std::int16_t> farMax(size), nearMax(weighted ? size : 0), farAt(weighted ? size : 0),
        nearAt(weighted ? size : 0);
    std::vector<std::uint32_t> sum(rules.Mode == TRenderMode::Average ? size : 0),
        count(rules.Mode == TRenderMode::Average ? size : 0);
    for (std::int64_t o0 = first; o0 < last; o0 += block) {
        const std::int64_t o1 = std::min(last, o0 + block);
        std::fill(farMax.begin(), farMax.end(), 0);
        std::fill(nearMax.begin(), nearMax.end(), 0);
        std::fill(sum.begin(), sum.end(), 0u);
        std::fill(count.begin(), count.end(), 0u);
        if (plainMaximum) {
            // Four quarters of the (sorted) entries at once: four long streams through memory.
            const std::size_t quarter = (entries.size() + 3) / 4;
            for (std::size_t e = 0; e < quarter; ++e)
                for (std::int64_t o = o0; o < o1; ++o) {
                    const std::uint16_t* line = lines.Store + lines.Start[std::size_t(o)];
                    const auto src = [&](std::size_t k) {
                        return line + entries[std::min(e + k * quarter, entries.size() - 1)].Offset;
                    };
                    MaxLine4(&farMax[std::size_t((o - o0) * n)], src(0), src(1), src(2), src(3), n);
                }
        } else {
            for (const TSlabEntry& e : entries)
                for (std::int64_t o = o0; o < o1; ++o) {
                    const std::uint16_t* src = lines.Store + lines.Start[std::size_t(o)] + e.Offset;
                    const std::size_t at = std::size_t((o - o0) * n);
                    if (rules.Mode == TRenderMode::Average)
                        SumLine(&sum[at], &count[at], src, n, rules.Threshold, e.Times);
                    else if (e.Far)
                        MaxLineAt(&farMax[at], &farAt[at], src, n, std::int16_t(e.Position));
                    else
                        MaxLineAt(&nearMax[at], &nearAt[at], src, n, std::int16_t(e.Position));
                }
        }
        for (std::int64_t o = o0; o < o1; ++o) {
            const std::uint16_t* centre = lines.Store + lines.Start[std::size_t(o)];
            const std::size_t at = std::size_t((o - o0) * n);
            if (rules.Mode == TRenderMode::Average) {
                // Sums stay below 2^32 and counts below 2^16, so the double quotient is exact
                // enough that truncating it gives the integer quotient.
                for (std::int64_t m = 0; m < n; ++m)
                    put(o, m,
                        std::uint16_t(double(sum[at + std::size_t(m)] + centre[m]) /
                                      double(count[at + std::size_t(m)] + 1)));
            } else if (plainMaximum) {
                for (std::int64_t m = 0; m < n; ++m)
                    put(o, m, std::max(centre[m], std::uint16_t(farMax[at + std::size_t(m)])));
            } else {
                for (std::int64_t m = 0; m < n; ++m) {
                    const std::size_t q = at + std::size_t(m);
                    std::int64_t best = centre[m], d = 0;
                    if (farMax[q] > best) {
                        best = farMax[q];
                        d = farAt[q];
                    }
                    if (nearMax[q] > best) {
                        best = nearMax[q];
                        d = -nearAt[q];
                    }
                    put(o, m, Clamp16(best + d * rules.DepthWeight));
                }
            }
        }
    }
}

// Rays that run along memory: each pixel of a picture row reduces one run of neighbouring
// samples; the pixels' runs start step samples apart.
TARVICON_AVX2_CLONES void RunMaxima(const std::uint16_t* first, std::int64_t step, std::int64_t pixels,
                                    std::int64_t n, std::uint16_t* result) {
    for (std::int64_t j = 0; j < pixels; ++j) {
        const std::uint16_t* src = first + j * step;
        TVecS16 acc{};
        std::int64_t m = 0;
        for (; m + kLanes <= n; m += kLanes) {
            TVecS16 v;
            std::memcpy(&v, src + m, sizeof v);
            acc = v > acc ? v : acc;
        }
        std::int16_t best = 0;
        for (int lane = 0; lane < kLanes; ++lane) best = std::max(best, acc[lane]);
        for (; m < n; ++m) best = std::max(best, std::int16_t(src[m]));
        result[j] = std::uint16_t(best);
    }
}

TARVICON_AVX2_CLONES void RunSums(const std::uint16_t* first, std::int64_t step, std::int64_t pixels,
                                  std::int64_t n, std::uint16_t threshold, std::uint32_t* sums,
                                  std::uint32_t* counts) {
    const TVecU32x8 t = TVecU32x8{} + threshold, one = TVecU32x8{} + 1;
    for (std::int64_t j = 0; j < pixels; ++j) {
        const std::uint16_t* src = first + j * step;
        TVecU32x8 sum{}, count{};
        std::int64_t m = 0;
        for (; m + 8 <= n; m += 8) {
            TVecU16x8 raw;
            std::memcpy(&raw, src + m, sizeof raw);
            const TVecU32x8 v = __builtin_convertvector(raw, TVecU32x8);
            const auto keep = TVecU32x8(v >= t);
            sum += keep & v;
            count += keep & one;
        }
        std::uint32_t s = 0, c = 0;
        for (int lane = 0; lane < 8; ++lane) {
            s += sum[lane];
            c += count[lane];
        }
        for (; m < n; ++m)
            if (src[m] >= threshold) {
                s += src[m];
                ++c;
            }
        sums[j] = s;
        counts[j] = c;
    }
}

void MapValues(TLookupTable table, std::uint32_t* target, const std::uint16_t* values, std::size_t n) {
    ForRanges(std::int64_t(n), std::int64_t(n), [&](std::int64_t begin, std::int64_t end) {
        for (std::int64_t i = begin; i < end; ++i) target[i] = table[values[i]];
    });
}

// ---- the four ways of walking a 16-bit picture ----

// What every walk needs: the store, where results go, the pixel rules, the picture's extents,
// each row's sample address and the shared ray steps, all in samples rather than bytes.
struct TWalkPlan {
    const std::uint16_t* Store;
    TPictureOut Out;
    TRayRules Rules;
    std::int64_t Width = 0;  // e1
    std::int64_t Height = 0; // e2
    std::vector<std::int64_t> RowAt{};
    std::vector<std::int64_t> Far{}, Near{};
};

// A picture without an oblique turn whose inside columns are one evenly spaced run sharing one
// ray: every pixel reads the same offsets from its centre sample.
struct TStraightCut {
    std::int64_t FirstColumn = 0; // the columns inside the cube, [FirstColumn, EndColumn)
    std::int64_t EndColumn = 0;
    std::int64_t ColumnStep = 0; // samples between neighbouring columns
    std::int64_t Origin = 0;     // column FirstColumn's centre sample relative to a row address
    std::vector<TSlabEntry> Entries;
    std::int64_t Samples = 0; // ray samples per pixel, centre not counted
    std::int64_t Work = 0;    // samples the whole picture reads
};

// Rows or columns along memory: each slab entry shifts a whole line, read as one long vector run.
void CutSlabLines(const TWalkPlan& plan, const TStraightCut& cut, std::int64_t rowStep) {
    const bool alongColumns = std::abs(cut.ColumnStep) == 1;
    const std::int64_t innerStep = alongColumns ? cut.ColumnStep : rowStep;
    const std::int64_t columns = cut.EndColumn - cut.FirstColumn;
    const std::int64_t count = alongColumns ? plan.Height : columns;
    const std::int64_t first = plan.RowAt[0] + cut.Origin;
    TLineSet lines;
    lines.Store = plan.Store;
    lines.Length = alongColumns ? columns : plan.Height;
    lines.OuterStride = alongColumns ? rowStep : cut.ColumnStep;
    lines.OutStep = alongColumns ? 1 : plan.Width;
    lines.Reversed = innerStep < 0;
    lines.Start.resize(std::size_t(count));
    lines.OutBase.resize(std::size_t(count));
    for (std::int64_t o = 0; o < count; ++o) {
        const std::int64_t at =
            alongColumns ? plan.RowAt[std::size_t(o)] + cut.Origin : first + o * cut.ColumnStep;
        lines.Start[std::size_t(o)] = lines.Reversed ? at - (lines.Length - 1) : at;
        lines.OutBase[std::size_t(o)] = alongColumns ? o * plan.Width + cut.FirstColumn : cut.FirstColumn + o;
    }
    ForRanges(count, cut.Work, [&](std::int64_t begin, std::int64_t end) {
        SlabLines(lines, cut.Entries, plan.Rules, begin, end, plan.Out);
    });
}

// A thin slice across memory costs a cache line per pixel: fetch columns ahead so fetches overlap.
void GatherThinSlice(const TWalkPlan& plan, const TStraightCut& cut) {
    const std::int64_t step = cut.ColumnStep, jlo = cut.FirstColumn, jhi = cut.EndColumn, e1 = plan.Width;
    const std::int64_t ahead = std::abs(step) >= 32 ? 8 : 0;
    ForRanges(plan.Height, cut.Work * (ahead ? kScatteredCost : 1),
              [&](std::int64_t begin, std::int64_t end) {
                  for (std::int64_t i = begin; i < end; ++i) {
                      const std::uint16_t* line = plan.Store + plan.RowAt[std::size_t(i)] + cut.Origin;
                      for (std::int64_t j = jlo; j < jhi; ++j) {
                          if (ahead) __builtin_prefetch(line + (std::min(j + ahead, jhi - 1) - jlo) * step);
                          plan.Out.Put(i * e1 + j, line[(j - jlo) * step]);
                      }
                  }
              });
}

// Rays along memory: each pixel's ray is one run of neighbouring samples, reduced in vector registers.
// low and high are the run's ends as offsets from the centre sample.
void ReduceRaysAlongMemory(const TWalkPlan& plan, const TStraightCut& cut, std::int64_t low,
                           std::int64_t high) {
    const TRayRules& rules = plan.Rules;
    const std::int64_t step = cut.ColumnStep, jlo = cut.FirstColumn, e1 = plan.Width;
    ForRanges(plan.Height, cut.Work, [&](std::int64_t begin, std::int64_t end) {
        const auto pixels = std::size_t(cut.EndColumn - jlo);
        std::vector<std::uint16_t> result(pixels);
        std::vector<std::uint32_t> sums(rules.Mode == TRenderMode::Average ? pixels : 0),
            counts(rules.Mode == TRenderMode::Average ? pixels : 0);
        for (std::int64_t i = begin; i < end; ++i) {
            const std::uint16_t* line = plan.Store + plan.RowAt[std::size_t(i)] + cut.Origin;
            if (rules.Mode == TRenderMode::Maximum) {
                RunMaxima(line + low, step, std::int64_t(pixels), high - low + 1, result.data());
                for (std::size_t j = 0; j < pixels; ++j)
                    plan.Out.Put(i * e1 + jlo + std::int64_t(j),
                                 std::max(line[std::int64_t(j) * step], result[j]));
            } else {
                RunSums(line + low, step, std::int64_t(pixels), high - low + 1, rules.Threshold, sums.data(),
                        counts.data());
                for (std::size_t j = 0; j < pixels; ++j) {
                    const std::uint16_t centre = line[std::int64_t(j) * step];
                    const bool extra = centre < rules.Threshold;
                    plan.Out.Put(
                        i * e1 + jlo + std::int64_t(j),
                        std::uint16_t((sums[j] + (extra ? centre : 0)) / (counts[j] + (extra ? 1 : 0))));
                }
            }
        }
    });
}

// Any other geometry (oblique turn, uneven rays, weighted maxima): each pixel walks its own offsets.
void WalkEachRay(const TWalkPlan& plan, std::span<const TAddressColumn> columns) {
    const std::int64_t e1 = plan.Width;
    std::int64_t samples = 0;
    for (const TAddressColumn& c : columns) samples += 1 + c.FarCount + c.NearCount;
    ForRanges(plan.Height, samples * plan.Height, [&](std::int64_t begin, std::int64_t end) {
        for (std::int64_t i = begin; i < end; ++i)
            for (std::int64_t j = 0; j < e1; ++j) {
                const TAddressColumn& column = columns[std::size_t(j)];
                plan.Out.Put(i * e1 + j,
                             column.Start == kOutsideColumn
                                 ? std::uint16_t(0)
                                 : PixelValue(plan.Store + plan.RowAt[std::size_t(i)] + column.Start / 2,
                                              std::span(plan.Far).first(std::size_t(column.FarCount)),
                                              std::span(plan.Near).first(std::size_t(column.NearCount)),
                                              plan.Rules));
            }
    });
}

// The straight cut of a picture without an oblique turn, when its inside columns are one evenly
// spaced run (columnStep samples apart) whose rays are all alike.
std::optional<TStraightCut> StraightCutOf(const TWalkPlan& plan, std::span<const TAddressColumn> columns,
                                          std::int64_t columnStep) {
    std::int64_t jlo = 0;
    while (jlo < plan.Width && columns[std::size_t(jlo)].Start == kOutsideColumn) ++jlo;
    std::int64_t jhi = plan.Width;
    while (jhi > jlo && columns[std::size_t(jhi - 1)].Start == kOutsideColumn) --jhi;
    if (jlo == jhi) return std::nullopt;
    const TAddressColumn& c0 = columns[std::size_t(jlo)];
    for (std::int64_t j = jlo; j < jhi; ++j) {
        const TAddressColumn& c = columns[std::size_t(j)];
        if (c.Start == kOutsideColumn || c.Start != c0.Start + (j - jlo) * columnStep * 2 ||
            c.FarCount != c0.FarCount || c.NearCount != c0.NearCount)
            return std::nullopt;
    }
    TStraightCut cut{jlo, jhi, columnStep, c0.Start / 2, {}, c0.FarCount + c0.NearCount, 0};
    cut.Entries = SlabEntries(std::span(plan.Far).first(std::size_t(c0.FarCount)),
                              std::span(plan.Near).first(std::size_t(c0.NearCount)));
    // Sums and plain maxima do not care about the order: read the cube forwards.
    if (plan.Rules.Mode == TRenderMode::Average || plan.Rules.DepthWeight == 0)
        std::sort(cut.Entries.begin(), cut.Entries.end(),
                  [](const TSlabEntry& a, const TSlabEntry& b) { return a.Offset < b.Offset; });
    cut.Work = (jhi - jlo) * plan.Height * (cut.Samples + 1);
    return cut;
}

// Whether each ray of the cut is one run of neighbouring samples, each taken once, from low to
// high (offsets from the centre, the centre left out): then depthStep is ±1 and the order of
// the samples does not matter.
bool RaysAreRuns(const TStraightCut& cut, std::int64_t depthStep, const TRayRules& rules, std::int64_t& low,
                 std::int64_t& high) {
    bool run = std::abs(depthStep) == 1 && (rules.Mode == TRenderMode::Average || rules.DepthWeight == 0);
    low = 0, high = 0;
    for (const TSlabEntry& e : cut.Entries) {
        run = run && e.Times == 1 && e.Offset != 0;
        low = std::min(low, e.Offset);
        high = std::max(high, e.Offset);
    }
    return run && std::int64_t(cut.Entries.size()) == high - low;
}

} // namespace

// ---- TSliceCache ----

void TSliceCache::Clear() {
    values_.reset();
    count_ = 0;
    Cube = nullptr;
    Path.clear();
    ThicknessKey = 0;
    AngleKey = 0;
}

void TSliceCache::Allocate(std::size_t n) {
    Clear();
    values_ = std::make_unique_for_overwrite<std::uint16_t[]>(n);
    count_ = n;
}

void TSliceCache::Apply(TLookupTable table, std::uint32_t* target, std::size_t n) const {
    if (target) MapValues(table, target, values_.get(), std::min(n, count_));
}

// ---- TSlice ----

void TSlice::ClearTables() {
    rows_.clear();
    columns_.clear();
    farSteps_.clear();
    nearSteps_.clear();
    farGeometry_.clear();
    nearGeometry_.clear();
}

void TSlice::BuildTables(std::int32_t thickness, std::int32_t angle) {
    ClearTables();
    if (!cube_) RaiseError("bad view path");
    const TLetter l1 = LetterOf(*cube_, position_, TPixelCube::PathLetter(path_, 0));
    const TLetter l2 = LetterOf(*cube_, position_, TPixelCube::PathLetter(path_, 1));
    const TLetter l3 = LetterOf(*cube_, position_, TPixelCube::PathLetter(path_, 2));
    distinctAxes_ = l1.Axis != l2.Axis && l1.Axis != l3.Axis && l2.Axis != l3.Axis;
    e1_ = l1.Extent, e2_ = l2.Extent, e3_ = l3.Extent;
    s1_ = l1.Step, s2_ = l2.Step, s3_ = l3.Step;
    const std::int64_t p = cube_->PixelSize();
    const std::int64_t c1 = l1.Coord, c3 = l3.Coord, m1 = l1.Metric, m3 = l3.Metric;

    const double theta = double(angle) * (2 * std::numbers::pi) / 360;
    const auto S = std::int64_t(std::nearbyint(std::sin(theta) * 1024));
    const auto C = std::int64_t(std::nearbyint(std::cos(theta) * 1024));
    sine_ = S, cosine_ = C;

    const std::int64_t rayLength =
        thickness > 0 ? Narrow(TWide(thickness - 1) * m3 / m1) : 2 * std::max({e1_, e2_, e3_});
    const std::int64_t nearLength = rayLength / 2, farLength = rayLength - rayLength / 2;

    sliceBase_ = Mul(s3_ >= 0 ? Mul(c3, s3_) : Mul(e3_ - c3 - 1, -s3_), p);

    rows_.assign(std::size_t(e2_), Mul(s2_, p));
    if (e2_ > 0)
        rows_[0] = Add(s2_ > 0 ? 0 : Mul(Mul(-s2_, p), e2_ - 1),
                       s1_ < 0 ? Mul(Mul(e1_ - c1 - 1, -s1_), p) : Mul(Mul(c1, s1_), p));

    // The ray steps depend on k alone, so all columns share one list and differ only in how far
    // they may walk it. Beyond a whole extent no column's ray can still be inside.
    const TWide depthScale = TWide(m3) * 1024;
    const auto fill = [&](std::int64_t length, int sense, std::vector<TStep>& geometry,
                          std::vector<std::int64_t>& steps) {
        for (std::int64_t k = 1; k <= length; ++k) {
            const std::int64_t du = Narrow(TWide(-sense) * S * k / 1024);
            const std::int64_t dv = Narrow(TWide(sense) * k * C * m1 / depthScale);
            if (std::abs(du) >= e1_ || std::abs(dv) >= e3_) break;
            if (k > kMaxRaySteps) RaiseRangeError();
            geometry.push_back({du, dv});
            steps.push_back(Mul(Add(Mul(du, s1_), Mul(dv, s3_)), p));
        }
    };
    fill(farLength, 1, farGeometry_, farSteps_);
    fill(nearLength, -1, nearGeometry_, nearSteps_);

    columns_.resize(std::size_t(e1_));
    const std::int64_t pivot = (c1 * C) / 1024;
    for (std::int64_t j = 0; j < e1_; ++j) {
        TAddressColumn& column = columns_[std::size_t(j)];
        const std::int64_t u = (j * C) / 1024 - pivot;
        const std::int64_t v = Narrow(TWide(j - c1) * S * m1 / depthScale);
        if (!(-c1 <= u && c1 + u < e1_ && -c3 <= v && c3 + v < e3_)) {
            column = {kOutsideColumn, 0, 0};
            continue;
        }
        column.Start = Mul(Add(Mul(u, s1_), Mul(v, s3_)), p);
        // Both coordinates move one way along a ray, so a ray, once outside, stays outside.
        const auto inside = [&](const TStep& step) {
            const std::int64_t a = c1 + u + step.Across, b = c3 + v + step.Depth;
            return a >= 0 && a < e1_ && b >= 0 && b < e3_;
        };
        column.FarCount = std::int32_t(
            std::partition_point(farGeometry_.begin(), farGeometry_.end(), inside) - farGeometry_.begin());
        column.NearCount = std::int32_t(
            std::partition_point(nearGeometry_.begin(), nearGeometry_.end(), inside) - nearGeometry_.begin());
    }
}

void TSlice::Extract(std::span<std::uint32_t> target, std::int64_t targetSize, const TSliceRequest& request,
                     TSliceCache& cache) {
    path_ = request.Path;
    position_ = request.Position;
    const std::int32_t thickness = request.Thickness, angle = request.Angle;
    const std::int64_t p = cube_ ? cube_->PixelSize() : 0;
    // Only whole-cube projections are served from the cache. A target too small for the cached
    // picture is never written past its end.
    if (p == 2 && 2 * std::int64_t(cache.Count()) == targetSize && thickness == 0 &&
        cache.ThicknessKey == 0 && cache.Cube == cube_ && cache.AngleKey == angle && cache.Path == path_ &&
        target.size() >= cache.Count()) {
        cache.Apply(request.Table, target.data(), cache.Count());
        return;
    }
    cache.Clear();
    ClearTables();
    bool filled = false;
    try {
        if (!target.data() || !cube_) return;
        const std::int64_t e1 = LetterOf(*cube_, position_, TPixelCube::PathLetter(path_, 0)).Extent;
        const std::int64_t e2 = LetterOf(*cube_, position_, TPixelCube::PathLetter(path_, 1)).Extent;
        const std::int64_t e3 = LetterOf(*cube_, position_, TPixelCube::PathLetter(path_, 2)).Extent;
        if (e1 == 0 || e2 == 0 || e3 == 0) return;
        const std::int64_t pixels = Mul(e1, e2);
        // The size must match, and the memory behind the address must hold it and the picture.
        if (targetSize != Mul(p, pixels) || targetSize < 0 ||
            std::uint64_t(targetSize) > target.size_bytes() ||
            ((p == 2 || p == 4) && std::uint64_t(pixels) > target.size()))
            RaiseError("Invalid buffer size...");
        cube_->VoxelPtr(0, 0, 0);
        BuildTables(thickness, angle);
        // A 16-bit picture is written whole below, so its zero fill matters only on failure.
        filled = true;
        if (p != 2) std::memset(target.data(), 0, std::size_t(targetSize));
        // A path that names one axis twice has no picture (its steps would leave the store):
        // it stays blank.
        if (!distinctAxes_) {
            if (p == 2 || p == 4) std::fill_n(target.data(), pixels, 0u);
            RaiseError("bad view path");
        }
        if (p == 2) {
            cache.Allocate(std::size_t(pixels));
            Walk16(cache.Values(), request.Mode, request.DepthWeight, request.Threshold, request.Table,
                   target.data());
            cache.Cube = cube_;
            cache.AngleKey = angle;
            cache.Path = path_;
            cache.ThicknessKey = thickness;
        } else if (p == 4) {
            Walk32(target.data());
        }
    } catch (...) {
        cache.Clear();
        if (filled && p == 2) std::memset(target.data(), 0, std::size_t(targetSize));
    }
}

void TSlice::Walk32(std::uint32_t* target) const {
    const std::uint8_t* store = cube_->Voxels();
    std::int64_t row = sliceBase_;
    for (std::int64_t i = 0; i < e2_; ++i) {
        row = Add(row, rows_[std::size_t(i)]);
        for (std::int64_t j = 0; j < e1_; ++j) {
            const TAddressColumn& column = columns_[std::size_t(j)];
            if (column.Start == kOutsideColumn) continue;
            std::memcpy(target + i * e1_ + j, store + row + column.Start, 4);
        }
    }
}

void TSlice::Walk16(std::uint16_t* values, TRenderMode mode, std::int32_t depthWeight,
                    std::uint16_t threshold, TLookupTable table, std::uint32_t* target) const {
    const TRayRules rules{mode == TRenderMode::Maximum ? TRenderMode::Maximum : TRenderMode::Average,
                          depthWeight, threshold};
    TWalkPlan plan{.Store = reinterpret_cast<const std::uint16_t*>(cube_->Voxels()),
                   .Out = {values, target, table},
                   .Rules = rules,
                   .Width = e1_,
                   .Height = e2_};
    plan.RowAt.resize(std::size_t(e2_));
    std::int64_t row = sliceBase_;
    for (std::int64_t i = 0; i < e2_; ++i) {
        row = Add(row, rows_[std::size_t(i)]);
        plan.RowAt[std::size_t(i)] = row / 2;
    }
    const auto samples = [](std::int64_t bytes) { return bytes / 2; };
    plan.Far.resize(farSteps_.size());
    plan.Near.resize(nearSteps_.size());
    std::transform(farSteps_.begin(), farSteps_.end(), plan.Far.begin(), samples);
    std::transform(nearSteps_.begin(), nearSteps_.end(), plan.Near.begin(), samples);

    if (const auto cut = sine_ == 0 ? StraightCutOf(plan, columns_, (cosine_ / 1024) * s1_) : std::nullopt) {
        for (std::int64_t i = 0; i < e2_; ++i) {
            for (std::int64_t j = 0; j < cut->FirstColumn; ++j) plan.Out.Put(i * e1_ + j, 0);
            for (std::int64_t j = cut->EndColumn; j < e1_; ++j) plan.Out.Put(i * e1_ + j, 0);
        }
        // Sums, counts and list positions must fit their 32- and 16-bit accumulators.
        const bool fits = rules.Mode == TRenderMode::Average
                              ? cut->Samples < 65535
                              : (rules.DepthWeight == 0 || cut->Samples < 32768);
        if (fits && (std::abs(cut->ColumnStep) == 1 || std::abs(s2_) == 1))
            return CutSlabLines(plan, *cut, s2_);
        if (cut->Entries.empty()) return GatherThinSlice(plan, *cut);
        std::int64_t low = 0, high = 0;
        if (RaysAreRuns(*cut, s3_, rules, low, high) && cut->Samples < 65535)
            return ReduceRaysAlongMemory(plan, *cut, low, high);
    }
    WalkEachRay(plan, columns_);
}

bool TPixelCube::RenderSlice(const TSliceRequest& request, TBitmap32& target, TSliceCache& cache) {
    TSlice slice;
    slice.SetCube(this);
    const std::int32_t width = ExtentAlong(request.Path, 0);
    const std::int32_t height = ExtentAlong(request.Path, 1);
    bool resized = false;
    if (target.Width() != width || target.Height() != height) {
        target.SetWidth(width);
        target.SetHeight(height);
        resized = true;
    }
    const std::size_t pixels = std::size_t(target.Width()) * std::size_t(target.Height());
    std::int64_t size = 0;
    if (__builtin_mul_overflow(std::int64_t(pixelSize_) * width, std::int64_t(height), &size)) size = -1;
    slice.Extract(std::span(target.Bits(), pixels), size, request, cache);
    return resized;
}

} // namespace tarvicon
