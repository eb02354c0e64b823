#include "config/Schema.h"
#include "support/Cubes.h"
#include "support/TestSupport.h"
#include "util/Host.h"
#include "views/DicomViewFrames.h"

#include <QImage>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace tarvicon {
namespace {

// A 16-bit value that names its voxel.
std::uint16_t VoxelValue(int x, int y, int z, int seed) {
    return std::uint16_t(100 + (x * 37 + y * 101 + z * 211 + seed * 53) % 1900);
}

// An object of w × h × d voxels of 0.5 mm each way (square pixels on every path), standing in
// its middle.
std::unique_ptr<TDicomSingleImage> CubeObject(int w, int h, int d, int seed = 0) {
    auto object = std::make_unique<TDicomSingleImage>();
    TPixelCube& cube = object->Cube();
    cube = test::MakeCube(std::uint32_t(w), std::uint32_t(h), std::uint32_t(d));
    for (int z = 0; z < d; ++z)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                *reinterpret_cast<std::uint16_t*>(cube.VoxelPtr(x, y, z)) = VoxelValue(x, y, z, seed);
    cube.SetMetrics({500, 500, 500});
    object->SetPosition({w / 2, h / 2, d / 2});
    return object;
}

// A colour table that tells every value apart, alpha bytes included.
void FillTable(TDicomObject& object, std::uint32_t salt) {
    for (std::uint32_t v = 0; v < 65536; ++v) object.ColorTable()[v] = (v * 2654435761u) ^ salt;
}

// A view at 4 screen pixels per mm whatever the screen says.
class TTestView : public TDicomViewFrame {
public:
    void UpdateGeometry() override {
        TDicomViewFrame::UpdateGeometry();
        SetPixelsPerMm(4, 4);
    }
};

// A view of 200 × 150 pixels, pixel to pixel, without the cross; "detail" bound to the
// parameter tree's branch, or a navigation view without one.
struct TShown {
    std::unique_ptr<TPresetNode> Root = CreateParameterTree();
    TTestView View;
    std::vector<std::string> Statuses;

    explicit TShown(bool bound) {
        View.resize(200, 150);
        View.SetName(bound ? "detail" : "coronar");
        View.OnStatus = [this](TSimpleViewFrame&, const std::string& text) { Statuses.push_back(text); };
        if (bound) {
            View.BindBranch(Root->FindNode("detail"));
            View.SetMipAllowed(true);
            // A grey ramp over raw 10..2000.
            Set("colormapping/level/low", "0");
            Set("colormapping/level/high", "100");
        }
        View.SetHideCross(true);
        // The checks read the picture's pixels from the view's top left.
        View.ImgView().SetCentered(false);
        View.show();
        View.SetFitMode(0);
    }
    TConfigNode& Node(const std::string& path) { return NodeAt<TConfigNode>(*Root, "detail/" + path); }
    void Set(const std::string& path, const std::string& text) { Node(path).SetText(text); }
    double Value(const std::string& path) { return Node(path).GetAsFloat(); }
    void Fire(const std::string& path) { NodeAt<TEventNode>(*Root, "detail/" + path).Fire(); }
    QImage Grab() { return View.ImgView().viewport()->grab().toImage(); }
};

// The view shows the picture at the top left of its viewport, opaque, and black around it.
void ExpectShows(const QImage& shot, const TBitmap32& picture, const std::string& what) {
    int wrong = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            const bool inside = x < picture.Width() && y < picture.Height();
            const std::uint32_t expected = inside ? picture.Pixel(x, y) | 0xFF000000u : 0xFF000000u;
            if (shot.pixel(x, y) != expected && ++wrong <= 3)
                ADD_FAILURE() << what << " at " << x << "," << y << ": " << std::hex << shot.pixel(x, y)
                              << " not " << expected;
        }
    EXPECT_EQ(wrong, 0) << what;
}

