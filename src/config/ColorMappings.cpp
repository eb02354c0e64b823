#include "config/ColorMappings.h"

#include <algorithm>
#include <cmath>

namespace tarvicon {

namespace {

struct THsl {
    float Hue, Saturation, Lightness;
};

THsl ToHsl(TColor color) {
    const float r = float((color >> 16) & 0xFF) / 255.0f;
    const float g = float((color >> 8) & 0xFF) / 255.0f;
    const float b = float(color & 0xFF) / 255.0f;
    const float max = std::max({r, g, b});
    const float min = std::min({r, g, b});
    THsl hsl{0, 0, (max + min) / 2};
    if (max == min) return hsl;
    const float delta = max - min;
    hsl.Saturation = hsl.Lightness < 0.5f ? delta / (max + min) : delta / (2 - max - min);
    float hue;
    if (r == max)
        hue = (g - b) / delta;
    else if (g == max)
        hue = 2 + (b - r) / delta;
    else
        hue = 4 + (r - g) / delta;
    hue /= 6;
    if (hue < 0) hue += 1;
    hsl.Hue = hue;
    return hsl;
}

std::uint32_t Channel(float m1, float m2, float h) {
    h -= std::floor(h);
    float value;
    if (h < 1.0f / 6)
        value = m1 + (m2 - m1) * 6 * h;
    else if (h < 0.5f)
        value = m2;
    else if (h < 2.0f / 3)
        value = m1 + (m2 - m1) * (2.0f / 3 - h) * 6;
    else
        value = m1;
    return static_cast<std::uint32_t>(std::nearbyint(value * 255));
}

TColor FromHsl(const THsl& hsl) {
    if (hsl.Saturation == 0) {
        const auto grey = static_cast<std::uint32_t>(std::nearbyint(hsl.Lightness * 255));
        return 0xFF000000u | grey << 16 | grey << 8 | grey;
    }
    const float m2 = hsl.Lightness <= 0.5f ? hsl.Lightness * (1 + hsl.Saturation)
                                           : hsl.Lightness + hsl.Saturation - hsl.Lightness * hsl.Saturation;
    const float m1 = 2 * hsl.Lightness - m2;
    return 0xFF000000u | Channel(m1, m2, hsl.Hue + 1.0f / 3) << 16 | Channel(m1, m2, hsl.Hue) << 8 |
           Channel(m1, m2, hsl.Hue - 1.0f / 3);
}

} // namespace

TColor Blend(std::uint16_t v, std::uint16_t from, std::uint16_t to, TColor c1, TColor c2) {
    std::int32_t t = 128;
    if (from != to)
        t = (std::int32_t(v) - std::int32_t(from)) * 255 / (std::int32_t(to) - std::int32_t(from));
    t = std::clamp(t, 0, 255);
    const std::int32_t u = 255 - t;
    TColor result = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const std::uint32_t a = (c1 >> shift) & 0xFF;
        const std::uint32_t b = (c2 >> shift) & 0xFF;
        result |= ((a * std::uint32_t(u) + b * std::uint32_t(t)) >> 8) << shift;
    }
    return result;
}

void TColorMapping::Build() {
    TColorMappingNode::Build();
    SetGamma(1);
}

void TColorMapping::Change(TConfigNode& node, const std::string& path) {
    TColorMappingNode::Change(node, path);
    dirty_ = true;
}

void TColorMapping::LoadParams() {
    auto& scaling = NodeAt<TScalingNode>(*this, "level/scaling");
    scaling.Refresh();
    scaleLow_ = scaling.RawLow();
    scaleHigh_ = scaling.RawHigh();
    windowLow_ = scaling.ValueToRaw(false, FindNode("level/low")->GetAsFloat());
    windowHigh_ = scaling.ValueToRaw(true, FindNode("level/high")->GetAsFloat());
    const double x = std::clamp(FindNode("level/phase")->GetAsFloat() / 100, 0.0, 1.0);
    phaseSplit_ = static_cast<std::uint16_t>(
        windowLow_ + std::nearbyint((std::int32_t(windowHigh_) - std::int32_t(windowLow_)) * x));
    const auto color = [&](const char* name) {
        return NodeAt<TColorNode>(*this, std::string("coloring/") + name).GetColor();
    };
    background_ = color("background");
    zero_ = color("zero");
    low_ = color("low");
    high_ = color("high");
    phaseLow_ = color("phaselow");
    phaseHigh_ = color("phasehigh");
    range_ = color("range");
    phaseMode_ = NodeAt<TPhaseNode>(*this, "coloring/phasemode").Value();
    const auto& table = NodeAt<TColoringNode>(*this, "coloring").Table();
    coloringTable_ = table ? &*table : nullptr;
}

