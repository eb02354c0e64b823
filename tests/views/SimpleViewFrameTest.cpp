#include "support/TestSupport.h"
#include "views/SimpleViewFrames.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <stdexcept>

namespace tarvicon {
namespace {

// A colour that names its pixel; the alpha byte varies, since a view shows pictures opaque.
std::uint32_t Named(int x, int y) {
    return (std::uint32_t((x * 7) & 0xFF) << 16) | (std::uint32_t((y * 5) & 0xFF) << 8) | 0x80u |
           (std::uint32_t(x % 3 == 0 ? 0x12 : 0xFE) << 24);
}

// A view whose build fills a known picture, at a density of 4 screen pixels per mm whatever the
// screen says, so that 250 µm pixels are one screen pixel each at zoom 1.
class TTestView : public TSimpleViewFrame {
public:
    TTestView(int width, int height) : width_(width), height_(height) {}
    int Builds = 0;
    const char* Failure = nullptr;

    void Build() override {
        ++Builds;
        if (Failure) throw std::runtime_error(Failure);
        Fill(Picture());
        TSimpleViewFrame::Build();
    }
    void UpdateGeometry() override {
        TSimpleViewFrame::UpdateGeometry();
        SetPixelsPerMm(4, 4);
    }
    void Fill(TBitmap32& picture) const {
        picture.SetSize(width_, height_);
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x)
                picture.Bits()[std::size_t(y) * std::size_t(width_) + std::size_t(x)] = Named(x, y);
    }

private:
    int width_;
    int height_;
};

// A view of a picture × in a view of width × height, pixel to pixel (scale 1 exactly).
struct TShownView {
    TTestView View;
    TShownView(int pictureWidth, int pictureHeight, int width, int height)
        : View(pictureWidth, pictureHeight) {
        View.resize(width, height);
        // The checks read the picture's pixels from the view's top left (centring has its own).
        View.ImgView().SetCentered(false);
        View.show();
        View.Fill(View.Picture());
        View.SetImageMetrics(250, 250);
        View.SetFitMode(0);
    }
    QImage Grab() { return View.ImgView().viewport()->grab().toImage(); }
    std::uint32_t Shown(int x, int y) { return Named(x, y) | 0xFF000000u; }
};

void Mouse(TSimpleViewFrame& view, QEvent::Type type, QPoint at, Qt::MouseButtons buttons,
           Qt::KeyboardModifiers keys = Qt::NoModifier) {
    QWidget* target = view.ImgView().viewport();
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), target->mapToGlobal(QPointF(at)), button, buttons, keys);
    QCoreApplication::sendEvent(target, &event);
}

TEST(SimpleViewFrame, ShowsThePicturePixelForPixel) {
    TShownView shown(64, 48, 200, 150);
    shown.View.SetHideCross(true);
    ASSERT_EQ(shown.View.ImgView().viewport()->size(), QSize(200, 150));
    EXPECT_DOUBLE_EQ(shown.View.Scale().X, 1);
    EXPECT_DOUBLE_EQ(shown.View.Scale().Y, 1);

    const QImage shot = shown.Grab();
    ASSERT_EQ(shot.size(), QSize(200, 150));
    EXPECT_GE(shown.View.Builds, 1);
    int wrong = 0;
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 200; ++x) {
            const std::uint32_t expected = x < 64 && y < 48 ? shown.Shown(x, y) : 0xFF000000u;
            if (shot.pixel(x, y) != expected && ++wrong <= 5)
                ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << shot.pixel(x, y) << " not "
                              << expected;
        }
    EXPECT_EQ(wrong, 0);
}

