#include "app/MainForms.h"

#include "app/AboutBoxes.h"
#include "app/InfoFrames.h"
#include "app/MiniControlFrames.h"
#include "app/PacsDialogs.h"
#include "app/ParamFrames.h"
#include "app/PresetFrames.h"
#include "app/ProgressForms.h"
#include "app/ShortcutFrames.h"
#include "app/StudyTreeViews.h"
#include "app/TraceFrames.h"
#include "catalogue/Quantiles.h"
#include "util/Folders.h"
#include "util/Progress.h"
#include "views/DicomViewFrames.h"
#include "views/TracedHosts.h"
#include "views/ViewCursors.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <exception>
#include <filesystem>

namespace tarvicon {

namespace {

const QColor kBackground(20, 20, 20);

// The dark background of the views and the splitters; the panels with text inside keep the
// application's own colours.
void PaintBackground(QWidget& widget) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, kBackground);
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

void KeepApplicationColours(QWidget& widget) {
    // Every role set on its own: a palette without set roles would inherit the dark one again.
    QPalette palette = QApplication::palette();
    for (int group = 0; group < QPalette::NColorGroups; ++group)
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            const auto g = static_cast<QPalette::ColorGroup>(group);
            const auto r = static_cast<QPalette::ColorRole>(role);
            palette.setColor(g, r, palette.color(g, r));
        }
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

// The views' set-up: name, resampler, path, fit mode, scroll margin, cursor.
struct TViewSetUp {
    const char* Name;
    const char* Resampler;
    const char* Path;
    int FitMode;
    int ScrollMargin;
    int Cursor;
};
constexpr std::array<TViewSetUp, 4> kViewSetUps = {{
    {"detail", "TLinearResampler", "RBF", 3, 20, 8},
    {"coronar", "TDraftResampler", "RFT", 2, 33, 13},
    {"sagital", "TDraftResampler", "BFR", 2, 33, 13},
    {"transaxial", "TDraftResampler", "RBF", 2, 33, 13},
}};

// The nodes the window listens to, in the order it binds them; the study tree's series
// commands come between these and the last three.
constexpr const char* kWindowPaths[] = {"detail/screensplit",
                                        "detail/autosetup",
                                        "detail/mip-navi",
                                        "detail/chroma-fusion",
                                        "detail/zero",
                                        "detail/exchange",
                                        "detail/twin",
                                        "detail/mip-detail",
                                        "detail/paste",
                                        "detail/angle",
                                        "detail/reload",
                                        "detail/savebitmapopen",
                                        "detail/savebitmapauto",
                                        "detail/crop-frame",
                                        "detail/savebitmap",
                                        "detail/savecuboid",
                                        "detail/copy",
                                        "detail/series/add",
                                        "detail/series/addfile",
                                        "detail/series/open",
                                        "detail/series/quit",
                                        "detail/series/minimize",
                                        "detail/series/resample-aligned",
                                        "detail/slices/detail-coronar",
                                        "detail/slices/detail-sagital",
                                        "detail/slices/detail-transaxial"};
constexpr const char* kLastWindowPaths[] = {"detail/thickness", "detail/angle", "detail/light3d"};

} // namespace

