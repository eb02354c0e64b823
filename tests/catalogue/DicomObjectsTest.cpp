#include "catalogue/DicomObjects.h"

#include "config/ConfigDocuments.h"
#include "support/TestSupport.h"
#include "util/Errors.h"
#include "util/Host.h"
#include "util/Progress.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>

namespace tarvicon {
namespace {

using test::ErrorOf;
using test::TDicomWriter;
namespace fs = std::filesystem;

// ---- building files -------------------------------------------------------------------------

struct TImage {
    int Columns = 4;
    int Rows = 3;
    int Frames = 1;
    int BitsAllocated = 16;
    int Samples = 1;
    std::string SliceLocation; // millimetres; none when empty
    std::optional<int> ImageNumber;
    std::string PixelSpacing;   // "Pixel size"
    std::string ImagerSpacing;  // 0018.1164
    std::string SpacingBetween; // "Spacing Between Slices"
    std::string Description;
    std::string Modality = "CT";
    std::uint8_t Fill = 0; // pixel byte i is Fill + i
};

std::string Even(std::string text) {
    if (text.size() % 2) text += ' ';
    return text;
}

std::string PixelBytes(const TImage& image) {
    std::string bytes(std::size_t(image.Columns) * image.Rows * image.Frames * image.Samples *
                          (image.BitsAllocated / 8),
                      '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(std::uint8_t(image.Fill + i));
    return bytes;
}

std::string Bytes(const TImage& image) {
    TDicomWriter w;
    w.Preamble().Meta("1.2.840.10008.1.2.1");
    w.Explicit(0x0008, 0x0060, "CS", Even(image.Modality));
    if (!image.Description.empty()) w.Explicit(0x0008, 0x103E, "LO", Even(image.Description));
    if (!image.SpacingBetween.empty()) w.Explicit(0x0018, 0x0088, "DS", Even(image.SpacingBetween));
    if (!image.ImagerSpacing.empty()) w.Explicit(0x0018, 0x1164, "DS", Even(image.ImagerSpacing));
    if (image.ImageNumber) w.Explicit(0x0020, 0x0013, "IS", Even(std::to_string(*image.ImageNumber)));
    if (!image.SliceLocation.empty()) w.Explicit(0x0020, 0x1041, "DS", Even(image.SliceLocation));
    w.US(0x0028, 0x0002, std::uint16_t(image.Samples));
    if (image.Frames > 1) w.Explicit(0x0028, 0x0008, "IS", Even(std::to_string(image.Frames)));
    w.US(0x0028, 0x0010, std::uint16_t(image.Rows)).US(0x0028, 0x0011, std::uint16_t(image.Columns));
    if (!image.PixelSpacing.empty()) w.Explicit(0x0028, 0x0030, "DS", Even(image.PixelSpacing));
    const int stored = image.BitsAllocated == 16 ? 12 : image.BitsAllocated;
    w.US(0x0028, 0x0100, std::uint16_t(image.BitsAllocated))
        .US(0x0028, 0x0101, std::uint16_t(stored))
        .US(0x0028, 0x0102, std::uint16_t(stored - 1));
    std::string pixels = PixelBytes(image);
    if (pixels.size() % 2) pixels += '\0';
    w.Explicit(0x7FE0, 0x0010, image.BitsAllocated == 8 ? "OB" : "OW", pixels);
    return w.Bytes();
}

std::unique_ptr<TDicomSingleImage> Single(const TImage& image) {
    auto object = std::make_unique<TDicomSingleImage>();
    object->LoadFromString(Bytes(image));
    object->SetDescription(object->GetValue("0008.103E"));
    return object;
}

// Merged as the tree merges a series: files moved over, sorted, stacked.
std::unique_ptr<TDicomArrayImage> Series(const std::vector<TImage>& images, bool build = true) {
    auto array = std::make_unique<TDicomArrayImage>();
    for (const TImage& image : images) {
        auto single = Single(image);
        array->SetDescription(single->Description());
        array->AddFile(single->TakeFile());
    }
    array->SortImages();
    if (build) array->BuildCube();
    return array;
}

// n images at start, start + step, … millimetres.
std::vector<TImage> Stack(int n, double start, double step, const TImage& like = {}) {
    std::vector<TImage> images(std::size_t(n), like);
    for (int i = 0; i < n; ++i) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", start + step * i);
        images[std::size_t(i)].SliceLocation = text;
        images[std::size_t(i)].ImageNumber = i + 1;
    }
    return images;
}

std::vector<std::uint8_t> VoxelBytes(const TPixelCube& cube) {
    if (!cube.HasVoxels()) return {};
    return {cube.Voxels(), cube.Voxels() + cube.ByteSize()};
}

// ---- hosts, progress and the cache folder ---------------------------------------------------

class TAskingHost : public THeadlessHost {
public:
    explicit TAskingHost(bool answer) : THeadlessHost(answer) {}
    bool AskYesNo(const std::string& question) override {
        Questions.push_back(question);
        return THeadlessHost::AskYesNo(question);
    }
    std::vector<std::string> Questions;
};

struct TTitleSink : IProgressSink {
    std::vector<std::string> Titles;
    int Runs = 0;
    void Started() override { ++Runs; }
    void Show(int, const std::string& title, const std::string&, const std::string&) override {
        if (Titles.empty() || Titles.back() != title) Titles.push_back(title);
    }
    bool CancelRequested() override { return false; }
    void Ended() override {}
};

// Temporary cubes go to a folder of the test's own.
class DicomObjects : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("XDG_CACHE_HOME")) oldCache_ = old;
        setenv("XDG_CACHE_HOME", cache_.Path().c_str(), 1);
        SetProgressSink(&sink_);
    }
    void TearDown() override {
        SetProgressSink(nullptr);
        if (oldCache_)
            setenv("XDG_CACHE_HOME", oldCache_->c_str(), 1);
        else
            unsetenv("XDG_CACHE_HOME");
    }

    test::TTempDir cache_;
    std::optional<std::string> oldCache_;
    TTitleSink sink_;
};