// A picture smaller than the view sits in its middle, and the mouse finds its pixels there; on
// an axis where the zoomed picture is larger than the view, the scroll position places it.
TEST(SimpleViewFrame, ASmallPictureSitsInTheMiddle) {
    TShownView shown(64, 48, 200, 150);
    shown.View.SetHideCross(true);
    shown.View.ImgView().SetCentered(true);
    const QImage shot = shown.Grab();
    EXPECT_EQ(shot.pixel(68, 51), shown.Shown(0, 0));
    EXPECT_EQ(shot.pixel(68 + 63, 51 + 47), shown.Shown(63, 47));
    EXPECT_EQ(shot.pixel(67, 51), 0xFF000000u);
    EXPECT_EQ(shot.pixel(68, 50), 0xFF000000u);
    EXPECT_EQ(shown.View.ViewToPicture({68 + 10, 51 + 20}), QPoint(10, 20));
    EXPECT_EQ(shown.View.PictureToView({10, 20}).X, 78);

    shown.View.SetZoom(4); // 256 × 192 on a 200 × 150 view
    shown.View.ImgView().SetScrollPosition({5, 7});
    EXPECT_EQ(shown.View.ImgView().PictureOffset(), QPoint(5, 7));
    EXPECT_EQ(shown.View.ViewToPicture({3, 1}), QPoint(2, 2));
}

TEST(SimpleViewFrame, DrawsTheCrossWhereThePositionIs) {
    TShownView shown(64, 48, 200, 150);
    for (const QPoint at : {QPoint(32, 30), QPoint(50, 25)}) {
        shown.View.SetPosition(at);
        const QImage shot = shown.Grab();
        const auto differs = [&](int x, int y) {
            const std::uint32_t picture = x < 64 && y < 48 ? shown.Shown(x, y) : 0xFF000000u;
            return shot.pixel(x, y) != picture;
        };
        // The arms: left of the gap on the point's row, above it in its column (stippled).
        int left = 0, top = 0;
        for (int x = 0; x < at.x() - 21; ++x) left += differs(x, at.y());
        for (int y = 0; y < at.y() - 21; ++y) top += differs(at.x(), y);
        EXPECT_GE(left, (at.x() - 21) / 3) << at.x();
        EXPECT_GE(top, (at.y() - 21) / 3) << at.x();
        // The gap of 20 pixels around the point, in both passes.
        for (int d = -18; d <= 18; ++d)
            for (int k = 0; k <= 1; ++k) {
                EXPECT_FALSE(differs(at.x() + d, at.y() + k)) << at.x() + d << "," << at.y() + k;
                EXPECT_FALSE(differs(at.x() + k, at.y() + d)) << at.x() + k << "," << at.y() + d;
            }
        // A row off the cross and outside the legend stays the picture, but for the column.
        for (int x = 0; x < 200; ++x) {
            if (std::abs(x - at.x()) > 2) {
                EXPECT_FALSE(differs(x, at.y() + 40)) << x;
            }
        }
    }
}

TEST(SimpleViewFrame, UpdatingShowsGreyAndEndUpdateRebuilds) {
    TShownView shown(64, 48, 200, 150);
    shown.Grab();
    const int builds = shown.View.Builds;
    shown.View.BeginUpdate();
    shown.View.BeginUpdate();
    shown.View.SetCrossAngle(10);
    EXPECT_EQ(shown.Grab().pixel(5, 5), 0xFF3F3F3Fu);
    shown.View.EndUpdate();
    EXPECT_EQ(shown.Grab().pixel(5, 5), 0xFF3F3F3Fu);
    EXPECT_EQ(shown.View.Builds, builds);
    shown.View.EndUpdate();
    EXPECT_TRUE(shown.View.NeedsBuild());
    EXPECT_EQ(shown.Grab().pixel(5, 5), shown.Shown(5, 5));
    EXPECT_EQ(shown.View.Builds, builds + 1);
    EXPECT_FALSE(shown.View.NeedsBuild());
}

