#include "catalogue/AutoLevels.h"

#include "config/Schema.h"
#include "dicom/Dicoms.h"
#include "util/Strings.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

namespace tarvicon {

namespace {

// The first value of a multi-valued entry, read as a number.
std::optional<double> FirstNumber(const std::vector<std::string>& elements, const char* key) {
    std::string text = LookupValue(elements, key);
    return ParseReal(Trim(SplitFirst(text, '\\')));
}

std::uint16_t RoundedRaw(double value) {
    return static_cast<std::uint16_t>(std::clamp(std::nearbyint(value), 0.0, 65535.0));
}

// Low and high raw values from the header's window, when all four entries are there.
std::optional<std::pair<std::uint16_t, std::uint16_t>> HeaderWindow(const TDicomObject& object, int slice) {
    const auto& elements = object.ImageElements(slice);
    const auto intercept = FirstNumber(elements, "0028.1052");
    const auto slope = FirstNumber(elements, "0028.1053");
    const auto centre = FirstNumber(elements, "0028.1050");
    const auto width = FirstNumber(elements, "0028.1051");
    if (!intercept || !slope || !centre || !width || *slope == 0 || std::trunc(*centre) != *centre ||
        std::trunc(*width) != *width)
        return std::nullopt;
    const double h = std::trunc(*width / 2);
    return std::pair{RoundedRaw((*centre - h - *intercept) / *slope),
                     RoundedRaw((*centre + h - *intercept) / *slope)};
}

} // namespace

void Autolevels(TDicomObject& object, TConfigNode& level, int count) {
    auto& scaling = NodeAt<TScalingNode>(level, "scaling");
    const TCubePoint p = object.Position();
    if (count > 0) {
        std::optional<std::pair<std::uint16_t, std::uint16_t>> window;
        try {
            window = HeaderWindow(object, p.Z);
        } catch (const std::exception&) {
            window.reset(); // an unreadable header falls back to the histogram
        }
        if (window) {
            const double low = scaling.RawToValue(window->first, true);
            const double high = scaling.RawToValue(window->second, false);
            NodeAt<TConfigNode>(level, "center").SetAsFloat((low + high) / 2);
            NodeAt<TConfigNode>(level, "width").SetAsFloat(high - low);
            return;
        }
    }
    const auto counts = std::make_unique<THistogram>();
    object.Cube().Histogram(*counts, count <= 0 ? -count : 0, p.X, p.Y, p.Z);
    const double base = (*counts)[10];
    const double total = double((*counts)[65535]) - base;
    int lo = 0, hi = 65535;
    if (total != 0) {
        for (int v = 11; v <= 65535; ++v)
            if (((*counts)[std::size_t(v)] - base) / total > 0.2) {
                lo = v - 1;
                break;
            }
        for (int v = 65534; v >= 0; --v)
            if (((*counts)[std::size_t(v)] - base) / total < 0.8) {
                hi = v + 1;
                break;
            }
    }
    const int c = (hi - lo) * 50 / 100;
    lo = std::max(0, lo - c);
    hi = std::min(65535, hi + c);
    NodeAt<TConfigNode>(level, "low").SetAsFloat(scaling.RawToValue(lo, true));
    NodeAt<TConfigNode>(level, "high").SetAsFloat(scaling.RawToValue(hi, false));
}

} // namespace tarvicon