// ---- order and geometry ---------------------------------------------------------------------

TEST(DicomObjectsOrder, SortsBySlicePositionDescendingThenImageNumber) {
    struct TCase {
        std::vector<std::pair<std::string, int>> Files; // slice location, image number
        std::vector<int> Expected;                      // image numbers after sorting
    };
    const TCase cases[] = {
        {{{"10", 1}, {"0", 2}, {"5", 3}}, {1, 3, 2}},
        {{{"0", 3}, {"0", 1}, {"0", 2}}, {1, 2, 3}},
        {{{"1", 9}, {"1", 4}, {"2", 7}}, {7, 4, 9}},
        // Far apart: a 32-bit difference would overflow and turn the order round.
        {{{"-2000000", 1}, {"2000000", 2}, {"0", 3}}, {2, 3, 1}},
    };
    for (const TCase& c : cases) {
        std::vector<TImage> images;
        for (const auto& [location, number] : c.Files) {
            TImage image;
            image.SliceLocation = location;
            image.ImageNumber = number;
            images.push_back(image);
        }
        const auto series = Series(images, false);
        std::vector<int> numbers;
        for (const auto& file : series->Files()) numbers.push_back(file->ImageNumber());
        EXPECT_EQ(numbers, c.Expected) << c.Files.front().first;
    }
}

