#include "config/Schema.h"

#include "config/ColorMappings.h"
#include "config/XmlDocs.h"
#include "support/TestSupport.h"
#include "util/Errors.h"

#include <gtest/gtest.h>

namespace tarvicon {
namespace {

using test::ErrorOf;

TEST(Schema, QuantileNotationOfTheScaling) {
    const struct {
        const char* child;
        const char* text;
        bool provider;
        const char* stored;
    } cases[] = {
        {"low", "100Q99", true, "480"}, {"low", "100Q99", false, "100"}, {"high", "70000Q99", false, "65535"},
        {"low", "12", true, "12"},      {"high", "q", false, "100"},     {"low", " 50q300 ", true, "480"},
        {"steps", "7Q1", true, "0"}, // only "low" and "high" know the notation
    };
    for (const auto& c : cases) {
        auto root = CreateParameterTree();
        auto& scaling = NodeAt<TScalingNode>(*root, "detail/colormapping/level/scaling");
        std::vector<std::pair<double, double>> asked;
        if (c.provider)
            scaling.SetOnQuantilValue([&](TScalingNode&, double factor, double percent) {
                asked.emplace_back(factor, percent);
                return 480;
            });
        scaling.FindChild(c.child)->SetText(c.text);
        EXPECT_EQ(scaling.FindChild(c.child)->GetText(), c.stored) << c.text;
        if (std::string(c.text) == " 50q300 ") {
            EXPECT_EQ(asked, (std::vector<std::pair<double, double>>{{50, 200}}));
        }
    }
}

TEST(Schema, ScalingMapsValuesToRawAndBack) {
    auto root = CreateParameterTree();
    auto& scaling = NodeAt<TScalingNode>(*root, "detail/colormapping/level/scaling");
    for (const auto& [value, raw] :
         std::vector<std::pair<double, int>>{{0, 10}, {100, 2000}, {50, 1005}, {150, 2995}, {-10, 0}})
        EXPECT_EQ(scaling.ValueToRaw(true, value), raw) << value;
    for (const auto& [raw, value] : std::vector<std::pair<double, double>>{{10, 0}, {2000, 100}, {1005, 50}})
        EXPECT_DOUBLE_EQ(scaling.RawToValue(raw, true), value);
    scaling.FindChild("max")->SetText("0");
    EXPECT_TRUE(scaling.Dirty());
    EXPECT_EQ(scaling.ValueToRaw(true, 42), 10);
    EXPECT_EQ(scaling.ValueToRaw(false, 42), 2000);
    scaling.FindChild("high")->SetText("10");
    EXPECT_EQ(scaling.RawToValue(77, true), 0);
}

TEST(Schema, PhaseModeTexts) {
    auto root = CreateParameterTree();
    auto& phase = NodeAt<TPhaseNode>(*root, "detail/colormapping/coloring/phasemode");
    for (const auto& [text, value] : std::vector<std::pair<const char*, int>>{
             {"tint", 1}, {"TiNt", 1}, {"INTENSITY", 2}, {"both", 0}, {"2", 0}, {"", 0}, {"x", 0}}) {
        phase.SetText("tint");
        phase.SetText(text);
        EXPECT_EQ(phase.Value(), value) << text;
    }
    EXPECT_EQ(phase.GetText(), "both");
}

std::string ColorTable(int entries, bool alpha, const char* extra = "") {
    std::string text = "<colortable id=\"hot\">";
    for (int i = 0; i < entries; ++i) {
        text += "<value R=\"" + std::to_string(i) + "\" G=\"" + std::to_string(255 - i) + "\"";
        if (alpha) text += " A=\"200\"";
        text += i == 7 ? std::string(">") + extra + "</value>" : "><B>3</B></value>";
    }
    return text + "</colortable>";
}

std::string ColoringDocument(const std::string& table) {
    return "<config><colortables>" + table +
           "</colortables><colorings><coloring id=\"c\"><colortable id=\"hot\"/>"
           "</coloring></colorings></config>";
}

TEST(Schema, ColoringLoadsItsColourTable) {
    auto root = CreateParameterTree();
    auto& coloring = NodeAt<TColoringNode>(*root, "detail/colormapping/coloring");
    int changes = 0;
    coloring.SetOnChange(
        [&](TConfigNode&, TConfigNode& node, const std::string&) { changes += &node == &coloring; });
    TXmlDocument xml;
    ASSERT_TRUE(xml.LoadXml(ColoringDocument(ColorTable(256, false))));
    coloring.LoadFromXml(false, xml.Root(), SelectSingle(xml.Root(), "colorings/coloring").node(), {});
    ASSERT_TRUE(coloring.Table().has_value());
    EXPECT_EQ(coloring.TableId(), "hot");
    EXPECT_EQ((*coloring.Table())[0], 0x0000FF03u);   // no alpha: entry 0 transparent
    EXPECT_EQ((*coloring.Table())[255], 0xFFFF0003u); // entry 255 opaque
    EXPECT_EQ(NodeAt<TColorNode>(coloring, "low").GetColor(), 0x0000FF03u);
    EXPECT_EQ(NodeAt<TColorNode>(coloring, "zero").GetColor(), 0x0000FF03u);
    EXPECT_EQ(NodeAt<TColorNode>(coloring, "high").GetColor(), 0xFFFF0003u);
    EXPECT_EQ(NodeAt<TColorNode>(coloring, "range").GetColor(), 0xFFFF0003u);
    EXPECT_GE(changes, 1);

    // Saved with the table's id before the colours; loading the same table again reports nothing new.
    const std::string saved = root->SaveToString();
    EXPECT_LT(saved.find("<colortable id=\"hot\""), saved.find("<background"));
    changes = 0;
    coloring.SetOnChange({});
}

// A parameter snapshot names the table only by id: pasted with the configuration document as the
// root of its references, the coloring finds the table there and the rest of the snapshot loads.
TEST(Schema, ASnapshotFindsItsColourTableInTheReferenceDocument) {
    TXmlDocument xml;
    ASSERT_TRUE(xml.LoadXml(ColoringDocument(ColorTable(256, false))));
    auto source = CreateParameterTree();
    NodeAt<TColoringNode>(*source, "detail/colormapping/coloring")
        .LoadFromXml(false, xml.Root(), SelectSingle(xml.Root(), "colorings/coloring").node(), {});
    source->FindNode("detail/gamma")->SetAsFloat(1.7);
    const std::string snapshot = source->SaveToString();

    auto target = CreateParameterTree();
    target->LoadFromString(snapshot, xml.Root());
    const auto& coloring = NodeAt<TColoringNode>(*target, "detail/colormapping/coloring");
    ASSERT_TRUE(coloring.Table().has_value());
    EXPECT_EQ(*coloring.Table(), *NodeAt<TColoringNode>(*source, "detail/colormapping/coloring").Table());
    EXPECT_DOUBLE_EQ(target->FindNode("detail/gamma")->GetAsFloat(), 1.7);
}

TEST(Schema, BadColourTablesStopTheLoad) {
    const struct {
        std::string table;
        const char* message;
    } cases[] = {
        {ColorTable(255, true), "Invalid color table size (255)"},
        {ColorTable(256, true, "<B>256</B>"), "Range check error"},
        {"<colortable id=\"other\"/>", "Cannot find colortable hot"},
    };
    for (const auto& c : cases) {
        auto root = CreateParameterTree();
        auto& coloring = NodeAt<TColoringNode>(*root, "detail/colormapping/coloring");
        TXmlDocument xml;
        ASSERT_TRUE(xml.LoadXml(ColoringDocument(c.table)));
        EXPECT_EQ(ErrorOf([&] {
                      coloring.LoadFromXml(false, xml.Root(),
                                           SelectSingle(xml.Root(), "colorings/coloring").node(), {});
                  }),
                  c.message);
        EXPECT_FALSE(coloring.Table().has_value());
        EXPECT_EQ(coloring.TableId(), "hot");
    }
}

} // namespace
} // namespace tarvicon