TEST(SimpleViewFrame, ZoomLimitsFitModesAndThePointInPlace) {
    TShownView shown(512, 256, 800, 600);
    TSimpleViewFrame& view = shown.View;
    int zoomEvents = 0;
    view.OnZoomChanged = [&](TSimpleViewFrame&) { ++zoomEvents; };
    view.SetFitMode(1);
    EXPECT_DOUBLE_EQ(view.Scale().X, 800.0 / 512);
    EXPECT_DOUBLE_EQ(view.Scale().Y, 800.0 / 512);
    view.SetFitMode(2);
    EXPECT_DOUBLE_EQ(view.Scale().X, 600.0 / 256);
    EXPECT_EQ(view.FitMode(), 2);

    view.SetZoom(500);
    EXPECT_DOUBLE_EQ(view.CurrentZoom(), 100);
    EXPECT_EQ(view.FitMode(), 4);
    view.SetZoom(0.001);
    EXPECT_DOUBLE_EQ(view.CurrentZoom(), 0.01);
    view.SetZoom(1);
    EXPECT_EQ(view.FitMode(), 3);
    EXPECT_EQ(zoomEvents, 5);

    // Zooming in keeps the navigation point where it is on the screen.
    view.SetPosition({300, 100});
    view.SetZoom(2);
    const TPointD before = view.PictureToView({300, 100});
    view.SetZoom(3);
    const TPointD after = view.PictureToView({300, 100});
    EXPECT_NEAR(after.X, before.X, 1);
    EXPECT_NEAR(after.Y, before.Y, 1);
    EXPECT_GT(view.ImgView().ScrollPosition().x(), 0);
}

TEST(SimpleViewFrame, RealSizeFollowsTheMetrics) {
    TTestView view(100, 100);
    view.resize(300, 300);
    view.show();
    view.SetImageMetrics(500, 500); // 0.5 mm pixels at 4 px/mm
    view.SetZoom(1.5);
    view.SetZoom(1);
    EXPECT_DOUBLE_EQ(view.Scale().X, 2);
    EXPECT_DOUBLE_EQ(view.Scale().Y, 2);
    // Zoom 1 is real size and stays real size when the view fits again (a series shown anew).
    EXPECT_EQ(view.FitMode(), 3);
    view.Refit();
    EXPECT_DOUBLE_EQ(view.Scale().X, 2);
    view.Fill(view.Picture());
    view.SetFitMode(3);
    view.SetFitMode(0);
    EXPECT_DOUBLE_EQ(view.Scale().X, 1);
    EXPECT_DOUBLE_EQ(view.Scale().Y, 1);
}