TEST(DicomObjectsGeometry, SpacingRules) {
    TImage spaced;
    spaced.PixelSpacing = "0.7\\0.5";
    TImage between = spaced;
    between.SpacingBetween = "2.5";
    TImage imager;
    imager.ImagerSpacing = "0.3\\0.4";
    TImage unit;
    unit.PixelSpacing = "1\\1";
    TImage junk = spaced;
    junk.SpacingBetween = "abc";
    TImage frames;
    frames.Frames = 30;
    TImage onlyX;
    onlyX.PixelSpacing = "0.7";

    struct TCase {
        const char* Name;
        std::vector<TImage> Images; // one: a single image
        TCubePoint Expected;
    };
    const TCase cases[] = {
        {"11 slices 0..50 mm", Stack(11, 0, 5, spaced), {700, 500, 5000}},
        {"spacing between slices wins", Stack(11, 0, 5, between), {700, 500, 2500}},
        {"single image of 30 frames", {frames}, {1000, 1000, 10000}},
        {"imager spacing when pixel size is empty", Stack(2, 0, 1, imager), {300, 400, 1000}},
        {"2.5 rounds to even", Stack(3, 0, 0.0025, unit), {1000, 1000, 2}},
        {"3.5 rounds to even", Stack(3, 0, 0.0035, unit), {1000, 1000, 4}},
        {"unreadable slice spacing gives the in-plane mean", Stack(3, 0, 1, junk), {700, 500, 600}},
        {"a position of -1 means none", Stack(2, -0.001, 1.001, unit), {1000, 1000, 10000}},
        {"no spacing at all", Stack(3, 0, 2, TImage{}), {1000, 1000, 2000}},
        {"a missing second value", {onlyX}, {700, 1000, 10000}},
    };
    for (const TCase& c : cases) {
        std::unique_ptr<TDicomObject> object;
        if (c.Images.size() == 1) {
            object = Single(c.Images.front());
            object->BuildCube();
        } else {
            object = Series(c.Images);
        }
        EXPECT_EQ(object->Cube().Metrics(), c.Expected) << c.Name;
        // World (0, 0, 0) is the centre voxel whatever the spacing.
        EXPECT_EQ(object->GetWorldPosition(), TCubePoint{}) << c.Name;
    }
}

TEST(DicomObjectsGeometry, OriginAtTheCentreVoxel) {
    TImage image;
    image.Columns = 64;
    image.Rows = 64;
    image.Frames = 3;
    image.PixelSpacing = "0.7\\0.5";
    image.SpacingBetween = "2";
    const auto object = Single(image);
    object->BuildCube();
    EXPECT_EQ(object->Position(), (TCubePoint{32, 32, 1}));
    EXPECT_EQ(object->Cube().Origin(), (TCubePoint{-32 * 700, -32 * 500, -2000}));
    EXPECT_EQ(object->ViewSpacing("RBF"), std::make_pair(700, 500));
    EXPECT_EQ(object->ViewSpacing("BFR"), std::make_pair(500, 2000));
}

TEST(DicomObjectsGeometry, KeepsThePreviousInPlaneSpacingAndRefusesHugeTexts) {
    const auto object = Single(TImage{});
    object->Cube().SetMetrics({300, 400, 5});
    object->BuildCube();
    EXPECT_EQ(object->Cube().Metrics(), (TCubePoint{300, 400, 10000}));

    TImage huge;
    huge.PixelSpacing = "3000000\\1";
    const auto refused = Single(huge);
    EXPECT_THROW(refused->BuildCube(), WRangeError);
}

TEST(DicomObjectsGeometry, TradeOffReplacesTheSpacingsItGives) {
    TConfigDocument config;
    config.LoadXml(R"(<configuration><trade-offs>
        <trade-off match="Modality=MR"><metrics><x>1</x></metrics></trade-off>
        <trade-off match="Head.*"><metrics><x>abc</x><y>0</y><z>3000</z></metrics></trade-off>
        <trade-off match="Head CT"><metrics><z>9</z></metrics></trade-off>
        <trade-off match="Neck"/>
      </trade-offs></configuration>)");
    const auto viaConfig = [&config](const TDicomObject& object) {
        return FindTradeOff(config, [&object](const std::string& match) { return object.Matches(match); });
    };

    TImage head = Stack(3, 0, 5).front();
    head.PixelSpacing = "0.7\\0.5";
    head.Description = "Head CT";
    auto object = Single(head);
    object->SetOnGetTradeOff(viaConfig);
    object->BuildCube();
    EXPECT_EQ(object->Cube().Metrics(), (TCubePoint{700, 500, 3000}));
    EXPECT_EQ(object->Cube().Origin(), (TCubePoint{-2 * 700, -1 * 500, 0}));

    // A trade-off without "metrics" and none at all change nothing.
    head.Description = "Neck";
    object = Single(head);
    object->SetOnGetTradeOff(viaConfig);
    object->BuildCube();
    EXPECT_EQ(object->Cube().Metrics(), (TCubePoint{700, 500, 10000}));
    head.Description = "Foot";
    object = Single(head);
    object->SetOnGetTradeOff(viaConfig);
    object->BuildCube();
    EXPECT_EQ(object->Cube().Metrics(), (TCubePoint{700, 500, 10000}));

    TConfigDocument broken;
    broken.LoadXml("<c><trade-offs><trade-off><metrics><z>1</z></metrics></trade-off></trade-offs></c>");
    EXPECT_EQ(ErrorOf([&] { FindTradeOff(broken, [](const std::string&) { return true; }); }),
              "Trade-off without \"match\" attribute");
    EXPECT_FALSE(FindTradeOff(TConfigDocument(), [](const std::string&) { return true; }));
}

