#pragma once
// The window of tarvicon-view: one detail view of a study or a cuboid, bound to the parameter
// tree's "detail" branch, as the viewer shows a series at first sight. The study loads from
// the event loop a time slice at a time, so the window stays responsive; what goes wrong is
// said on the status line (and in a box, or the trace when one is kept) and leaves a usable,
// empty window.

#include "util/TraceFiles.h"
#include "views/TracedHosts.h"
#include "catalogue/CommandLines.h"
#include "catalogue/DicomTrees.h"
#include "catalogue/ParameterSessions.h"
#include "util/Progress.h"

#include <QMainWindow>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

class QLabel;

namespace tarvicon {

class TDicomViewFrame;

class TViewerWindow : public QMainWindow, private ITreeListener, private IProgressSink {
    Q_OBJECT
public:
    // Builds the window and its parameter tree and reads the configuration document (a
    // document that does not load is reported; the view then runs on the tree's defaults).
    TViewerWindow(const TTraceFile& trace, TTracedHost& host, const std::string& configPath);
    ~TViewerWindow() override;

    // Starts showing what the command line names: cuboid files (".cub") as objects of their
    // own at once, the other paths loaded as the viewer's command line loads them.
    void Open(const TCommandLine& commandLine);

    // The detail view.
    TDicomViewFrame& DetailView() { return *view_; }

protected:
    // The wheel zooms the detail view one exponent step per notch through "detail/zoom".
    void wheelEvent(QWheelEvent* event) override;

private:
    // ITreeListener
    void ObjectDestroying(TDicomTree&, const TDicomObject& object) override;
    void SelectionChanged(TDicomTree&) override;
    void CubeChanged(TDicomTree&) override;
    void LoadError(TDicomTree&, const std::string& message) override;
    // IProgressSink: the load's progress on the status line.
    void Started() override {}
    void Show(int bar, const std::string& title, const std::string& text, const std::string& detail) override;
    bool CancelRequested() override { return false; }
    void Ended() override;

    void WireView();
    void LoadCuboid(const std::string& path);
    // One time slice of loading; the end of the run shows the first series.
    void LoadTick();
    void LoadEnded();
    void ShowObject(TDicomObject* object);
    // Tells the user (status line, and a box or the trace).
    void Report(const std::string& message);

    const TTraceFile& trace_;
    TTracedHost& host_;
    TParameterSession session_{TLevelRule::BoundView};
    TDicomTree tree_;
    // Goes before the tree and the parameters it holds on to (a child widget would go after).
    std::unique_ptr<TDicomViewFrame> view_;
    QLabel* message_ = nullptr;
    QLabel* status_ = nullptr;
    QString progressText_;
    // Runs while the study loads: each tick takes one time slice of files and stops the timer
    // when the run has ended, so the window sleeps afterwards.
    QTimer loadTimer_;
    bool inLoadTick_ = false;
    bool loaded_ = false;
    std::vector<std::string> studyPaths_;
    int wheelRest_ = 0;
};

} // namespace tarvicon