TColor TColorMapping::ColorOf(std::uint16_t v) const {
    const std::uint16_t l = windowLow_, h = windowHigh_, p = phaseSplit_;
    if (l == h) return v == l ? range_ : background_;
    if (l > h) return v < h || v > l ? background_ : Blend(v, h, l, low_, high_);
    if (v < l) return Blend(v, 0, l, zero_, low_);
    if (v < scaleLow_) return background_;
    if (v > h) return Blend(v, h, scaleHigh_, high_, range_);
    if (coloringTable_)
        return (*coloringTable_)[((std::int32_t(v) - l) * 255 / (std::int32_t(h) - l)) & 0xFF];
    if (p == l) return Blend(v, l, h, low_, high_);
    const TColor ramp = v <= p ? Blend(v, l, p, low_, phaseLow_) : Blend(v, p, h, phaseHigh_, high_);
    switch (phaseMode_) {
    case 0:
        return ramp;
    case 1: {
        const THsl tint = ToHsl(ramp);
        return FromHsl({tint.Hue, tint.Saturation, ToHsl(Blend(v, l, h, low_, high_)).Lightness});
    }
    case 2: {
        const THsl base = ToHsl(Blend(v, l, h, low_, high_));
        return FromHsl({base.Hue, base.Saturation, ToHsl(ramp).Lightness});
    }
    default:
        return 0;
    }
}

void TColorMapping::SetGamma(double gamma) {
    dirty_ = true;
    gamma_ = gamma;
    for (int i = 0; i < 256; ++i)
        gammaTable_[std::size_t(i)] = static_cast<std::uint8_t>(
            std::clamp(std::nearbyint(255 * std::pow(i / 255.0, gamma)), 0.0, 255.0));
}

TColor TColorMapping::ApplyGamma(TColor c) const {
    return (c & 0xFF000000u) | TColor(gammaTable_[(c >> 16) & 0xFF]) << 16 |
           TColor(gammaTable_[(c >> 8) & 0xFF]) << 8 | gammaTable_[c & 0xFF];
}

void TColorMapping::FillTable(TColorTable* table) {
    if (!table) return;
    LoadParams();
    SetGamma(gamma_);
    // Above the window, the scale and the bottom of the scale every rule gives one colour (the
    // ramps clamp), so only the entries below that point need a colour each.
    const std::uint32_t flatFrom = 1u + std::max({windowLow_, windowHigh_, scaleLow_, scaleHigh_});
    bool changed = false;
    for (std::uint32_t v = 0; v < flatFrom; ++v) {
        const TColor colour = ApplyGamma(ColorOf(static_cast<std::uint16_t>(v)));
        changed |= (*table)[v] != colour;
        (*table)[v] = colour;
    }
    if (flatFrom < table->size()) {
        const TColor flat = ApplyGamma(ColorOf(static_cast<std::uint16_t>(flatFrom)));
        const auto rest = table->begin() + flatFrom;
        changed |= std::any_of(rest, table->end(), [flat](TColor c) { return c != flat; });
        std::fill(rest, table->end(), flat);
    }
    dirty_ = false;
    if (changed) ++fills_;
}

std::optional<TPalette> TColorMapping::CreatePalette(bool force) const {
    // Read from the tree, not through LoadParams: the view and the colour bar go on reading the
    // window of the last FillTable.
    const auto& table = NodeAt<TColoringNode>(*this, "coloring").Table();
    if (!table && !force) return std::nullopt;
    const TColor low = NodeAt<TColorNode>(*this, "coloring/low").GetColor();
    const TColor high = NodeAt<TColorNode>(*this, "coloring/high").GetColor();
    TPalette palette;
    for (std::uint16_t i = 0; i < 256; ++i) {
        const TColor c = table ? (*table)[i] : Blend(i, 0, 255, low, high);
        palette[i] = {static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                      static_cast<std::uint8_t>(c), 2};
    }
    return palette;
}

} // namespace tarvicon