// ---- position and matching ------------------------------------------------------------------

TEST(DicomObjectsPosition, SetPositionClampsIntoTheCube) {
    TDicomSingleImage object;
    object.Cube().SetWidth(100);
    object.Cube().SetHeight(100);
    object.Cube().SetDepth(10);
    const std::pair<TCubePoint, TCubePoint> cases[] = {
        {{-5, 1000000, 2}, {0, 99, 2}},
        {{99, 0, 9}, {99, 0, 9}},
        {{INT32_MIN, INT32_MAX, 10}, {0, 99, 9}},
    };
    for (const auto& [given, stored] : cases) {
        object.SetPosition(given);
        EXPECT_EQ(object.Position(), stored);
    }
    object.Cube().SetMetrics({500, 500, 2000});
    object.Cube().SetOrigin({-1000, 0, 0});
    object.SetWorldPosition({1510, 5000000, -7000});
    EXPECT_EQ(object.Position(), (TCubePoint{5, 99, 0}));
    EXPECT_EQ(object.GetWorldPosition(), (TCubePoint{1500, 49500, 0}));

    object.Cube().SetDepth(0);
    object.SetPosition({3, 4, 5});
    EXPECT_EQ(object.Position(), TCubePoint{});
}

TEST(DicomObjectsMatching, WholeValueOfDescriptionOrElement) {
    TImage image;
    image.Description = "Head CT";
    const auto object = Single(image);
    const std::pair<const char*, bool> cases[] = {
        {"Head CT", true},     {"Head.*", true},      {"Head", false},       {"head ct", false},
        {"Modality=CT", true}, {"modality=C.", true}, {"Modality=C", false}, {"0008.103E=Head CT", true},
        {"Modality=", false},  {"Unknown=", true},    {"", false},
    };
    for (const auto& [filter, expected] : cases) EXPECT_EQ(object->Matches(filter), expected) << filter;

    TDicomArrayImage empty;
    EXPECT_TRUE(empty.Matches(""));
    EXPECT_TRUE(empty.Matches("Modality="));
    EXPECT_EQ(ErrorOf([&] { object->Matches("Head ("); }).rfind("Invalid regular expression \"Head (\": ", 0),
              0u);
}

// ---- memory question and upscaling ----------------------------------------------------------

TEST_F(DicomObjects, MemoryIsAskedAboveThirtyTwoMebibytes) {
    struct TCase {
        std::uint32_t W, H, D;
        std::int32_t PixelSize;
        const char* Question; // null: not asked
    };
    const TCase cases[] = {
        {4096, 4096, 1, 2, "Additional memory of 32MB required to upscale cuboid sagittaly.  Continue?"},
        {33554431, 1, 1, 1, nullptr},
        // 4 GiB: a 32-bit product would wrap to 0 and never ask.
        {65536, 65536, 1, 1, "Additional memory of 4096MB required to upscale cuboid sagittaly.  Continue?"},
    };
    for (const TCase& c : cases) {
        TAskingHost host(false);
        const TScopedHost scoped(host);
        TDicomSingleImage object;
        object.Cube().SetWidth(c.W);
        object.Cube().SetHeight(c.H);
        object.Cube().SetDepth(c.D);
        object.Cube().SetPixelSize(c.PixelSize);
        EXPECT_EQ(object.ConfirmMemory(kUpscaleXMessage), c.Question == nullptr);
        EXPECT_EQ(host.Questions,
                  c.Question ? std::vector<std::string>{c.Question} : std::vector<std::string>{});
    }

    // Declined: nothing changes, nothing is saved, nothing is reported.
    TAskingHost host(false);
    const TScopedHost scoped(host);
    TDicomSingleImage object;
    object.Cube().SetWidth(4096);
    object.Cube().SetHeight(4096);
    object.Cube().SetDepth(1);
    object.Cube().SetPixelSize(2);
    EXPECT_FALSE(object.UpscaleZ());
    EXPECT_EQ(host.Questions.back(),
              "Additional memory of 32MB required to upscale cuboid transversaly Continue?");
    EXPECT_EQ(object.Cube().Depth(), 1u);
    EXPECT_FALSE(object.Cube().HasVoxels());
    EXPECT_TRUE(object.OriginalFile().empty());
}