TEST(DicomViewFrame, ShowsTheCoresRenderPixelForPixel) {
    struct TCase {
        const char* Name;
        bool Detail;
        const char* Path;
        int Thickness;
        int Angle;
        bool Mip; // MipDetail for the detail view, MipNavi for a navigation view
    };
    const TCase cases[] = {
        {"one slice", true, "LBN", 1, 0, false},   {"MIP slab", true, "LBN", 5, 0, true},
        {"full MIP", true, "LBN", 1, 0, true},     {"oblique", true, "RFT", 1, 30, false},
        {"navigation", false, "RFT", 1, 0, false}, {"navigation MIP", false, "BFR", 1, 0, true},
    };
    for (const TCase& c : cases) {
        auto object = CubeObject(40, 36, 30);
        TShown shown(c.Detail);
        TViewSettings settings;
        settings.Path = c.Path;
        settings.Thickness = c.Thickness;
        settings.Angle = c.Angle;
        settings.MipAllowed = c.Detail;
        if (c.Detail) {
            object->SetMipDetail(c.Mip);
            shown.Set("path", c.Path);
            shown.Set("thickness", std::to_string(c.Thickness));
            shown.Set("angle", std::to_string(c.Angle));
        } else {
            object->SetMipNavi(c.Mip);
            FillTable(*object, 0);
            shown.View.SetPath(c.Path);
        }
        shown.View.SetObject(object.get());
        const QImage shot = shown.Grab();

        TBitmap32 expected;
        TSliceCache cache;
        BuildViewPicture(object.get(), shown.View.Mapping(), settings, expected, cache);
        ASSERT_GT(expected.Width(), 15) << c.Name;
        EXPECT_EQ(shown.View.Scale().X, 1) << c.Name;
        EXPECT_EQ(shown.View.Scale().Y, 1) << c.Name;
        ASSERT_EQ(shown.View.Picture().Width(), expected.Width()) << c.Name;
        ASSERT_EQ(shown.View.Picture().Height(), expected.Height()) << c.Name;
        EXPECT_TRUE(std::equal(expected.Bits(), expected.Bits() + expected.Width() * expected.Height(),
                               shown.View.Picture().Bits()))
            << c.Name;
        ExpectShows(shot, expected, c.Name);
    }
}

TEST(DicomViewFrame, APictureOf15PixelsAcrossIsNotDrawn) {
    auto object = CubeObject(15, 36, 20);
    TShown shown(true);
    shown.View.SetObject(object.get());
    ExpectShows(shown.Grab(), TBitmap32(), "cleared");
    EXPECT_EQ(shown.View.Picture().Width(), 0);
    for (const std::string& status : shown.Statuses) EXPECT_NE(status, "detail: Building image");
}

TEST(DicomViewFrame, LevelRuleRunsBothWays) {
    TShown shown(true);
    shown.Set("colormapping/level/center", "50");
    shown.Set("colormapping/level/width", "20");
    EXPECT_DOUBLE_EQ(shown.Value("colormapping/level/low"), 40);
    EXPECT_DOUBLE_EQ(shown.Value("colormapping/level/high"), 60);
    shown.Set("colormapping/level/low", "10");
    EXPECT_DOUBLE_EQ(shown.Value("colormapping/level/center"), 35);
    EXPECT_DOUBLE_EQ(shown.Value("colormapping/level/width"), 50);
    EXPECT_DOUBLE_EQ(shown.Value("colormapping/level/high"), 60);
}