TEST(SimpleViewFrame, PressMovesThePositionAndADragPans) {
    TShownView shown(400, 300, 200, 150);
    TSimpleViewFrame& view = shown.View;
    view.SetHideCross(true);
    view.PanCursor = 9;
    Mouse(view, QEvent::MouseButtonPress, {50, 50}, Qt::LeftButton);
    EXPECT_EQ(view.Position(), QPoint(50, 50));
    EXPECT_EQ(view.DragMode(), DragModePan);
    EXPECT_EQ(view.ImgView().viewport()->cursor().shape(), Qt::BitmapCursor); // the drawn hand
    Mouse(view, QEvent::MouseMove, {30, 40}, Qt::LeftButton);
    Mouse(view, QEvent::MouseButtonRelease, {30, 40}, Qt::NoButton);
    EXPECT_EQ(view.DragMode(), DragModeNone);
    EXPECT_EQ(view.ImgView().viewport()->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(view.ImgView().ScrollPosition(), QPoint(20, 10));
    EXPECT_EQ(shown.Grab().pixel(0, 0), shown.Shown(20, 10));

    // A press on the scrolled picture names the picture's point.
    Mouse(view, QEvent::MouseButtonPress, {37, 21}, Qt::LeftButton);
    Mouse(view, QEvent::MouseButtonRelease, {37, 21}, Qt::NoButton);
    EXPECT_EQ(view.Position(), QPoint(57, 31));
}

TEST(SimpleViewFrame, PressWithCtrlHoldsAfterHalfASecondWithoutPanning) {
    TShownView shown(400, 300, 200, 150);
    TSimpleViewFrame& view = shown.View;
    std::uint64_t now = 1000;
    view.TickCount = [&] { return now; };
    view.HoldCursor = 8;
    Mouse(view, QEvent::MouseButtonPress, {50, 50}, Qt::LeftButton, Qt::ControlModifier);
    EXPECT_EQ(view.DragMode(), DragModeNone);
    EXPECT_EQ(view.HoldStart(), 1000u);
    EXPECT_TRUE(view.Timer1().isActive());
    Mouse(view, QEvent::MouseMove, {30, 40}, Qt::LeftButton, Qt::ControlModifier);
    now = 1499;
    view.Timer1Timer();
    EXPECT_EQ(view.DragMode(), DragModeNone);
    now = 1600;
    view.Timer1Timer();
    EXPECT_EQ(view.DragMode(), DragModeHold);
    EXPECT_EQ(view.HoldStart(), 0u);
    Mouse(view, QEvent::MouseMove, {10, 20}, Qt::LeftButton, Qt::ControlModifier);
    EXPECT_EQ(view.ImgView().ScrollPosition(), QPoint(0, 0));
    Mouse(view, QEvent::MouseButtonRelease, {10, 20}, Qt::NoButton);
    EXPECT_EQ(view.DragMode(), DragModeNone);

    // A release before the time is up starts nothing.
    now = 5000;
    Mouse(view, QEvent::MouseButtonPress, {50, 50}, Qt::LeftButton, Qt::AltModifier);
    Mouse(view, QEvent::MouseButtonRelease, {50, 50}, Qt::NoButton);
    now = 6000;
    view.Timer1Timer();
    EXPECT_EQ(view.DragMode(), DragModeNone);
}

TEST(SimpleViewFrame, CrossFadesOutOverThirteenTicksAndTheTimerSleeps) {
    TShownView shown(64, 48, 200, 150);
    TSimpleViewFrame& view = shown.View;
    view.SetPosition({10, 10});
    EXPECT_EQ(view.CrossFade(), 255);
    EXPECT_TRUE(view.Timer1().isActive());
    for (int tick = 0; tick < 12; ++tick) view.Timer1Timer();
    EXPECT_EQ(view.CrossFade(), 15);
    EXPECT_TRUE(view.Timer1().isActive());
    view.Timer1Timer();
    EXPECT_EQ(view.CrossFade(), 0);
    EXPECT_FALSE(view.Timer1().isActive());
}

TEST(SimpleViewFrame, SelectionFrameEdgeDragKeepsTenPixels) {
    TShownView shown(64, 48, 200, 150);
    TSimpleViewFrame& view = shown.View;
    view.ShowFrame(true);
    view.SelectionFrame().Rect = {40, 40, 180, 140};
    Mouse(view, QEvent::MouseButtonPress, {40, 115}, Qt::LeftButton);
    EXPECT_EQ(view.DragMode(), DragModeFrame);
    EXPECT_EQ(view.ImgView().viewport()->cursor().shape(), Qt::SizeHorCursor);
    EXPECT_NE(view.Position(), QPoint(40, 115));
    Mouse(view, QEvent::MouseMove, {400, 115}, Qt::LeftButton);
    Mouse(view, QEvent::MouseButtonRelease, {400, 115}, Qt::NoButton);
    const TSelectionFrame& frame = view.SelectionFrame();
    EXPECT_DOUBLE_EQ(frame.Rect.Left, 170);
    EXPECT_DOUBLE_EQ(frame.Rect.Right, 180);
    EXPECT_DOUBLE_EQ(frame.Rect.Top, 40);
    EXPECT_EQ(frame.Width, 10);
    EXPECT_EQ(frame.Height, 100);

    // A frame never placed is centred in the view at its size.
    view.SelectionFrame().Rect = {};
    view.SelectionFrame().Width = 100;
    view.SelectionFrame().Height = 50;
    shown.Grab();
    EXPECT_DOUBLE_EQ(view.SelectionFrame().Rect.Left, 50);
    EXPECT_DOUBLE_EQ(view.SelectionFrame().Rect.Top, 50);
    EXPECT_DOUBLE_EQ(view.SelectionFrame().Rect.Right, 150);
}

TEST(SimpleViewFrame, AutoScrollGlidesTowardThePoint) {
    TShownView shown(400, 300, 200, 150);
    TSimpleViewFrame& view = shown.View;
    view.SetPosition({250, 75}); // 100 pixels right of the free middle (50..150)
    const int expected[] = {34, 23, 15};
    int at = 0;
    for (const int step : expected) {
        view.AutoScroll();
        EXPECT_EQ(view.ImgView().ScrollPosition().x() - at, step);
        at = view.ImgView().ScrollPosition().x();
    }
    EXPECT_EQ(view.ImgView().ScrollPosition().y(), 0);
    EXPECT_EQ(view.PendingScroll().x(), -28);
    view.SetScrollMargin(0);
    view.AutoScroll();
    EXPECT_EQ(view.ImgView().ScrollPosition().x(), at);
}

// The BMP file's header fields and its pixel rows (bottom row first).
struct TBmp {
    int Width = 0, Height = 0, Bits = 0;
    std::string Bytes;
    std::uint32_t Pixel(int x, int y) const {
        std::uint32_t offset = 0, v = 0;
        std::memcpy(&offset, Bytes.data() + 10, 4);
        std::memcpy(&v, Bytes.data() + offset + (std::size_t(Height - 1 - y) * Width + x) * 4, 4);
        return v;
    }
};

TBmp ReadBmp(const std::filesystem::path& path) {
    TBmp bmp;
    bmp.Bytes = test::ReadFile(path);
    EXPECT_EQ(bmp.Bytes.substr(0, 2), "BM");
    std::int32_t w = 0, h = 0;
    std::uint16_t bits = 0;
    std::memcpy(&w, bmp.Bytes.data() + 18, 4);
    std::memcpy(&h, bmp.Bytes.data() + 22, 4);
    std::memcpy(&bits, bmp.Bytes.data() + 28, 2);
    bmp.Width = w;
    bmp.Height = h;
    bmp.Bits = bits;
    return bmp;
}

// Width and height of a JPEG file that libjpeg decodes whole.
QSize DecodeJpeg(const std::filesystem::path& path) {
    const std::string bytes = test::ReadFile(path);
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()), (unsigned long)bytes.size());
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    std::vector<unsigned char> row(std::size_t(info.output_width) * std::size_t(info.output_components));
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[] = {row.data()};
        jpeg_read_scanlines(&info, rows, 1);
    }
    const QSize size(int(info.output_width), int(info.output_height));
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return size;
}

