#include "config/ColorMappings.h"
#include "config/XmlDocs.h"

#include <cmath>
#include <gtest/gtest.h>

namespace tarvicon {
namespace {

constexpr TColor Argb(unsigned a, unsigned r, unsigned g, unsigned b) {
    return a << 24 | r << 16 | g << 8 | b;
}

// The ramp written out channel by channel, as an independent check of the table.
TColor ReferenceRamp(long v, long from, long to, TColor c1, TColor c2) {
    long t = from == to ? 128 : (v - from) * 255 / (to - from);
    t = std::max(0L, std::min(255L, t));
    TColor out = 0;
    for (int k = 0; k < 4; ++k) {
        const long a = (c1 >> (8 * k)) & 255, b = (c2 >> (8 * k)) & 255;
        out |= TColor((a * (255 - t) + b * t) / 256) << (8 * k);
    }
    return out;
}

struct TMappingFixture {
    std::unique_ptr<TPresetNode> root = CreateParameterTree();
    TColorMapping& mapping = NodeAt<TColorMapping>(*root, "detail/colormapping");
    std::unique_ptr<TColorTable> table = std::make_unique<TColorTable>();

    void Level(const char* low, const char* high, const char* phase = "0") {
        root->FindNode("detail/colormapping/level/low")->SetText(low);
        root->FindNode("detail/colormapping/level/high")->SetText(high);
        root->FindNode("detail/colormapping/level/phase")->SetText(phase);
    }
    const TColorTable& Fill() {
        mapping.FillTable(table.get());
        return *table;
    }
};

// The whole table for a window without colour table or phase, gamma 1, default colours.
void ExpectWholeTable(const TColorTable& table, long low, long high) {
    const TColor background = Argb(255, 0, 0, 5), zero = Argb(255, 0, 0, 16), lowColor = Argb(255, 0, 0, 0),
                 highColor = Argb(255, 255, 255, 255), range = Argb(255, 250, 250, 255);
    for (long v = 0; v < 65536; ++v) {
        TColor expected;
        if (low == high)
            expected = v == low ? range : background;
        else if (low > high)
            expected = v < high || v > low ? background : ReferenceRamp(v, high, low, lowColor, highColor);
        else if (v < low)
            expected = ReferenceRamp(v, 0, low, zero, lowColor);
        else if (v < 10)
            expected = background;
        else if (v > high)
            expected = ReferenceRamp(v, high, 2000, highColor, range);
        else
            expected = ReferenceRamp(v, low, high, lowColor, highColor);
        ASSERT_EQ(table[std::size_t(v)], expected) << "entry " << v;
    }
}

TEST(ColorMapping, WholeTablesOfTheDefaultScaling) {
    TMappingFixture f;
    f.Level("0", "0");
    EXPECT_TRUE(f.mapping.Dirty());
    ExpectWholeTable(f.Fill(), 10, 10);
    EXPECT_FALSE(f.mapping.Dirty());
    EXPECT_EQ((*f.table)[10], Argb(255, 250, 250, 255));
    EXPECT_EQ((*f.table)[11], Argb(255, 0, 0, 5));

    f.Level("20", "80");
    EXPECT_TRUE(f.mapping.Dirty());
    const TColorTable& window = f.Fill();
    EXPECT_EQ(f.mapping.WindowLow(), 408);
    EXPECT_EQ(f.mapping.WindowHigh(), 1602);
    ExpectWholeTable(window, 408, 1602);
    const std::pair<int, TColor> spots[] = {
        {0, Argb(254, 0, 0, 15)},         {200, Argb(254, 0, 0, 8)},        {408, Argb(254, 0, 0, 0)},
        {1005, Argb(254, 126, 126, 126)}, {1602, Argb(254, 254, 254, 254)}, {1700, Argb(254, 252, 252, 254)},
        {2000, Argb(254, 249, 249, 254)}, {65535, Argb(254, 249, 249, 254)}};
    for (const auto& [v, color] : spots) EXPECT_EQ(window[std::size_t(v)], color) << v;

    f.Level("80", "20");
    ExpectWholeTable(f.Fill(), 1602, 408);
    EXPECT_EQ((*f.table)[407], Argb(255, 0, 0, 5));
    EXPECT_EQ((*f.table)[1005], Argb(254, 126, 126, 126));

    // window past both ends of the scale: below the scale's bottom and above its top
    f.Level("-50", "120");
    ExpectWholeTable(f.Fill(), 0, 2398);
    f.Level("100", "2000000");
    ExpectWholeTable(f.Fill(), 2000, 65535);
}

TEST(ColorMapping, PhaseSplitsTheWindow) {
    TMappingFixture f;
    f.Level("20", "80", "50");
    const TColorTable& table = f.Fill();
    EXPECT_EQ(f.mapping.PhaseSplit(), 1005);
    // both: low -> phaselow up to the split, phasehigh -> high above it
    EXPECT_EQ(table[1005], ReferenceRamp(1005, 408, 1005, Argb(255, 0, 0, 0), Argb(255, 128, 64, 64)));
    EXPECT_EQ(table[1006],
              ReferenceRamp(1006, 1005, 1602, Argb(255, 128, 128, 64), Argb(255, 255, 255, 255)));

    // tint keeps hue and saturation of the ramp and the grey base's lightness; intensity the reverse,
    // and the base being grey, intensity results are grey.
    f.root->FindNode("detail/colormapping/coloring/phasemode")->SetText("tint");
    const TColor tint = f.Fill()[1300];
    EXPECT_EQ(tint >> 24, 255u);
    const TColor base = ReferenceRamp(1300, 408, 1602, Argb(255, 0, 0, 0), Argb(255, 255, 255, 255));
    const auto lightness = [](TColor c) {
        const int r = (c >> 16) & 255, g = (c >> 8) & 255, b = c & 255;
        return (std::max({r, g, b}) + std::min({r, g, b})) / 2.0;
    };
    EXPECT_NEAR(lightness(tint), lightness(base), 1.0);
    EXPECT_NE((tint >> 16) & 255, tint & 255); // coloured, not grey
    f.root->FindNode("detail/colormapping/coloring/phasemode")->SetText("intensity");
    const TColor intensity = f.Fill()[1300];
    EXPECT_EQ((intensity >> 16) & 255, intensity & 255);
    EXPECT_EQ(intensity >> 24, 255u);
}

TEST(ColorMapping, GammaTables) {
    TMappingFixture f;
    const struct {
        double gamma;
        int entry, value;
    } cases[] = {{2, 64, 16},  {2, 128, 64},     {0.5, 1, 16}, {0.5, 64, 128}, {0.5, 128, 181},
                 {0.25, 0, 0}, {0.25, 255, 255}, {4, 0, 0},    {4, 255, 255},  {1, 77, 77}};
    for (const auto& c : cases) {
        f.mapping.SetGamma(c.gamma);
        EXPECT_EQ(f.mapping.GammaTable()[std::size_t(c.entry)], c.value) << c.gamma << " " << c.entry;
    }
    // Gamma applies to red, green and blue of every entry, never alpha.
    f.Level("20", "80");
    f.mapping.SetGamma(2);
    const TColorTable& table = f.Fill();
    EXPECT_EQ(table[1005], Argb(254, 62, 62, 62));
    EXPECT_TRUE(f.mapping.Dirty() == false);
    f.mapping.SetGamma(2);
    EXPECT_TRUE(f.mapping.Dirty());
    f.mapping.FillTable(nullptr);
    EXPECT_TRUE(f.mapping.Dirty());
}

TEST(ColorMapping, ColourTableInsideTheWindowAndPalettes) {
    TMappingFixture f;
    EXPECT_FALSE(f.mapping.CreatePalette(false).has_value());
    const auto ramp = f.mapping.CreatePalette(true);
    ASSERT_TRUE(ramp.has_value());
    EXPECT_EQ((*ramp)[0].Red, 0);
    EXPECT_EQ((*ramp)[255].Red, 254);
    EXPECT_EQ((*ramp)[128].Flags, 2);

    std::string text = "<c><colortables><colortable id=\"t\">";
    for (int i = 0; i < 256; ++i)
        text += "<value R=\"" + std::to_string(i) + "\" G=\"1\" B=\"2\" A=\"255\"/>";
    text += "</colortable></colortables><coloring><colortable id=\"t\"/></coloring></c>";
    TXmlDocument xml;
    ASSERT_TRUE(xml.LoadXml(text));
    NodeAt<TColoringNode>(f.mapping, "coloring")
        .LoadFromXml(false, xml.Root(), xml.Root().child("coloring"), {});
    f.Level("20", "80");
    const TColorTable& table = f.Fill();
    EXPECT_EQ(table[408], Argb(255, 0, 1, 2));
    EXPECT_EQ(table[1602], Argb(255, 255, 1, 2));
    EXPECT_EQ(table[1005], Argb(255, (1005 - 408) * 255 / (1602 - 408), 1, 2));
    // Outside the window the ramps run to the table's first and last entries.
    EXPECT_EQ(table[407], ReferenceRamp(407, 0, 408, Argb(255, 0, 1, 2), Argb(255, 0, 1, 2)));
    EXPECT_EQ(table[3000], Argb(254, 254, 0, 1));
    const auto palette = f.mapping.CreatePalette(false);
    ASSERT_TRUE(palette.has_value());
    EXPECT_EQ((*palette)[200].Red, 200);
    EXPECT_EQ((*palette)[200].Blue, 2);
}

// The view and the colour bar read the window of the last FillTable; making a palette for an
// export in between must not move it, nor the colours the table was filled with.
TEST(ColorMapping, PaletteKeepsTheStateOfTheLastFill) {
    TMappingFixture f;
    f.Level("20", "80", "50");
    const TColorTable filled = f.Fill();
    f.Level("30", "60", "10");
    NodeAt<TColorNode>(f.mapping, "coloring/low").SetColor(Argb(255, 64, 32, 48));
    const auto palette = f.mapping.CreatePalette(true);
    ASSERT_TRUE(palette.has_value());
    EXPECT_EQ((*palette)[0].Red, 64 * 255 / 256) << "the palette takes the current low colour";
    EXPECT_EQ(f.mapping.ScaleLow(), 10);
    EXPECT_EQ(f.mapping.WindowLow(), 408);
    EXPECT_EQ(f.mapping.WindowHigh(), 1602);
    EXPECT_EQ(f.mapping.PhaseSplit(), 1005);
    EXPECT_EQ(f.mapping.ScaleHigh(), 2000);
    for (const std::uint16_t v : {0, 200, 408, 700, 1005, 1300, 1602, 1700, 3000})
        EXPECT_EQ(f.mapping.ColorOf(v), filled[v]) << "entry " << v;
}

} // namespace
} // namespace tarvicon