TForm1::TForm1(TFormStart start, const TTraceFile& trace, TTracedHost& host, QWidget* parent)
    : QMainWindow(parent), start_(std::move(start)), trace_(trace), host_(host) {
    setWindowTitle("Tarvicon");
    setWindowIcon(ApplicationIcon());
    BuildLayout();
    // The notices the core gives go to the trace page too (the host itself writes the trace file).
    host_.OnNotice = [this](const std::string& text) { traceFrame_->AddLine(text); };

    session_.Root().SetOnChange([this](TConfigNode&, TConfigNode& changed, const std::string& path) {
        Log(ChangeLine(path, changed.GetText()));
        miniControlFrame_->ColoringBar().update();
    });
    tree_.AddListener(*this);
    shortcutFrame_->OnPreset = [this](int index) { Guarded([&] { ApplyPreset("preset", index); }); };
    presetFrame_->OnSelectPreset = [this](const std::string& kind, int index) {
        Guarded([&] { ApplyPreset(kind, index); });
    };
    presetFrame_->SetRoot(&session_.Root());
    connect(&shortcutFrame_->AutoButton(), &QToolButton::clicked, this,
            [this] { Guarded([&] { AutoSetup(false); }); });

    SetUpViews();
    WireViews();
    BindParameterTree();
    views_[0]->SetPermanentGrid(Node("detail/slices/permanent-grid").GetAsInteger() != 0);
    miniControlFrame_->SetPanelCursor(ViewCursor(14));
    created_ = true;

    progressForm_ = std::make_unique<TProgressForm>(this);
    SetProgressSink(progressForm_.get());
    shortcutFrame_->SetDropDownMenu(&miniControlFrame_->ContextMenu());
    StartIdle();
}

TForm1::~TForm1() {
    qApp->removeEventFilter(this);
    SetProgressSink(nullptr);
    host_.OnNotice = nullptr;
    timer1_.stop();
    idleTimer_.stop();
    session_.Root().SetOnChange(nullptr);
    for (TDicomViewFrame* view : views_) {
        view->SetObject(nullptr);
        view->SetOverlayObject(nullptr);
    }
    views_[0]->BindBranch(nullptr);
    tree_.RemoveListener(*this);
    // The widgets that hold the tree and the parameter nodes go before them.
    std::unique_ptr<QWidget>(takeCentralWidget()).reset();
    progressForm_.reset();
}