TEST(SimpleViewFrame, SavesTheWholeViewAsBmpAndThePictureAsJpeg) {
    TShownView shown(64, 48, 200, 150);
    shown.View.SetHideCross(true);
    const test::TTempDir dir;

    shown.View.SaveToFile((dir.Path() / "view.BMP").string(), "caption");
    const TBmp bmp = ReadBmp(dir.Path() / "view.BMP");
    EXPECT_EQ(bmp.Width, 200);
    EXPECT_EQ(bmp.Height, 150);
    EXPECT_EQ(bmp.Bits, 32);
    EXPECT_EQ(bmp.Pixel(0, 0), shown.Shown(0, 0));
    EXPECT_EQ(bmp.Pixel(63, 47), shown.Shown(63, 47));
    EXPECT_EQ(bmp.Pixel(10, 30), shown.Shown(10, 30));
    EXPECT_EQ(bmp.Pixel(199, 149), 0xFF000000u);

    shown.View.SaveToFile((dir.Path() / "view.Jpg").string(), "caption");
    EXPECT_EQ(DecodeJpeg(dir.Path() / "view.Jpg"), QSize(64, 48));

    shown.View.SaveToFile((dir.Path() / "view.png").string(), "caption");
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "view.png"));
}

TEST(SimpleViewFrame, RenderToBitmapCopiesTheFrameWithoutItAndWritesTheCaption) {
    TShownView shown(64, 48, 200, 150);
    TSimpleViewFrame& view = shown.View;
    view.SetHideCross(true);
    view.ShowFrame(true);
    view.SelectionFrame().Rect = {10, 5, 60, 45};
    TBitmap32 bitmap;
    EXPECT_TRUE(view.RenderToBitmap("", bitmap));
    EXPECT_TRUE(view.SelectionFrame().Visible);
    ASSERT_EQ(bitmap.Width(), 50);
    ASSERT_EQ(bitmap.Height(), 40);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 50; ++x)
            ASSERT_EQ(bitmap.Pixel(x, y), shown.Shown(x + 10, y + 5)) << x << "," << y;

    EXPECT_TRUE(view.RenderToBitmap("Patient A", bitmap));
    EXPECT_EQ(bitmap.Pixel(0, 0), 0xFF000000u);
    int white = 0;
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 50; ++x) white += bitmap.Pixel(x, y) == 0xFFFFFFFFu;
    EXPECT_GT(white, 0);
    EXPECT_EQ(bitmap.Pixel(49, 39), shown.Shown(59, 44));

    view.ShowFrame(false);
    EXPECT_FALSE(view.RenderToBitmap("", bitmap));
    EXPECT_EQ(bitmap.Width(), 64);
    EXPECT_EQ(bitmap.Height(), 48);
}

