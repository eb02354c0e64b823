// The main window's answer to a hand on the mouse: the time from a wheel notch to the four
// views painted again, on the series of a folder (bench/loading/make_series.py writes the
// 512 × 512 × 400 one), in a window under Xvfb or offscreen:
//  (a) a notch over the middle of the detail view: the next slice, the navigation views following;
//  (b) a notch over its left strip: the window's centre, the picture re-mapped;
//  (c) a notch over the transaxial navigation view: its slice, the detail view following.
// Not a test: it prints the median of 40 notches each.
//
//   app_bench FOLDER

#include "app/MainForms.h"
#include "util/Folders.h"
#include "util/Host.h"
#include "util/NumberTexts.h"
#include "util/TraceFiles.h"
#include "views/DicomViewFrames.h"
#include "views/TracedHosts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace tarvicon;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Every view paints what it was asked to paint, now.
void PaintAll(TForm1& form) {
    QCoreApplication::processEvents();
    for (TDicomViewFrame* view : form.Views()) view->repaint();
}

double NotchMs(TForm1& form, QWidget& over, QPoint at, Qt::KeyboardModifiers modifiers, int sign) {
    QElapsedTimer timer;
    timer.start();
    form.FormMouseWheel(sign, over.mapToGlobal(at), modifiers, Qt::NoButton);
    PaintAll(form);
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: app_bench FOLDER\n", stderr);
        return 2;
    }
    InitProcessNumbers();
    QApplication application(argc, argv);
    InitProcessNumbers();
    const TTraceFile trace("");
    TTracedHost host(trace);
    const TScopedHost scopedHost(host);

    TFormStart start;
    start.CommandLine.Paths.push_back(argv[1]);
    start.ProgramPath = ExeDir() + "tarvicon";
    start.SettingsName = "tarvicon-bench";
    TForm1 form(std::move(start), trace, host);
    form.resize(1600, 1000);
    form.show();
    while (!form.Started() || form.LoadPending()) {
        form.IdleWork();
        QCoreApplication::processEvents();
    }
    TDicomViewFrame& detail = form.DetailView();
    if (!detail.DicomObject()) {
        std::fputs("app_bench: no series shown\n", stderr);
        return 1;
    }
    PaintAll(form);

    const QPoint middle(detail.width() / 2, detail.height() / 2);
    const QPoint leftStrip(detail.width() / 20, detail.height() / 2);
    TDicomViewFrame& transaxial = *form.Views()[3];
    const QPoint naviMiddle(transaxial.width() / 2, transaxial.height() / 2);
    const struct {
        const char* Name;
        QWidget* Over;
        QPoint At;
    } cases[] = {{"slice (detail middle)", &detail, middle},
                 {"window centre (detail left strip)", &detail, leftStrip},
                 {"navigation slice (transaxial view)", &transaxial, naviMiddle}};
    for (const auto& c : cases) {
        std::vector<double> times;
        for (int i = 0; i < 40; ++i)
            times.push_back(NotchMs(form, *c.Over, c.At, Qt::NoModifier, i % 2 ? 1 : -1));
        std::printf("%-40s median %s ms, max %s ms\n", c.Name, FormatFixed(Median(times), 2).c_str(),
                    FormatFixed(*std::max_element(times.begin(), times.end()), 2).c_str());
    }
    return 0;
}