void TForm1::BuildLayout() {
    PaintBackground(*this);
    mainSplitter_ = new QSplitter(Qt::Horizontal, this);
    mainSplitter_->setHandleWidth(6);
    mainSplitter_->setChildrenCollapsible(false);
    PaintBackground(*mainSplitter_);
    setCentralWidget(mainSplitter_);

    for (std::size_t i = 0; i < views_.size(); ++i) views_[i] = new TDicomViewFrame();
    views_[0]->setMinimumWidth(100);
    mainSplitter_->addWidget(views_[0]);

    naviPanel_ = new QWidget(mainSplitter_);
    naviPanel_->setObjectName("NaviPanel");
    auto* naviLayout = new QVBoxLayout(naviPanel_);
    naviLayout->setContentsMargins(0, 0, 0, 0);
    naviSplitter_ = new QSplitter(Qt::Vertical, naviPanel_);
    naviSplitter_->setHandleWidth(8);
    naviSplitter_->setChildrenCollapsible(false);
    PaintBackground(*naviSplitter_);
    naviLayout->addWidget(naviSplitter_);
    mainSplitter_->addWidget(naviPanel_);
    mainSplitter_->setStretchFactor(0, 1);
    mainSplitter_->setStretchFactor(1, 0);

    upperNaviPanel_ = new QSplitter(Qt::Horizontal, naviSplitter_);
    upperNaviPanel_->setObjectName("UpperNaviPanel");
    upperNaviPanel_->setHandleWidth(6);
    PaintBackground(*upperNaviPanel_);
    upperNaviPanel_->addWidget(views_[1]);
    upperNaviPanel_->addWidget(views_[2]);
    upperNaviPanel_->setMinimumHeight(20);

    midleNaviPanel_ = new QSplitter(Qt::Horizontal, naviSplitter_);
    midleNaviPanel_->setObjectName("MidleNaviPanel");
    midleNaviPanel_->setHandleWidth(6);
    PaintBackground(*midleNaviPanel_);
    midleNaviPanel_->addWidget(views_[3]);
    treeView_ = new TDicomTreeView(tree_, midleNaviPanel_);
    treeView_->setToolTip("Study structure");
    midleNaviPanel_->addWidget(treeView_);
    midleNaviPanel_->setMinimumHeight(50);

    controlPanel_ = new QWidget(naviSplitter_);
    controlPanel_->setObjectName("ControlPanel");
    controlPanel_->setMinimumHeight(100);
    KeepApplicationColours(*controlPanel_);
    auto* controlLayout = new QVBoxLayout(controlPanel_);
    controlLayout->setContentsMargins(0, 0, 0, 0);
    controlLayout->setSpacing(0);
    shortcutFrame_ = new TShortcutFrame(controlPanel_);
    controlLayout->addWidget(shortcutFrame_);
    pageControl_ = new QTabWidget(controlPanel_);
    pageControl_->setTabPosition(QTabWidget::South);
    controlLayout->addWidget(pageControl_, 1);
    miniControlFrame_ = new TMiniControlFrame(pageControl_);
    overviewFrame_ = new TDicomOverviewFrame(pageControl_);
    infoFrame_ = new TDicomInfoFrame(pageControl_);
    presetFrame_ = new TPresetFrame(pageControl_);
    presetFrame_->setToolTip("Preset page");
    PaintBackground(*presetFrame_);
    traceFrame_ = new TTraceFrame(pageControl_);
    pageControl_->addTab(miniControlFrame_, "Control");
    pageControl_->addTab(overviewFrame_, "Info");
    pageControl_->addTab(infoFrame_, "FullInfo");
    pageControl_->addTab(presetFrame_, "Presets");
    pageControl_->addTab(traceFrame_, "Trace");
    pageControl_->setCurrentIndex(0);
    naviSplitter_->addWidget(upperNaviPanel_);
    naviSplitter_->addWidget(midleNaviPanel_);
    naviSplitter_->addWidget(controlPanel_);
    naviSplitter_->setStretchFactor(2, 1);

    constexpr std::array<int, 4> kPanelWidths = {200, 160, 200, 100};
    for (std::size_t i = 0; i < statusPanels_.size(); ++i) {
        statusPanels_[i] = new QLabel(this);
        statusPanels_[i]->setMinimumWidth(kPanelWidths[i]);
        statusBar()->addWidget(statusPanels_[i], i == 3 ? 1 : 0);
    }
    statusBar()->setSizeGripEnabled(false);
    // Light text on the window's dark background.
    QPalette statusColours = statusBar()->palette();
    statusColours.setColor(QPalette::WindowText, QColor(210, 210, 210));
    statusBar()->setPalette(statusColours);

    // The window's context menu is the command panel's.
    miniControlFrame_->OnAbout = [this] { ShowAboutBox(this); };
    miniControlFrame_->OnRelease = [this] { ReleaseWindow(); };
    AddPacsEntry(miniControlFrame_->ContextMenu(), miniControlFrame_->Command("AddFileAction"),
                 [this] { OpenFromPacs(); });
    miniControlFrame_->OnError = [this](const std::string& text) { ShowError(text); };
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { miniControlFrame_->ContextMenu().popup(mapToGlobal(at)); });
    for (QAction* action : shortcutFrame_->Actions()) addAction(action);

    setWindowFlag(Qt::FramelessWindowHint, true);
    qApp->installEventFilter(this);
}

void TForm1::SetUpViews() {
    for (std::size_t i = 0; i < views_.size(); ++i) {
        TDicomViewFrame& view = *views_[i];
        const TViewSetUp& setUp = kViewSetUps[i];
        view.BeginUpdate();
        PaintBackground(view);
        view.SetName(setUp.Name);
        view.SetResampler(setUp.Resampler);
        view.SetPath(setUp.Path);
        view.SetFitMode(setUp.FitMode);
        view.SetScrollMargin(setUp.ScrollMargin);
        view.SetViewCursor(setUp.Cursor);
        if (i > 0) view.SetGridAlpha(1.0);
        view.EndUpdate();
    }
    views_[0]->SetMipAllowed(true);
}