TEST(SimpleViewFrame, QualityPassesPaintWithTheKernelThenSwitchBack) {
    TShownView shown(64, 48, 200, 150);
    TSimpleViewFrame& view = shown.View;
    std::vector<std::string> statuses;
    view.OnStatus = [&](TSimpleViewFrame&, const std::string& text) { statuses.push_back(text); };
    shown.Grab();
    EXPECT_TRUE(statuses.empty());

    view.SetQuality(true);
    shown.Grab();
    EXPECT_EQ(view.PictureResampler(), "TKernelResampler");
    view.Changed();
    shown.Grab(); // first build: one pass left
    view.Changed();
    shown.Grab(); // second build: back to the configured resampler
    EXPECT_EQ(view.PictureResampler(), "TNearestResampler");
    EXPECT_EQ(statuses, (std::vector<std::string>{"painting with LanczosKernel resampler 2",
                                                  "painting with TNearestResampler 0"}));

    statuses.clear();
    view.SetResampler("TLinearResampler");
    view.Changed();
    view.SetQuality(true);
    shown.Grab();
    view.Changed();
    shown.Grab();
    EXPECT_EQ(statuses, (std::vector<std::string>{"painting with LanczosKernel resampler 1",
                                                  "painting with TLinearResampler 0"}));

    EXPECT_EQ(test::ErrorOf([&] { view.SetResampler("TBogusResampler"); }),
              "Cannot find resampler TBogusResampler");
    EXPECT_EQ(view.ResamplerName(), "TLinearResampler");
}

TEST(SimpleViewFrame, PaintErrorsBecomeTheStatus) {
    TShownView shown(64, 48, 200, 150);
    std::vector<std::string> statuses;
    shown.View.OnStatus = [&](TSimpleViewFrame&, const std::string& text) { statuses.push_back(text); };
    shown.View.Failure = "Cannot load pixelcube from stream";
    shown.View.Changed();
    shown.Grab();
    EXPECT_EQ(statuses, std::vector<std::string>{"Exception: Cannot load pixelcube from stream"});
}

} // namespace
} // namespace tarvicon