TEST(DicomViewFrame, SlicesWrapAroundAndTheSliceNodeFollows) {
    auto object = CubeObject(20, 20, 40);
    TShown shown(true);
    shown.View.SetObject(object.get());
    ASSERT_EQ(shown.View.SliceCount(), 40);
    auto& slice = NodeAt<TScalarNode>(*shown.Root, "detail/slice");
    EXPECT_EQ(slice.Max(), 39);
    EXPECT_EQ(slice.Steps(), 40); // a slider position for every slice
    shown.Set("slice", "0");
    EXPECT_EQ(shown.View.CurrentSlice(), 0);
    shown.Fire("slices/prev");
    EXPECT_EQ(shown.View.CurrentSlice(), 39);
    EXPECT_EQ(slice.GetAsInteger(), 39);
    shown.Fire("slices/next");
    EXPECT_EQ(shown.View.CurrentSlice(), 0);
    shown.Set("slice", "7");
    EXPECT_EQ(shown.View.CurrentSlice(), 7);
}

TEST(DicomViewFrame, AnimationsFollowTheClock) {
    auto object = CubeObject(20, 20, 40);
    TShown shown(true);
    shown.View.SetObject(object.get());
    std::uint64_t now = 1000;
    shown.View.TickCount = [&] { return now; };
    const auto tickAt = [&](std::uint64_t at) {
        now = at;
        shown.View.Timer1Timer();
    };

    // Swing: ±35° over 6 s; a new angle starts the clock again.
    shown.Set("swing", "1");
    EXPECT_TRUE(shown.View.Timer1().isActive());
    tickAt(2500);
    EXPECT_EQ(shown.View.SwingOffset(), 35);
    EXPECT_EQ(shown.View.Settings().Angle, 35);
    tickAt(5500);
    EXPECT_EQ(shown.View.SwingOffset(), -35);
    shown.Set("angle", "10");
    EXPECT_EQ(shown.View.SwingOffset(), 0);
    tickAt(7000);
    EXPECT_EQ(shown.View.SwingOffset(), 35);
    EXPECT_EQ(shown.View.Settings().Angle, 45);
    shown.Set("swing", "0");
    tickAt(8000);
    EXPECT_EQ(shown.View.SwingOffset(), 0);

    // Rotation: a turn every 6 s, without bound.
    shown.Set("rotate", "1");
    tickAt(9500);
    EXPECT_EQ(shown.View.RotateOffset(), 90);
    tickAt(8000 + 7500);
    EXPECT_EQ(shown.View.RotateOffset(), 450);
    shown.Set("rotate", "0");

    // Sweep: the overlay's phase goes round once in 3 s, then the node switches off.
    now = 20000;
    shown.Set("sweep", "1");
    tickAt(21500);
    EXPECT_EQ(shown.View.SweepPhase(), 180);
    EXPECT_EQ(shown.View.OverlayPhase(), 180);
    tickAt(23000);
    EXPECT_EQ(shown.Value("sweep"), 0);
    EXPECT_EQ(shown.View.SweepPhase(), 0);
    EXPECT_EQ(shown.View.OverlayPhase(), 0);

    // The slice loop: one slice per tick, bouncing at the ends.
    shown.Set("slice", "2");
    NodeAt<TIntegerNode>(*shown.Root, "detail/animate").SetValue(-3);
    std::vector<int> visited;
    for (int tick = 0; tick < 4; ++tick) {
        tickAt(now + 20);
        visited.push_back(shown.View.CurrentSlice());
    }
    EXPECT_EQ(visited, (std::vector<int>{1, 0, 1, 2}));
    EXPECT_EQ(shown.Value("slice"), 2);

    // With everything off the timer stops once the cross has faded.
    shown.Set("animate", "0");
    for (int tick = 0; tick < 20; ++tick) tickAt(now + 20);
    EXPECT_FALSE(shown.View.Timer1().isActive());
}

