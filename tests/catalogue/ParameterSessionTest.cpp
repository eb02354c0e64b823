#include "catalogue/CommandLines.h"
#include "catalogue/ParameterSessions.h"
#include "support/StudyFiles.h"
#include "support/TestSupport.h"
#include "util/Host.h"

#include <gtest/gtest.h>

namespace tarvicon {
namespace {

using test::ImageFile;
using test::TImage;

// A CT series of four slices (values 100 + z) and an MR image, with a document whose automatic
// preset for CT refers to a named preset and mirrors near and far at first sight.
class Session : public ::testing::Test {
protected:
    void SetUp() override {
        TImage slices;
        slices.Thickness = "1";
        slices.Size = 16;
        test::WriteSeries(folder.Path(), "ct", 4, slices);
        TImage mr;
        mr.Series = "1.2.3.7";
        mr.Modality = "MR";
        mr.Description = "Knee";
        test::WriteFile(folder.Path() / "mr", ImageFile(mr));
        tree.OperationPause = 0;
        session.BindTree(tree);
        tree.AddFolder(folder.Path().string());
        ASSERT_EQ(LoadToEnd(tree), "");
        ASSERT_EQ(tree.ObjectCount(), 2);
        ct = tree.ObjectAt(0);
        mrObject = tree.ObjectAt(1);
    }
    void Load(const std::string& document) {
        const std::string path = (folder.Path() / "doc.cfg").string();
        test::WriteFile(path, document);
        session.LoadConfiguration(path);
    }
    std::string Get(const std::string& path) { return session.Existing(path).GetText(); }