TEST_F(DicomObjects, UpscaleAutoTakesTheCoarsestAxisAndStopsWhenDeclined) {
    const std::pair<TCubePoint, const char*> cases[] = {
        {{1000, 1000, 3000}, kUpscaleZMessage}, {{3000, 1000, 1000}, kUpscaleXMessage},
        {{1000, 3000, 1000}, kUpscaleYMessage}, {{1000, 1000, 1000}, kUpscaleYMessage},
        {{2000, 1000, 2000}, kUpscaleYMessage},
    };
    for (const auto& [metrics, message] : cases) {
        TAskingHost host(false);
        const TScopedHost scoped(host);
        TDicomSingleImage object;
        object.Cube().SetWidth(4096);
        object.Cube().SetHeight(4096);
        object.Cube().SetDepth(1);
        object.Cube().SetPixelSize(2);
        object.Cube().SetMetrics(metrics);
        object.UpscaleAuto();
        ASSERT_EQ(host.Questions.size(), 1u);
        EXPECT_EQ(host.Questions[0], std::string(message).replace(21, 1, "32") + " Continue?");
        EXPECT_EQ(object.Cube().ByteSize(), 33554432u);
    }
}

TEST_F(DicomObjects, UpscaleAutoStopsOnceTheCubeReachesThirtyTwoMebibytes) {
    TAskingHost host(true);
    const TScopedHost scoped(host);
    const TProgressRun run("Upscaling");

    TDicomSingleImage object;
    object.Cube().SetPixelSize(2);
    object.Cube().SetWidth(1024);
    object.Cube().SetHeight(1024);
    object.Cube().SetDepth(12); // 24 MiB: one step, nothing asked
    object.UpscaleAuto();
    EXPECT_EQ(object.Cube().Height(), 2047u);
    EXPECT_EQ(object.Cube().Depth(), 12u);
    EXPECT_TRUE(host.Questions.empty());

    // Small cubes grow step by step, always along the coarsest axis.
    TDicomSingleImage small;
    small.Cube().SetPixelSize(2);
    small.Cube().SetWidth(64);
    small.Cube().SetHeight(64);
    small.Cube().SetDepth(8);
    small.Cube().SetMetrics({500, 500, 4000});
    small.UpscaleAuto();
    EXPECT_EQ(small.Cube().Depth(), 57u); // 8 → 15 → 29 → 57 while Z is the coarsest
    EXPECT_GE(small.Cube().ByteSize(), 33554432u);

    // A cube that cannot grow ends instead of halving its spacing forever.
    TDicomSingleImage dot;
    dot.Cube().SetPixelSize(2);
    dot.Cube().SetWidth(1);
    dot.Cube().SetHeight(1);
    dot.Cube().SetDepth(1);
    dot.UpscaleAuto();
    EXPECT_EQ(dot.Cube().ByteSize(), 2u);
}

// ---- operations, saved original and revert --------------------------------------------------

