#pragma once
// TForm1: the viewer's main window and its conductor. It owns the parameter tree (through the
// parameter session), the study tree, the four DICOM views, the study tree widget, the control
// panel's pages, the status bar and the progress dialog; it runs the start-up, the idle work,
// the per-series memory and the views' synchronisation, and reacts to the parameter nodes that
// belong to the window. Everything runs on the UI thread.

#include "app/UserSettings.h"
#include "catalogue/CommandLines.h"
#include "catalogue/DicomTrees.h"
#include "catalogue/ParameterSessions.h"
#include "config/ConfigNodes.h"
#include "util/TraceFiles.h"
#include "views/FrameLogs.h"

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QSplitter;
class QTabWidget;
class QMenu;

namespace tarvicon {

class TDicomViewFrame;
class TSimpleViewFrame;
class TDicomTreeView;
class TProgressForm;
class TTracedHost;
class TTraceFrame;
class TDicomOverviewFrame;
class TDicomInfoFrame;
class TMiniControlFrame;
class TPresetFrame;
class TShortcutFrame;

// The window system's dialogs, replaceable by tests; an empty function shows the real dialog.
struct TFormDialogs {
    // The folder dialog: caption and start folder; an empty answer is a cancel.
    std::function<std::string(const std::string& caption, const std::string& start)> BrowseFolder;
    // The multi-select file dialog; an empty list is a cancel.
    std::function<std::vector<std::string>()> OpenFiles;
    // A question with Yes and Cancel; true for Yes.
    std::function<bool(const std::string& text)> Confirm;
    // An error box with OK.
    std::function<void(const std::string& text)> Error;
    // The save-picture dialog in the start folder with the proposed name; animated offers the
    // GIF and the videos besides the pictures. An empty answer is a cancel.
    std::function<std::string(const std::string& startFolder, const std::string& proposed, bool animated)>
        SavePicture;
    // The one-line legend box filled with the legend; no answer is a cancel.
    std::function<std::optional<std::string>(const std::string& legend)> InputLegend;
    // The desktop's "open" of a folder; false when nothing could open it.
    std::function<bool(const std::string& folder)> OpenFolder;
    // "Open from PACS…" with the last server: the chosen study's "dicomweb:" address; empty is a
    // cancel.
    std::function<std::string(const std::string& server)> ChoosePacsStudy;
};

// How the window is started: the command line, the program's path (for the configuration
// document's default and the settings' name), the trace and the host.
struct TFormStart {
    TCommandLine CommandLine;
    std::string ProgramPath;
    // The settings are kept under "Quintar" and this name.
    std::string SettingsName = "tarvicon";
    TFormDialogs Dialogs;
};

class TForm1 : public QMainWindow, private ITreeListener, private INodeListener {
    Q_OBJECT
public:
    TForm1(TFormStart start, const TTraceFile& trace, TTracedHost& host, QWidget* parent = nullptr);
    ~TForm1() override;

    // Called when the configuration document failed to load and the program must end with a
    // non-zero status (after the error box).
    std::function<void(int status)> OnFatal;

    TPresetNode& Root() { return session_.Root(); }
    TParameterSession& Session() { return session_; }
    TDicomTree& Tree() { return tree_; }
    TDicomViewFrame& DetailView() { return *views_[0]; }
    // The views in the order detail, coronal, sagittal, transaxial.
    const std::array<TDicomViewFrame*, 4>& Views() const { return views_; }
    TDicomTreeView& TreeView() { return *treeView_; }
    QWidget& NaviPanel() { return *naviPanel_; }
    QTabWidget& PageControl() { return *pageControl_; }
    TShortcutFrame& ShortcutFrame() { return *shortcutFrame_; }
    TPresetFrame& PresetFrame() { return *presetFrame_; }
    TTraceFrame& TraceFrame() { return *traceFrame_; }
    // The text of status panel 0..3.
    QString StatusText(int panel) const;
    bool Started() const { return started_; }
    // Files are queued or a load run is going on.
    bool LoadPending() { return tree_.Loading() || tree_.Cache().Count() > 0; }
    const std::string& LastDirectory() const { return settings_.LastDirectory; }
    // The idle work as the event loop and the timer run it (tests call it directly).
    void IdleWork();

    // Appends a line to the trace page and to the trace file.
    void Log(const std::string& text);

    // The operations of the window the commands and the parameter tree reach.
    void OpenDirectory();
    void AddDirectory();
    // Hands a folder to the study tree; one without files is reported under the name shown.
    void AddFolderOrSay(const std::string& folder, const std::string& shown);
    void AddFiles();
    // Searches a PACS and loads the chosen study into the tree as one more load run.
    void OpenFromPacs();
    void ConfirmQuit();
    void Minimize();
    void ClearAll();
    void BeginBusy();
    // rebuild false: a view builds its picture again only when something in the bracket changed
    // it (a selection report of the same series, as each new slice gives one).
    void EndBusy(bool rebuild = true);
    // Loads entry index of a section of the configuration document and shows the "Control" page.
    void ApplyPreset(const std::string& kind, int index);
    void AutoSetup(bool withInits);
    void ApplyInitialSelection();
    void BuildPresetShortcuts();
    std::string CopyParameters();
    void PasteParameters(const std::string& text);
    void ResampleAligned();
    // Switches the window's border between none and sizeable.
    void ReleaseWindow();

    // The export: a still picture of the detail view, or, while it rotates or loops through
    // its slices, a GIF or a video of the animation; interactive asks for the file name.
    void ExportPicture(bool interactive, bool askLegend, bool animated);
    void OpenExportFolder();
    void ShowSelectionFrame(bool on);
    // Writes the shown series' cube to "cuboid.cub" in the export folder.
    void SaveCuboid();