// A 16 × 16 image whose header names a window, read from a file.
std::unique_ptr<TDicomSingleImage> WindowedImage(const test::TTempDir& dir, const std::string& intercept,
                                                 const std::string& slope) {
    test::TDicomWriter w;
    w.Preamble().Meta("1.2.840.10008.1.2.1");
    w.US(0x0028, 0x0010, 16).US(0x0028, 0x0011, 16);
    w.US(0x0028, 0x0100, 16).US(0x0028, 0x0101, 12).US(0x0028, 0x0102, 11);
    w.Explicit(0x0028, 0x1050, "DS", "40").Explicit(0x0028, 0x1051, "DS", "400\\1000 ");
    w.Explicit(0x0028, 0x1052, "DS", intercept).Explicit(0x0028, 0x1053, "DS", slope);
    w.Explicit(0x7FE0, 0x0010, "OW", test::SampleBytes(std::vector<std::uint16_t>(256, 500)));
    const auto file = dir.Path() / "windowed.dcm";
    test::WriteFile(file, w.Bytes());
    auto object = std::make_unique<TDicomSingleImage>();
    object->LoadFromFile(file.string());
    object->BuildCube();
    return object;
}

TEST(DicomViewFrame, AutolevelsTakeTheHeadersWindow) {
    struct TCase {
        const char* Intercept;
        const char* Slope;
        bool ThroughNode; // "slices/autolevels" instead of a call
        int Low;
        int High;
    };
    const test::TTempDir dir;
    for (const TCase c : {TCase{"-1024", "1", false, 864, 1264}, TCase{"-1024", "1", true, 864, 1264},
                          TCase{"0 ", "2", false, 0, 120}}) {
        auto object = WindowedImage(dir, c.Intercept, c.Slope);
        TShown shown(true);
        shown.View.SetObject(object.get());
        if (c.ThroughNode)
            NodeAt<TIntegerNode>(*shown.Root, "detail/slices/autolevels").SetValue(1);
        else
            shown.View.Autolevels(1);
        auto& scaling = NodeAt<TScalingNode>(*shown.Root, "detail/colormapping/level/scaling");
        EXPECT_EQ(scaling.ValueToRaw(true, shown.Value("colormapping/level/low")), c.Low) << c.Slope;
        EXPECT_EQ(scaling.ValueToRaw(false, shown.Value("colormapping/level/high")), c.High) << c.Slope;
    }
}

TEST(DicomViewFrame, FusesTheOverlayObjectAtTheSamePlace) {
    auto main = CubeObject(40, 36, 30);
    auto overlay = CubeObject(40, 36, 30, 7);
    TShown shown(true);
    FillTable(*overlay, 0x5A00A5u);
    shown.View.SetObject(main.get());
    shown.View.SetOverlayObject(overlay.get());
    shown.Set("alpha", "100");
    EXPECT_EQ(shown.View.OverlayAlpha(), 255);
    const QImage shot = shown.Grab();

    TViewSettings settings;
    settings.Path = "LBN";
    settings.MipAllowed = true;
    TBitmap32 expected, layer;
    TSliceCache cache, overlayCache;
    BuildViewPicture(main.get(), shown.View.Mapping(), settings, expected, cache);
    ASSERT_TRUE(BuildOverlayPicture(overlay.get(), main.get(), settings, layer, overlayCache));
    ASSERT_EQ(layer.Width(), expected.Width());
    // Weight 255: each byte of the overlay × 255 div 256, nothing of the picture.
    for (int i = 0; i < expected.Width() * expected.Height(); ++i) {
        std::uint32_t fused = 0;
        for (int shift = 0; shift < 32; shift += 8)
            fused |= (((layer.Bits()[i] >> shift) & 0xFF) * 255 / 256) << shift;
        expected.Bits()[i] = fused;
    }
    ExpectShows(shot, expected, "fused");
    const std::vector<std::string> around = {"detail: +CreateOverlayBitmap", "detail: -CreateOverlayBitmap"};
    EXPECT_NE(std::search(shown.Statuses.begin(), shown.Statuses.end(), around.begin(), around.end()),
              shown.Statuses.end());
}