TEST_F(DicomObjects, OperationsRevertToTheFirstCubeAndTheSavedCubeGoesWithTheObject) {
    TImage image;
    image.Columns = 8;
    image.Rows = 8;
    image.Frames = 5;
    image.PixelSpacing = "0.5\\0.5";
    auto object = Single(image);
    object->BuildCube();
    const auto original = VoxelBytes(object->Cube());
    const TCubePoint metrics = object->Cube().Metrics(), origin = object->Cube().Origin();
    object->Revert(); // nothing saved yet: nothing happens
    EXPECT_EQ(VoxelBytes(object->Cube()), original);

    std::int8_t kernel[125];
    for (int i = 0; i < 125; ++i) kernel[i] = -1;
    kernel[62] = 16;
    {
        const TProgressRun run("Filter #1");
        object->ApplyFilter(1, TFilterKernel(kernel));
    }
    const std::string saved = object->OriginalFile();
    ASSERT_FALSE(saved.empty());
    EXPECT_TRUE(fs::exists(saved));
    EXPECT_EQ(fs::path(saved).parent_path(), cache_.Path() / "tarvicon");
    EXPECT_EQ(fs::path(saved).filename().string().rfind("QXTarvicon", 0), 0u);
    EXPECT_EQ(fs::path(saved).extension(), ".cubetmp");
    EXPECT_NE(VoxelBytes(object->Cube()), original);

    object->Rotate("RBF", 30);
    EXPECT_EQ(sink_.Titles.back(), "Rotating cuboid 30.0\xC2\xB0 along RBF");
    EXPECT_FALSE(ProgressActive());
    {
        TAskingHost host(true);
        const TScopedHost scoped(host);
        const TProgressRun run("Upscaling Y");
        EXPECT_TRUE(object->UpscaleZ());
    }
    EXPECT_EQ(object->Cube().Depth(), 9u);
    object->SetPosition({7, 7, 8});
    EXPECT_EQ(object->OriginalFile(), saved); // only the first cube is kept

    object->Revert();
    EXPECT_EQ(VoxelBytes(object->Cube()), original);
    EXPECT_EQ(object->Cube().Metrics(), metrics);
    EXPECT_EQ(object->Cube().Origin(), origin);
    EXPECT_EQ(object->Position(), (TCubePoint{7, 7, 4})); // kept inside the smaller cube
    // The place in the body stays: the middle slice of the upscaled cube is the middle one again.
    {
        TAskingHost host(true);
        const TScopedHost scoped(host);
        const TProgressRun run("Upscaling Z");
        EXPECT_TRUE(object->UpscaleZ());
    }
    object->SetPosition({3, 5, 4});
    const TCubePoint world = object->GetWorldPosition();
    object->Revert();
    EXPECT_EQ(object->Position(), (TCubePoint{3, 5, 2}));
    EXPECT_EQ(object->GetWorldPosition(), world);

    // Another object never shares the file; destroying an object deletes its own.
    auto other = Single(image);
    other->BuildCube();
    other->SaveOriginal();
    EXPECT_NE(other->OriginalFile(), saved);
    object.reset();
    EXPECT_FALSE(fs::exists(saved));
    EXPECT_TRUE(fs::exists(other->OriginalFile()));
}

TEST_F(DicomObjects, AFailedRotationKeepsTheCubeAndClosesItsProgress) {
    TImage image;
    image.BitsAllocated = 8;
    auto object = Single(image);
    object->BuildCube();
    const auto before = VoxelBytes(object->Cube());
    EXPECT_EQ(ErrorOf([&] { object->Rotate("RBF", -0.04); }), "Illegal pixel size to rotate");
    EXPECT_EQ(sink_.Runs, 1);
    EXPECT_FALSE(ProgressActive());
    EXPECT_EQ(VoxelBytes(object->Cube()), before);
}

// ---- building cubes -------------------------------------------------------------------------

// The voxels the first frames of a reference file's samples should become: RGB triples turn
// into B, G, R, 255.
std::vector<std::uint8_t> ExpectedVoxels(const fs::path& reference, std::uint32_t frames) {
    TDicomFile file;
    file.LoadFromFile(reference);
    const std::uint8_t* p = file.PixelData();
    const std::size_t pixels = std::size_t(file.Width()) * file.Height() * frames;
    const std::size_t bytes = file.PixelFormat() == TPixelFormat::pf24bit   ? 3
                              : file.PixelFormat() == TPixelFormat::pf16bit ? 2
                                                                            : 1;
    if (pixels * bytes > file.PixelDataSize()) {
        ADD_FAILURE() << "reference too short";
        return {};
    }
    if (bytes != 3) return {p, p + pixels * bytes};
    std::vector<std::uint8_t> voxels;
    for (std::size_t i = 0; i < pixels; ++i, p += 3) voxels.insert(voxels.end(), {p[2], p[1], p[0], 255});
    return voxels;
}