    test::TTempDir folder;
    TParameterSession session;
    TDicomTree tree;
    TDicomObject* ct = nullptr;
    TDicomObject* mrObject = nullptr;
};

const char* kDocument = R"(<initialize>
  <preset><detail><zoom>2</zoom></detail></preset>
  <initialize><select-overlay match="Modality=CT"/><select match=""/><select match="Modality=MR"/></initialize>
  <presets><preset id="ct"><detail><gamma>2</gamma><thickness>5</thickness></detail></preset></presets>
  <autosetup>
    <preset match="Modality=PT"><detail><gamma>3</gamma></detail></preset>
    <preset match="Modality=CT" id="ct"><detail><thickness>7</thickness></detail><inits><transpose-z/></inits></preset>
  </autosetup>
</initialize>)";

TEST_F(Session, AutoSetupLoadsTheFirstMatchingPresetAndItsInits) {
    EXPECT_EQ(session.AutoSetup(ct, true), TAutoSetupResult::NoDocument);
    Load(kDocument);
    EXPECT_EQ(Get("detail/zoom"), "2"); // the start preset
    tree.SelectObject(ct);
    const std::uint32_t nearest = ct->Cube().Voxel(0, 0, 0);
    EXPECT_EQ(session.AutoSetup(ct, false), TAutoSetupResult::Preset);
    EXPECT_EQ(Get("detail/gamma"), "2");           // the named preset first
    EXPECT_EQ(Get("detail/thickness"), "7");       // then the element's own content
    EXPECT_EQ(ct->Cube().Voxel(0, 0, 0), nearest); // inits only at first sight
    EXPECT_EQ(session.AutoSetup(ct, true), TAutoSetupResult::Preset);
    EXPECT_EQ(ct->Cube().Voxel(0, 0, 3), nearest); // near and far mirrored

    // Without a match: the series moves to world 0 and takes the automatic levels there.
    mrObject->SetPosition({0, 0, 0});
    const TCubePoint home = mrObject->Cube().WorldToIndex({0, 0, 0});
    ASSERT_NE(home.X, 0);
    EXPECT_EQ(session.AutoSetup(mrObject, true), TAutoSetupResult::Autolevels);
    EXPECT_EQ(mrObject->Position().X, home.X);
    EXPECT_EQ(mrObject->Position().Y, home.Y);
    EXPECT_EQ(session.AutoSetup(nullptr, true), TAutoSetupResult::Skipped);
}

TEST_F(Session, ShiftHeldSkipsTheAutoSetup) {
    class TShiftHost : public THeadlessHost {
    public:
        bool ShiftHeld() override { return true; }
    } host;
    const TScopedHost scoped(host);
    Load(kDocument);
    const std::string before = session.Root().SaveToString();
    EXPECT_EQ(session.AutoSetup(ct, true), TAutoSetupResult::Skipped);
    EXPECT_EQ(session.Root().SaveToString(), before);
}

TEST_F(Session, RulesWithoutMatchStopTheOperation) {
    Load("<initialize><autosetup><preset/></autosetup><initialize><select/></initialize></initialize>");
    EXPECT_EQ(test::ErrorOf([&] { session.AutoSetup(ct, true); }), "Preset without \"match\" attribute");
    EXPECT_EQ(test::ErrorOf([&] { session.ApplyInitialSelection(tree); }),
              "Select without \"match\" attribute");
}

TEST_F(Session, InitialSelectionChoosesOverlayThenSeries) {
    Load(kDocument);
    session.ApplyInitialSelection(tree);
    EXPECT_EQ(tree.OverlayObject(), ct);
    EXPECT_EQ(tree.SelectedObject(), mrObject); // the empty rule is skipped
}

// A listing may hold a matching series without pixels before one with them: the window opens on
// the one with a picture, and on the empty one only when no other matches.
TEST_F(Session, InitialSelectionPrefersASeriesWithAPicture) {
    Load(R"(<initialize><initialize><select match="Head"/></initialize></initialize>)");
    TDicomTree local;
    const auto add = [&](const std::string& caption, std::uint32_t depth) -> TDicomObject& {
        auto object = std::make_unique<TDicomSingleImage>();
        object->SetDescription("Head");
        object->Cube().SetWidth(depth ? 4 : 0);
        object->Cube().SetHeight(depth ? 4 : 0);
        object->Cube().SetDepth(depth);
        object->Cube().SetPixelSize(2);
        return local.AddObject(std::move(object), caption);
    };
    TDicomObject& empty = add("empty", 0);
    session.ApplyInitialSelection(local);
    EXPECT_EQ(local.SelectedObject(), &empty);
    TDicomObject& pictured = add("pictured", 3);
    session.ApplyInitialSelection(local);
    EXPECT_EQ(local.SelectedObject(), &pictured);
}

TEST_F(Session, SnapshotCarriesParametersAndPosition) {
    session.Existing("detail/gamma").SetText("1.5");
    session.Existing("detail/thickness").SetText("9");
    const std::string copied = session.CopyParameters({1000, -2000, 3000});
    session.Existing("detail/gamma").SetText("3");
    session.Existing("detail/thickness").SetText("1");
    const TCubePoint position = session.PasteParameters(copied);
    EXPECT_EQ(Get("detail/gamma"), "1.5");
    EXPECT_EQ(Get("detail/thickness"), "9");
    EXPECT_EQ(position.X, 1000);
    EXPECT_EQ(position.Y, -2000);
    EXPECT_EQ(position.Z, 3000);
    EXPECT_EQ(copied.find("position"), std::string::npos); // never part of the text
    EXPECT_FALSE(test::ErrorOf([&] { session.PasteParameters("no snapshot"); }).empty());
}

TEST_F(Session, QuantileNotationReadsTheDetailCube) {
    auto& scaling = session.Existing("detail/colormapping/level/scaling/high");
    scaling.SetText("100Q100");
    EXPECT_EQ(scaling.GetText(), "65535"); // no series shown
    session.SetDetailObject(ct);
    scaling.SetText("100Q100");
    EXPECT_EQ(scaling.GetText(), "103"); // the brightest voxel of the series
}

TEST(CommandLine, OptionsAndPaths) {
    TCommandLine line;
    for (const char* argument : {"-Kkey", "-wpre/", "-kother", "-cdoc.cfg", "-cignored", "a", "b"})
        EXPECT_TRUE(TakeCommandLineArgument(argument, line)) << argument;
    EXPECT_FALSE(TakeCommandLineArgument("-x", line));
    EXPECT_EQ(line.Key, "key");
    EXPECT_EQ(line.Prefix, "pre/");
    EXPECT_EQ(line.ConfigPath, "doc.cfg");
    EXPECT_EQ(line.Paths, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(ConfigurationPath(line, "/opt/bin/tarvicon"), "doc.cfg");
    EXPECT_EQ(ConfigurationPath(TCommandLine{}, "/opt/bin/tarvicon"), "/opt/bin/tarvicon.cfg");
}

TEST(CommandLine, ClearsOnceAndScansFilesFolders) {
    test::TTempDir first, second;
    test::WriteFile(first.Path() / "one", ImageFile(TImage()));
    TImage other;
    other.Patient = "P2";
    test::WriteFile(second.Path() / "two", ImageFile(other));
    TDicomTree tree;
    tree.AddFolder(first.Path().string());
    ASSERT_EQ(LoadToEnd(tree), "");
    TCommandLine line;
    EXPECT_FALSE(ProcessCommandLine(tree, line));
    EXPECT_EQ(tree.ObjectCount(), 1);
    line.Paths = {(first.Path() / "one").string(), second.Path().string()};
    EXPECT_TRUE(ProcessCommandLine(tree, line));
    EXPECT_EQ(tree.ObjectCount(), 0); // cleared before the first
    ASSERT_EQ(LoadToEnd(tree), "");
    EXPECT_EQ(tree.ObjectCount(), 2); // a file's folder and a folder
}

} // namespace
} // namespace tarvicon
