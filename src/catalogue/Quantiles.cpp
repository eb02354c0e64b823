#include "catalogue/Quantiles.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace tarvicon {

namespace {

constexpr std::int32_t kHighest = 65535;

double Clamped(double value, double upper) {
    return std::isnan(value) ? 0.0 : std::clamp(value, 0.0, upper);
}

} // namespace

std::int32_t DoOnQuantilValue(TPixelCube* cube, double percent, double factor) {
    if (cube == nullptr) return kHighest;
    // 256 KiB of counts: too much for the stack of a user-interface callback.
    const auto counts = std::make_unique<THistogram>();
    cube->Histogram(*counts, 0, 0, 0, 0);
    factor = Clamped(factor, 100000.0);
    percent = Clamped(percent, 200.0);
    const double target = std::trunc(double(counts->back()) * percent / 100.0);
    const auto reached = std::find_if(counts->begin(), counts->end(),
                                      [target](std::uint32_t count) { return count >= target; });
    if (reached == counts->end()) return kHighest;
    const double scale = factor / 100.0;
    const double value = std::trunc(double(reached - counts->begin()) * (scale * scale * scale));
    return value > kHighest ? kHighest : static_cast<std::int32_t>(value);
}

} // namespace tarvicon