TEST(DicomObjectsBuild, RealFilesOfEveryKindAndTheirPixelsAreFreed) {
    struct TCase {
        fs::path File, Reference;
        std::uint32_t W, H, D;
        std::int32_t PixelSize;
    };
    const fs::path f = test::Fixtures(), p = test::PydicomTestFiles();
    const TCase cases[] = {
        {f / "src_gray8.dcm", f / "src_gray8.dcm", 67, 45, 1, 1},
        {f / "src_gray16.dcm", f / "src_gray16.dcm", 61, 40, 1, 2},
        {f / "src_rgb8.dcm", f / "src_rgb8.dcm", 33, 29, 1, 4},
        // 8-bit frames in OB of defined length are read as one frame.
        {f / "src_gray8x4.dcm", f / "src_gray8x4.dcm", 40, 30, 1, 1},
        {f / "src_gray16x3.dcm", f / "src_gray16x3.dcm", 32, 24, 3, 2},
        {f / "jpeg_gray12.dcm", f / "src_gray12.dcm", 64, 48, 1, 2},
        {f / "jpeg_gray8x4.dcm", f / "src_gray8x4.dcm", 40, 30, 4, 1},
        {f / "jpeg_rgb8x2.dcm", f / "src_rgb8x2.dcm", 20, 18, 2, 4},
        {f / "jls_gray16x3.dcm", f / "src_gray16x3.dcm", 32, 24, 3, 2},
        {f / "jls_rgb8.dcm", f / "src_rgb8.dcm", 33, 29, 1, 4},
        {p / "CT_small.dcm", p / "CT_small.dcm", 128, 128, 1, 2},
        {p / "MR_small.dcm", p / "MR_small.dcm", 64, 64, 1, 2},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.File.filename().string());
        TDicomSingleImage object;
        object.LoadFromFile(c.File);
        EXPECT_TRUE(object.HasPixelFormat());
        object.BuildCube();
        const TPixelCube& cube = object.Cube();
        EXPECT_EQ((std::vector<std::uint32_t>{cube.Width(), cube.Height(), cube.Depth()}),
                  (std::vector<std::uint32_t>{c.W, c.H, c.D}));
        EXPECT_EQ(cube.PixelSize(), c.PixelSize);
        EXPECT_TRUE(VoxelBytes(cube) == ExpectedVoxels(c.Reference, c.D));
        EXPECT_EQ(object.File()->PixelDataSize(), 0u);
        EXPECT_FALSE(object.File()->Elements().empty());
    }

    // Real spacing: CT_small has 0.661468\0.661468 and a spacing between slices of 5 mm.
    TDicomSingleImage ct;
    ct.LoadFromFile(p / "CT_small.dcm");
    ct.BuildCube();
    EXPECT_EQ(ct.Cube().Metrics(), (TCubePoint{661, 661, 5000}));
}

TEST(DicomObjectsBuild, ImagesWithoutAUsableFormatGiveNoVoxels) {
    TImage wide;
    wide.BitsAllocated = 32;
    const auto object = Single(wide);
    EXPECT_EQ(object->ImagePixelFormat(0), TPixelFormat::pf32bit);
    object->BuildCube();
    EXPECT_FALSE(object->Cube().HasVoxels());
    EXPECT_EQ(object->Cube().Metrics(), (TCubePoint{1000, 1000, 1000}));
    EXPECT_EQ(object->File()->PixelDataSize(), 0u);

    // A read that failed: the partial elements stay, the cube gets nothing.
    TDicomSingleImage broken;
    const std::string bytes = Bytes(TImage{});
    EXPECT_THROW(broken.LoadFromString(std::string_view(bytes).substr(0, bytes.size() - 30)), WException);
    EXPECT_FALSE(broken.HasPixelFormat());
    broken.BuildCube();
    EXPECT_FALSE(broken.Cube().HasVoxels());

    // Without its file (handed to a series) an image builds nothing and answers emptily.
    auto taken = Single(TImage{});
    EXPECT_NE(taken->TakeFile(), nullptr);
    taken->BuildCube();
    EXPECT_EQ(taken->ImageWidth(0), 0);
    EXPECT_TRUE(taken->ImageElements(0).empty());
    EXPECT_EQ(taken->GetValue("Modality"), "");
    EXPECT_FALSE(taken->HasPixelFormat());
}