TEST(DicomViewFrame, LetsGoOfAnObjectAboutToBeDestroyed) {
    auto main = CubeObject(40, 36, 30);
    auto overlay = CubeObject(40, 36, 30, 7);
    TShown shown(true);
    shown.View.SetObject(main.get());
    shown.View.SetOverlayObject(overlay.get());
    shown.View.ObjectDestroying(*CubeObject(20, 20, 20)); // another object: nothing
    EXPECT_EQ(shown.View.OverlayObject(), overlay.get());
    shown.View.ObjectDestroying(*overlay);
    EXPECT_EQ(shown.View.OverlayObject(), nullptr);
    EXPECT_EQ(shown.View.DicomObject(), main.get());
    overlay.reset();
    // Nothing is fused any more, not even at weight 0 (which would take 1/256 off each byte).
    TViewSettings settings;
    settings.Path = "LBN";
    settings.MipAllowed = true;
    TBitmap32 plain;
    TSliceCache cache;
    const QImage shot = shown.Grab();
    BuildViewPicture(main.get(), shown.View.Mapping(), settings, plain, cache);
    ExpectShows(shot, plain, "without overlay");
    shown.View.ObjectDestroying(*main);
    EXPECT_EQ(shown.View.DicomObject(), nullptr);
    main.reset();
    ExpectShows(shown.Grab(), TBitmap32(), "let go");
}

TEST(DicomViewFrame, WritesItsStateIntoTheBranch) {
    auto object = CubeObject(40, 36, 30);
    TShown shown(true);
    EXPECT_EQ(shown.View.toolTip(), "Detail view");
    shown.View.SetObject(object.get());
    EXPECT_EQ(NodeAt<TConfigNode>(*shown.Root, "detail/path").GetText(), "LBN");
    EXPECT_EQ(shown.Value("fit"), 0);
    EXPECT_EQ(NodeAt<TScalarNode>(*shown.Root, "detail/slice").Max(), 29);
    EXPECT_EQ(shown.Value("slice"), shown.View.CurrentSlice());
    shown.View.SetFitMode(1);
    EXPECT_EQ(shown.Value("fit"), 1);
    EXPECT_NEAR(shown.Value("zoom"), shown.View.ZoomExponent(), 0.5);

    // A setting of the branch is the view's again after an update.
    shown.Set("grid", "50");
    shown.View.SetGridAlpha(0.9);
    shown.View.BeginUpdate();
    shown.View.EndUpdate();
    EXPECT_DOUBLE_EQ(shown.View.GridAlpha(), 0.5);
    shown.View.SetCrossAngle(12);
    EXPECT_EQ(shown.Value("align"), -12);
}

TEST(DicomViewFrame, MovesTheObjectsPositionAndStopsTheLoop) {
    auto object = CubeObject(40, 36, 30);
    TShown shown(true);
    shown.View.SetObject(object.get());
    int moved = 0;
    shown.View.OnPositionChanged = [&](TDicomViewFrame&) { ++moved; };
    shown.Set("animate", "1");
    shown.View.SetPosition(QPoint(5, 6));
    EXPECT_EQ(moved, 1);
    EXPECT_EQ(shown.Value("animate"), 0);
    EXPECT_EQ(shown.View.AnimateStep(), 0);
    // "LBN": columns count from the left end of x, rows along y.
    EXPECT_EQ(object->Position().X, 40 - 1 - 5);
    EXPECT_EQ(object->Position().Y, 6);

    class TShiftHost : public THeadlessHost {
    public:
        bool ShiftHeld() override { return true; }
    } host;
    {
        const TScopedHost scoped(host);
        shown.Fire("slices/right");
    }
    EXPECT_EQ(shown.View.Position(), QPoint(15, 6));
    EXPECT_EQ(moved, 2);

    const TCubePoint world = object->Cube().IndexToWorld({3, 4, 5});
    shown.View.SetWorldPosition(world);
    EXPECT_EQ(object->Position(), (TCubePoint{3, 4, 5}));
    EXPECT_EQ(shown.View.GetWorldPosition(), world);
    EXPECT_EQ(shown.View.Position(), QPoint(40 - 1 - 3, 4));
}

} // namespace
} // namespace tarvicon