void TForm1::WireViews() {
    TDicomViewFrame& detail = *views_[0];
    detail.OnInvalidated = [this](TSimpleViewFrame&) { UpdateViewLabel(); };
    detail.OnBuilt = [this](TSimpleViewFrame& view) {
        Log("Built " + std::to_string(view.Picture().Width()) + "x" +
            std::to_string(view.Picture().Height()));
        SyncViewsToRebuilt(view);
    };
    detail.OnMouseMove = [this](TSimpleViewFrame&, unsigned, int, int) {
        UpdateStatusBar();
        UpdateDetailCursor();
    };
    for (TDicomViewFrame* view : views_) {
        view->OnPositionChanged = [this](TDicomViewFrame& sender) {
            Guarded([&] { SyncViewsToPosition(sender); });
        };
        view->OnViewDblClick = [this, view](TSimpleViewFrame&) {
            Guarded([&] { ViewDoubleClicked(*view); });
        };
        view->OnStatus = [this](TSimpleViewFrame&, const std::string& text) { Log(text); };
        if (frames_.Enabled())
            view->OnPainted = [this, view](TSimpleViewFrame&, const TFrameTimes& times) {
                frames_.Frame(view->ViewName(), times);
            };
    }
}

void TForm1::BindParameterTree() {
    TPresetNode& root = session_.Root();
    miniControlFrame_->SetRoot(&root);
    views_[0]->BindBranch(root.FindNode("detail"));
    for (const char* path : kWindowPaths) Node(path).AddListener(*this);
    session_.BindTree(tree_);
    for (const char* path : kLastWindowPaths) Node(path).AddListener(*this);
    // The scaling's quantiles read the cube the detail view shows.
    session_.SetDetailObject(views_[0]->DicomObject());
}

void TForm1::StartIdle() {
    timer1_.setInterval(50);
    connect(&timer1_, &QTimer::timeout, this, [this] {
        IdleWork();
        Guarded([&] { UpdateViewLabel(); });
    });
    timer1_.start();
    idleTimer_.setSingleShot(true);
    idleTimer_.setInterval(0);
    connect(&idleTimer_, &QTimer::timeout, this, [this] { IdleWork(); });
    // An idle pass once the loop has handled the user's input and is about to wait again. Only
    // input counts: the repaints and timers that idle work causes itself must not call for more.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
            if (eventsSinceIdle_ && !idleTimer_.isActive()) idleTimer_.start();
        });
    }
}

bool TForm1::WantsBusyIdle() {
    if (!started_ || LoadPending()) return true;
    for (const TDicomViewFrame* view : views_)
        if (!view->PendingScroll().isNull()) return true;
    return false;
}

void TForm1::IdleWork() {
    if (inIdle_ || !created_ || exporting_) return;
    inIdle_ = true;
    Guarded([&] {
        if (!started_) {
            started_ = true;
            DeferredStart();
            return;
        }
        views_[0]->AutoScroll();
        const Qt::KeyboardModifiers keys = QGuiApplication::queryKeyboardModifiers();
        const bool ctrlShift = (keys & Qt::ControlModifier) && (keys & Qt::ShiftModifier);
        if (ctrlShift && !coronalRotating_) {
            views_[1]->SetRotateClock(host_.TickCount());
            coronalRotating_ = true;
        } else if (!ctrlShift && coronalRotating_) {
            views_[1]->SetRotateClock(0);
            coronalRotating_ = false;
        }
        CapsLockWork();
        for (std::size_t i = 1; i < views_.size(); ++i) views_[i]->AutoScroll();
        traceFrame_->Flush();
        shortcutFrame_->ShowAltSet(keys & Qt::AltModifier);
        miniControlFrame_->RefreshCommands();
        // Load steps for a slice of about one tick of a coarse system clock: each step takes
        // at least one file and stops at the next millisecond, and a return to the event loop
        // (with the tree and the progress dialog painted) after every millisecond would cost
        // more than the files.
        const std::uint64_t sliceStart = host_.TickCount();
        const TDicomTreeView::TRowHold rows(*treeView_);
        while (tree_.LoadStep() && tree_.Loading() && host_.TickCount() - sliceStart < kLoadSliceMs) {
        }
    });
    inIdle_ = false;
    eventsSinceIdle_ = false;
    // A load or a scroll goes on at once, not one step per timer tick.
    if (WantsBusyIdle() && !idleTimer_.isActive()) idleTimer_.start();
}