TEST(DicomObjectsBuild, SeriesStacksFramesFileAfterFileInSortedOrder) {
    TImage like;
    like.Columns = 2;
    like.Rows = 2;
    like.Frames = 2;
    std::vector<TImage> images = Stack(3, 0, 10, like); // sorted: 20, 10, 0
    for (std::size_t i = 0; i < images.size(); ++i) images[i].Fill = std::uint8_t(100 * i);
    const auto series = Series(images);
    const TPixelCube& cube = series->Cube();
    ASSERT_EQ(cube.Depth(), 6u);
    const std::size_t frame = 2 * 2 * 2;
    for (int z = 0; z < 6; ++z) {
        const std::string bytes = PixelBytes(images[std::size_t(2 - z / 2)]);
        EXPECT_EQ(std::memcmp(cube.Voxels() + z * frame, bytes.data() + (z % 2) * frame, frame), 0) << z;
    }
    for (const auto& file : series->Files()) EXPECT_EQ(file->PixelDataSize(), 0u);
    EXPECT_EQ(series->Cube().Metrics().Z, 10000); // 20 mm over two steps
    EXPECT_EQ(series->Position(), (TCubePoint{1, 1, 3}));

    // Files of different frame counts keep every frame.
    TImage one = like, three = like;
    one.Frames = 1;
    one.SliceLocation = "10";
    one.Fill = 1;
    three.Frames = 3;
    three.SliceLocation = "0";
    three.Fill = 50;
    const auto mixed = Series({three, one});
    ASSERT_EQ(mixed->Cube().Depth(), 4u);
    EXPECT_EQ(mixed->Cube().Voxel(0, 0, 0), 1 + 256 * 2);
    EXPECT_EQ(mixed->Cube().Voxel(0, 0, 1), 50 + 256 * 51);
    EXPECT_EQ(mixed->Cube().Voxel(1, 1, 3), (50 + 22) + 256 * (50 + 23));
}

TEST(DicomObjectsBuild, SeriesAnswersForItsFiles) {
    TImage image;
    image.Description = "Knee";
    std::vector<TImage> images = Stack(2, 0, 3, image);
    images[1].Columns = 6;
    const auto series = Series(images, false);
    EXPECT_EQ(series->ImageCount(), 2);
    EXPECT_EQ(series->ImageWidth(0), 6); // the file at 3 mm comes first
    EXPECT_EQ(series->ImageSlicePosition(1), 0);
    EXPECT_EQ(series->ImageElements(7), series->ImageElements(1));
    EXPECT_EQ(series->GetValue("0008.103e"), "Knee");
    EXPECT_THROW(series->ImageHeight(2), WRangeError);
    EXPECT_THROW(series->ImageElements(-1), WRangeError);
    EXPECT_EQ(ErrorOf([&] { series->LoadFromString("x"); }), "Abstract Error");
    EXPECT_EQ(ErrorOf([&] { series->LoadFromFile("x"); }), "Abstract Error");

    TDicomArrayImage empty;
    EXPECT_TRUE(empty.ImageElements(0).empty());
    EXPECT_EQ(empty.GetValue("Modality"), "");
    empty.BuildCube();
    EXPECT_EQ(empty.Cube().Metrics(), (TCubePoint{1000, 1000, 1000}));

    TDicomSingleImage a;
    TDicomArrayImage b;
    EXPECT_EQ(b.SerialNumber(), a.SerialNumber() + 1);
    EXPECT_GT(a.SerialNumber(), 0);
    EXPECT_EQ(a.ColorTable().size(), 65536u);
}

} // namespace
} // namespace tarvicon