    // The layout, status bar and wheel.
    void FormResize();
    void NaviPanelResize();
    void ShowAngleGuides(int angle);
    void UpdateStatusBar();
    void UpdateViewLabel();
    // A wheel turn with its delta's sign at a global position with the modifiers and buttons.
    void FormMouseWheel(int sign, QPoint globalPosition, Qt::KeyboardModifiers modifiers,
                        Qt::MouseButtons buttons);
    // The wheel target for a global position and the modifiers (a cursor number).
    int WheelTargetAt(QPoint globalPosition, Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The export's parts (MainFormExport.cpp).
    std::string ChooseExportFile(const std::string& proposed, bool animated);
    std::string AskLegend(const std::string& legend);
    void ExportStill(const std::string& file, const std::string& legend);
    // False when cancelled: nothing written.
    bool ExportAnimation(const std::string& file, const std::string& legend);

    // Construction.
    void BuildLayout();
    void SetUpViews();
    void WireViews();
    void BindParameterTree();
    void StartIdle();
    // The first idle pass: settings, command line, folder dialog, configuration document.
    void DeferredStart();
    void LoadConfiguration();
    void ReadSettings();
    void WriteSettings();
    // Runs work and shows what it raises in the error box: one failed operation abandons only itself.
    template <typename Work>
    void Guarded(Work&& work) {
        try {
            work();
        } catch (const std::exception& error) {
            ShowError(error.what());
        }
    }
    void ShowError(const std::string& text);
    std::string BrowseFolder(const std::string& caption);

    // ITreeListener
    void SelectionChanging(TDicomTree& tree) override;
    void SelectionChanged(TDicomTree& tree) override;
    void CubeChanged(TDicomTree& tree) override;
    void LoadingFinished(TDicomTree& tree) override;
    void LoadError(TDicomTree& tree, const std::string& message) override;
    void TreeTrace(TDicomTree& tree, const std::string& text) override;
    void ObjectDestroying(TDicomTree& tree, const TDicomObject& object) override;
    // INodeListener
    void NodeChanged(TConfigNode& node) override;
    void DispatchNode(const std::string& path, TConfigNode& node);

    // The series shown and the views in step.
    void ShowSelection();
    void UpdateParameterAvailability(bool volume, bool sixteenBit);
    TDicomObject* NavigationObject();
    TColorMapping* NavigationMapping();
    void BindNavigationViews();
    void SyncViewsToRebuilt(TSimpleViewFrame& view);
    void SyncViewsToPosition(TDicomViewFrame& sender);
    void ViewDoubleClicked(TDicomViewFrame& view);
    void CapsLockWork();
    void SetMipDetail(bool on);
    void SetMipNavi(bool on);
    void ApplyScreensplit(int value);
    bool WantsBusyIdle();
    TConfigNode& Node(const char* path) { return session_.Existing(path); }
    bool NodeEnabled(const char* path);
    void UpdateDetailCursor();

    TFormStart start_;
    const TTraceFile& trace_;
    TTracedHost& host_;
    // A line per painted frame of every view when TARVICON_FRAMES asks for it.
    const TFrameLog frames_ = TFrameLog::FromEnvironment();
    TParameterSession session_{TLevelRule::BoundView};
    TDicomTree tree_;
    TUserSettings settings_;

    // The components; the window owns them through Qt's parent chain.
    std::array<TDicomViewFrame*, 4> views_{};
    TDicomTreeView* treeView_ = nullptr;
    QSplitter* mainSplitter_ = nullptr;
    QWidget* naviPanel_ = nullptr;
    QSplitter* naviSplitter_ = nullptr;
    QSplitter* upperNaviPanel_ = nullptr;
    QSplitter* midleNaviPanel_ = nullptr;
    QWidget* controlPanel_ = nullptr;
    QTabWidget* pageControl_ = nullptr;
    TShortcutFrame* shortcutFrame_ = nullptr;
    TMiniControlFrame* miniControlFrame_ = nullptr;
    TDicomOverviewFrame* overviewFrame_ = nullptr;
    TDicomInfoFrame* infoFrame_ = nullptr;
    TPresetFrame* presetFrame_ = nullptr;
    TTraceFrame* traceFrame_ = nullptr;
    std::array<QLabel*, 4> statusPanels_{};
    std::unique_ptr<TProgressForm> progressForm_;
    QTimer timer1_;
    // One idle pass after the events of a loop iteration, and again at once while loading or
    // animating.
    QTimer idleTimer_;
    bool eventsSinceIdle_ = true;
    static constexpr std::uint64_t kLoadSliceMs = 16;

    bool created_ = false;
    bool started_ = false;
    bool inIdle_ = false;
    int selectionDepth_ = 0;
    bool syncingViews_ = false;
    bool resizingNavi_ = false;
    bool borderless_ = true;
    bool coronalRotating_ = false;
    int naviWidth_ = 0;
    TCubePoint twinPosition_;
    std::string twinPath_;
    int twinFitMode_ = 0;
    double twinZoom_ = 0;
    std::int32_t capsSeries_ = 0;
    const TDicomObject* infoObject_ = nullptr;
    int wheelRest_ = 0;
    // The save dialog's start folder: the export folder from the first export on.
    std::string exportStartFolder_;
    // An animation is being exported: idle work waits.
    bool exporting_ = false;
    std::string hintText_;
};

} // namespace tarvicon