void TForm1::DeferredStart() {
    ReadSettings();
    bool opened = false;
    bool handed = false;
    Guarded([&] {
        opened = ProcessCommandLine(tree_, start_.CommandLine);
        handed = opened;
    });
    // Paths that give the tree nothing to load would leave an empty window without a word.
    if (handed && !LoadPending() && tree_.Roots().empty()) ShowError(NothingToLoad(start_.CommandLine.Paths));
    if (!opened) OpenDirectory();
    LoadConfiguration();
}

void TForm1::ReadSettings() {
    settings_ = tarvicon::ReadSettings(QString::fromStdString(start_.SettingsName));
    TSelectionFrame& frame = views_[0]->SelectionFrame();
    frame.Width = settings_.SelectionWidth;
    frame.Height = settings_.SelectionHeight;
}

void TForm1::WriteSettings() {
    const TSelectionFrame& frame = views_[0]->SelectionFrame();
    settings_.SelectionWidth = frame.Width;
    settings_.SelectionHeight = frame.Height;
    tarvicon::WriteSettings(QString::fromStdString(start_.SettingsName), settings_);
}

void TForm1::LoadConfiguration() {
    TPresetNode& root = session_.Root();
    root.BeginUpdate();
    try {
        try {
            session_.LoadConfiguration(ConfigurationPath(start_.CommandLine, start_.ProgramPath));
        } catch (const std::exception& error) {
            // The program ends: nothing below runs on a tree without its document.
            ShowError(error.what());
            root.EndUpdate(false);
            if (OnFatal)
                OnFatal(1);
            else
                QCoreApplication::exit(1);
            return;
        }
        for (const char* kind : {"coloring", "scaling", "preset", "level"})
            presetFrame_->FillMenu(kind, session_.Document().MenuEntries(kind));
        BuildPresetShortcuts();
        miniControlFrame_->ColoringBar().SetMapping(&session_.DetailMapping());
        miniControlFrame_->ColoringBar().SetRoot(&root);
        for (std::size_t i = 1; i < views_.size(); ++i) views_[i]->SetColorMapping(&session_.DetailMapping());
        SelectionChanged(tree_);
    } catch (...) {
        root.EndUpdate(false);
        throw;
    }
    root.EndUpdate(false);
}

void TForm1::ShowError(const std::string& text) {
    Log("Error " + text);
    if (start_.Dialogs.Error)
        start_.Dialogs.Error(text);
    else if (!trace_.Enabled())
        QMessageBox::critical(this, QApplication::applicationDisplayName(), QString::fromStdString(text));
}

void TForm1::Log(const std::string& text) {
    if (traceFrame_) traceFrame_->AddLine(text);
    trace_.Line(text);
}

std::string TForm1::BrowseFolder(const std::string& caption) {
    std::error_code error;
    const std::string start = std::filesystem::is_directory(settings_.LastDirectory, error)
                                  ? settings_.LastDirectory
                                  : std::string();
    if (start_.Dialogs.BrowseFolder) return start_.Dialogs.BrowseFolder(caption, start);
    return QFileDialog::getExistingDirectory(this, QString::fromStdString(caption),
                                             QString::fromStdString(start))
        .toStdString();
}

void TForm1::OpenDirectory() {
    std::string folder = BrowseFolder("DICOM directory to open:");
    if (folder.empty()) return;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    BeginBusy();
    Guarded([&] {
        settings_.LastDirectory = folder;
        WriteSettings();
        ClearAll();
        AddFolderOrSay(folder + "/", folder);
    });
    EndBusy();
}

