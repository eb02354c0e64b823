// The detail view's interaction figures, in a window (under Xvfb) or offscreen, with the core's
// own times beside them:
//  (a) pictures per second while the slice loop ("detail/animate" = 1) runs through a
//      512 × 512 × 400 16-bit series in a 1000 × 1000 detail view, with a transaxial navigation
//      view projecting its maximum (MipNavi) that follows each new slice;
//  (b) the time from a change of "detail/colormapping/level/center" to the repainted view
//      (table fill, re-map, paint), median of 50 changes, beside the core's table fill and
//      re-map (TSliceCache::Apply) of the same picture.
// Not a test: it prints the figures. Seconds of animation: the first argument (default 5).

#include "HeadPhantom.h"
#include "catalogue/DicomObjects.h"
#include "catalogue/ParameterSessions.h"
#include "catalogue/ViewPictures.h"
#include "util/NumberTexts.h"
#include "views/DicomViewFrames.h"
#include "views/QtHosts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace tarvicon;

using bench::kDepth;
using bench::kHeight;
using bench::kWidth;

// The head phantom as a series of 0.5 mm voxels, its navigation views projecting.
std::unique_ptr<TDicomSingleImage> MakeSeries() {
    auto series = std::make_unique<TDicomSingleImage>();
    TPixelCube& c = series->Cube();
    bench::FillHeadPhantom(c);
    c.SetMetrics({500, 500, 500});
    series->SetPosition({256, 256, 200});
    series->SetMipNavi(true);
    return series;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Milliseconds of one call, median of n.
double MedianMs(int n, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < n; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    return Median(times);
}

std::string Ms(double ms) {
    return FormatFixed(ms, 2) + " ms";
}

// Runs the event loop until done says so or the seconds pass.
void RunUntil(const std::function<bool()>& done, int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < milliseconds) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace

int main(int argc, char** argv) {
    InitProcessNumbers();
    QApplication application(argc, argv);
    InitProcessNumbers();
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    std::printf("platform %s; series %ux%ux%u 16-bit\n", QApplication::platformName().toUtf8().constData(),
                kWidth, kHeight, kDepth);
    const auto series = MakeSeries();
    TParameterSession session(TLevelRule::BoundView);
    TConfigNode& center = session.Existing("detail/colormapping/level/center");
    session.Existing("detail/colormapping/level/low").SetAsFloat(5);
    session.Existing("detail/colormapping/level/high").SetAsFloat(60);

    TDicomViewFrame detail;
    detail.SetName("detail");
    detail.SetPath("RBF");
    detail.SetResampler("TLinearResampler");
    detail.SetMipAllowed(true);
    detail.BindBranch(session.Root().FindNode("detail"));
    detail.resize(1000, 1000);
    detail.SetFitMode(1);
    TDicomViewFrame navigation;
    navigation.SetName("transaxial");
    navigation.SetPath("RBF");
    navigation.SetResampler("TDraftResampler");
    navigation.SetColorMapping(detail.Mapping());
    navigation.SetGridAlpha(1.0);
    navigation.resize(400, 400);
    navigation.move(1010, 0);
    navigation.SetFitMode(2);

    int detailBuilds = 0, navigationBuilds = 0;
    detail.OnBuilt = [&](TSimpleViewFrame&) {
        ++detailBuilds;
        // The navigation view follows the detail view's slice, as the main window keeps it.
        navigation.Changed();
    };
    navigation.OnBuilt = [&](TSimpleViewFrame&) { ++navigationBuilds; };
    detail.show();
    navigation.show();
    detail.SetObject(series.get());
    navigation.SetObject(series.get());
    RunUntil([&] { return detailBuilds > 0 && navigationBuilds > 0; }, 10000);
    std::printf("detail picture %dx%d in a %dx%d view; navigation picture %dx%d\n", detail.Picture().Width(),
                detail.Picture().Height(), detail.ImgView().viewport()->width(),
                detail.ImgView().viewport()->height(), navigation.Picture().Width(),
                navigation.Picture().Height());

    // The core alone: each picture cut with an empty cache, as a new slice is.
    {
        TBitmap32 picture;
        TSliceCache cache;
        const TViewSettings detailSettings = detail.Settings();
        const TViewSettings navigationSettings = navigation.Settings();
        const double slice = MedianMs(20, [&] {
            cache.Clear();
            BuildViewPicture(series.get(), detail.Mapping(), detailSettings, picture, cache);
        });
        const double projection = MedianMs(20, [&] {
            cache.Clear();
            BuildViewPicture(series.get(), detail.Mapping(), navigationSettings, picture, cache);
        });
        std::printf("core render: detail slice %s, navigation maximum slab %s, both %s\n", Ms(slice).c_str(),
                    Ms(projection).c_str(), Ms(slice + projection).c_str());
    }

    // (a) The slice loop for some seconds.
    detailBuilds = navigationBuilds = 0;
    QElapsedTimer clock;
    clock.start();
    session.Existing("detail/animate").SetAsInteger(1);
    RunUntil([] { return false; }, seconds * 1000);
    const double elapsed = double(clock.elapsed()) / 1000;
    session.Existing("detail/animate").SetAsInteger(0);
    std::printf("slice loop: %s detail pictures/s, %s navigation pictures/s over %s s (timer limit 50)\n",
                FormatFixed(detailBuilds / elapsed, 1).c_str(),
                FormatFixed(navigationBuilds / elapsed, 1).c_str(), FormatFixed(elapsed, 1).c_str());
    RunUntil([] { return false; }, 200);

    // (b) A window change to the repainted view: the change, then a synchronous repaint of the
    // view (build: table fill and re-map; the resampled drawing; the flush to the window).
    std::vector<double> changes;
    const double c0 = center.GetAsFloat();
    detailBuilds = 0;
    for (int i = 0; i < 51; ++i) {
        const double value = c0 + (i % 2 == 0 ? 3 : -3);
        const auto start = std::chrono::steady_clock::now();
        center.SetAsFloat(value);
        detail.ImgView().viewport()->repaint();
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (i > 0) changes.push_back(ms);
        // The navigation view's repaint (it shares the mapping) happens outside the measure.
        QApplication::processEvents();
    }
    std::printf("window change to repainted view: median %s of %zu (%d builds)\n",
                Ms(Median(changes)).c_str(), changes.size(), detailBuilds);
    // The same repaint without a change: the resampled drawing, the cross and the flush alone.
    const double repaint = MedianMs(50, [&] { detail.ImgView().viewport()->repaint(); });
    std::printf("repaint without a change: median %s\n", Ms(repaint).c_str());

    // The core alone over the same picture: the table fill and the re-map of the cached values.
    {
        TBitmap32 picture;
        TSliceCache cache;
        BuildViewPicture(series.get(), detail.Mapping(), detail.Settings(), picture, cache);
        TColorMapping& mapping = *detail.Mapping();
        const double fill = MedianMs(50, [&] { mapping.FillTable(&series->ColorTable()); });
        const double remap = MedianMs(50, [&] {
            cache.Apply(series->ColorTable(), picture.Bits(),
                        std::size_t(picture.Width()) * picture.Height());
        });
        std::printf("core: table fill %s, re-map (TSliceCache::Apply, %dx%d) %s, both %s\n", Ms(fill).c_str(),
                    picture.Width(), picture.Height(), Ms(remap).c_str(), Ms(fill + remap).c_str());
    }
    detail.SetObject(nullptr);
    navigation.SetObject(nullptr);
    detail.BindBranch(nullptr);
    return 0;
}
