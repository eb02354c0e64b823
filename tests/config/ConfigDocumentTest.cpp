#include "config/ConfigDocuments.h"
#include "config/Schema.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace tarvicon {
namespace {

using test::ErrorOf;

const char* kDocument = R"(<initialize>
  <preset id="start"><detail><zoom>3</zoom></detail></preset>
  <presets>
    <preset shortcut="F2" caption="Soft"><detail><gamma>2</gamma></detail></preset>
    <preset shortcut="F3" match="Modality=MR"><detail><gamma>3</gamma></detail></preset>
    <preset id="start"><detail><zoom>9</zoom><alpha>40</alpha></detail></preset>
    <preset shortcut="Alt+F5"/>
  </presets>
  <scalings><scaling id="hu"><min>-1000</min><max>3000</max><low>24</low><high>4024</high></scaling></scalings>
  <levels>
    <level caption="Lung" hint="Lung window"><scaling id="hu"><units>HU</units></scaling><low>-1000</low><high>200</high></level>
  </levels>
  <colorings><coloring caption="Grey"/><coloring/><coloring/></colorings>
</initialize>)";

class ConfigDocument : public ::testing::Test {
protected:
    void SetUp() override { document.LoadXml(kDocument); }
    TConfigDocument document;
    std::unique_ptr<TPresetNode> root = CreateParameterTree();
    std::string Get(const char* path) { return root->FindNode(path)->GetText(); }
};

TEST_F(ConfigDocument, StartPresetFollowsItsIdAndNotifiesNobody) {
    int handled = 0;
    root->SetOnChange([&](TConfigNode&, TConfigNode&, const std::string&) { ++handled; });
    document.ApplyStartPreset(*root);
    EXPECT_EQ(Get("detail/zoom"), "3");   // own content over the shared definition
    EXPECT_EQ(Get("detail/alpha"), "40"); // from presets/preset[@id=start]
    EXPECT_EQ(handled, 0);
    EXPECT_EQ(root->UpdateCount(), 0);
}

TEST_F(ConfigDocument, ApplyPresetByKindAndIndex) {
    int handled = 0;
    root->SetOnChange([&](TConfigNode&, TConfigNode&, const std::string&) { ++handled; });
    EXPECT_TRUE(document.ApplyPreset(*root, "preset", 1)); // skipped by the shortcuts, still in the menu
    EXPECT_EQ(Get("detail/gamma"), "3");
    EXPECT_GT(handled, 0); // not silenced
    EXPECT_TRUE(document.ApplyPreset(*root, "preset", 2));
    EXPECT_EQ(Get("detail/zoom"), "9"); // the entry's own id is not followed: nothing else to load here
    EXPECT_TRUE(document.ApplyPreset(*root, "level", 0));
    EXPECT_EQ(Get("detail/colormapping/level/scaling/min"), "-1000");
    EXPECT_EQ(Get("detail/colormapping/level/scaling/units"), "HU");
    EXPECT_EQ(Get("detail/colormapping/level/low"), "-1000");
    EXPECT_FALSE(document.ApplyPreset(*root, "coloring", 5));
    EXPECT_FALSE(document.ApplyPreset(*root, "nothing", 0));
    EXPECT_TRUE(document.ApplyPreset(*root, "scaling", 0));
}

TEST_F(ConfigDocument, ShortcutsAndMenus) {
    const auto mr = [](const std::string& match) { return match == "Modality=MR"; };
    const auto ct = [](const std::string&) { return false; };
    const auto forCt = document.PresetShortcuts(ct);
    ASSERT_EQ(forCt.size(), 2u);
    EXPECT_EQ(forCt[0].Key, "F2");
    EXPECT_EQ(forCt[0].Index, 0);
    EXPECT_EQ(forCt[0].Caption, "Soft");
    EXPECT_EQ(forCt[0].Hint, "P\xC5\x99"
                             "edvolba F2");
    EXPECT_EQ(forCt[1].Key, "Alt+F5");
    EXPECT_EQ(forCt[1].Caption, "#3");
    EXPECT_EQ(document.PresetShortcuts(mr).size(), 3u);
    EXPECT_EQ(document.PresetShortcuts({}).size(), 2u); // no current series: matched presets skipped

    const auto colorings = document.MenuEntries("coloring");
    ASSERT_EQ(colorings.size(), 3u);
    EXPECT_EQ(colorings[0].Caption, "Grey");
    EXPECT_EQ(colorings[1].Hint, "Preset option          [coloring]");
    EXPECT_EQ(document.MenuEntries("level")[0].Hint, "Lung window          [level]");
}

TEST(ConfigDocumentFailures, BadDocumentsStopWithTheirMessage) {
    test::TTempDir folder;
    const auto path = folder.Path() / "broken.cfg";
    test::WriteFile(path, "<initialize>\n<presets>\n</initialize>");
    auto root = CreateParameterTree();
    TConfigDocument document;
    const std::string message = ErrorOf([&] { LoadConfiguration(document, path.string(), *root); });
    EXPECT_EQ(message, "Start-end tags mismatch\r\n" + path.string() + "(3/3)");
    EXPECT_EQ(root->UpdateCount(), 0); // the bracket is closed on failure too

    const std::string missing = R"(<initialize><preset><detail><zoom>5</zoom><colormapping>
        <coloring id="gone"/></colormapping><gamma>2</gamma></detail></preset></initialize>)";
    TConfigDocument second;
    second.LoadXml(missing);
    EXPECT_EQ(ErrorOf([&] { second.ApplyStartPreset(*root); }),
              "Cannot find configuration node coloring.gone");
    EXPECT_EQ(root->FindNode("detail/zoom")->GetText(), "5"); // loaded before the failure
    EXPECT_EQ(root->FindNode("detail/gamma")->GetText(),
              "2"); // the tree's order: gamma precedes colormapping
    EXPECT_EQ(root->UpdateCount(), 0);
}

} // namespace
} // namespace tarvicon