void TForm1::AddFolderOrSay(const std::string& folder, const std::string& shown) {
    const int queued = tree_.Cache().Count();
    tree_.AddFolder(folder);
    // A folder without files starts no load: the window would stay as it is without a word.
    if (tree_.Cache().Count() == queued && !tree_.Loading()) ShowError(NothingToLoad({shown}));
}

void TForm1::AddDirectory() {
    std::string folder = BrowseFolder("DICOM directory o add:");
    if (folder.empty()) return;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    settings_.LastDirectory = folder;
    AddFolderOrSay(folder, folder);
}

void TForm1::AddFiles() {
    std::vector<std::string> files;
    if (start_.Dialogs.OpenFiles) {
        files = start_.Dialogs.OpenFiles();
    } else {
        for (const QString& file : QFileDialog::getOpenFileNames(this, QString(), "/"))
            files.push_back(file.toStdString());
    }
    if (!files.empty()) tree_.AddFiles(files);
}

void TForm1::OpenFromPacs() {
    const QString program = QString::fromStdString(start_.SettingsName);
    const std::string server = ReadLastPacsServer(program);
    std::string address;
    if (start_.Dialogs.ChoosePacsStudy) {
        address = start_.Dialogs.ChoosePacsStudy(server);
    } else {
        TPacsDialog dialog(server, this);
        if (dialog.exec() == QDialog::Accepted) address = dialog.ChosenAddress();
    }
    if (address.empty()) return;
    Guarded([&] {
        WriteLastPacsServer(program, ParseDicomWebAddress(address).Root);
        tree_.AddDicomWeb(address);
    });
}

void TForm1::ClearAll() {
    for (TDicomViewFrame* view : views_) view->SetObject(nullptr);
    views_[0]->SetOverlayObject(nullptr);
    miniControlFrame_->SetSubject(nullptr);
    session_.SetDetailObject(nullptr);
    tree_.Clear();
}

void TForm1::ConfirmQuit() {
    const std::string question =
        "Are you sure to close " + QApplication::applicationDisplayName().toStdString() + "?";
    // A traced, unattended run answers through the host: the question is logged and answered no.
    bool yes = false;
    if (start_.Dialogs.Confirm)
        yes = start_.Dialogs.Confirm(question);
    else if (trace_.Enabled())
        yes = host_.AskYesNo(question);
    else
        yes = QMessageBox::question(this, QApplication::applicationDisplayName(),
                                    QString::fromStdString(question),
                                    QMessageBox::Yes | QMessageBox::Cancel) == QMessageBox::Yes;
    if (yes) QCoreApplication::quit();
}

void TForm1::Minimize() {
    showMinimized();
}

void TForm1::BeginBusy() {
    if (Node("detail/rotate").GetAsInteger() == 0 && Node("detail/sweep").GetAsInteger() == 0)
        QGuiApplication::restoreOverrideCursor();
    miniControlFrame_->BeginSliderUpdate();
    for (int i = 3; i >= 0; --i) views_[static_cast<std::size_t>(i)]->BeginUpdate();
}

void TForm1::EndBusy(bool rebuild) {
    for (TDicomViewFrame* view : views_) {
        if (rebuild)
            view->EndUpdate();
        else
            view->EndUpdateIfChanged();
    }
    miniControlFrame_->EndSliderUpdate();
    QGuiApplication::restoreOverrideCursor();
}

void TForm1::ReleaseWindow() {
    borderless_ = !borderless_;
    const bool wasVisible = isVisible();
    setWindowFlag(Qt::FramelessWindowHint, borderless_);
    if (wasVisible) show();
}

void TForm1::closeEvent(QCloseEvent* event) {
    timer1_.stop();
    idleTimer_.stop();
    QMainWindow::closeEvent(event);
}

} // namespace tarvicon
