#include "ViewerWindow.h"

#include "ViewerRules.h"
#include "util/NumberTexts.h"
#include "views/DicomViewFrames.h"

#include <QAction>
#include <QKeySequence>
#include <QLabel>
#include <QStatusBar>
#include <QWheelEvent>
#include <exception>
#include <memory>

namespace tarvicon {

namespace {

// The captions of the files that could not be read, in tree order: the tree files such a file
// where its elements place it (or as a root of its own) and adds " Error: " and the reason.
void CollectFileErrors(const TTreeNode& node, std::vector<std::string>& captions) {
    if (node.Caption().find(" Error: ") != std::string::npos) captions.push_back(node.Caption());
    for (const auto& child : node.Children()) CollectFileErrors(*child, captions);
}

std::string PointText(const TCubePoint& p) {
    return std::to_string(p.X) + "," + std::to_string(p.Y) + "," + std::to_string(p.Z);
}

} // namespace

TViewerWindow::TViewerWindow(const TTraceFile& trace, TTracedHost& host, const std::string& configPath)
    : trace_(trace), host_(host), view_(std::make_unique<TDicomViewFrame>()) {
    setWindowTitle("Tarvicon");
    resize(1000, 800);
    setCentralWidget(view_.get());
    message_ = new QLabel(this);
    status_ = new QLabel(this);
    statusBar()->addWidget(message_, 1);
    statusBar()->addPermanentWidget(status_);
    host_.OnNotice = [this](const std::string& text) {
        message_->setText(QString::fromStdString(OneLine(text)));
    };

    auto* quit = new QAction(this);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setShortcutContext(Qt::ApplicationShortcut);
    connect(quit, &QAction::triggered, this, &QWidget::close);
    addAction(quit);

    session_.Root().SetOnChange([this](TConfigNode&, TConfigNode& changed, const std::string& path) {
        trace_.Line(ChangeLine(path, changed.GetText()));
    });
    WireView();
    // As the main window: the view is bound before the document is read, which applies the
    // start preset silently; the view takes the branch's values when its next update ends.
    view_->BindBranch(session_.Root().FindNode("detail"));
    if (!configPath.empty()) {
        try {
            session_.LoadConfiguration(configPath);
        } catch (const std::exception& error) {
            Report(error.what());
        }
    }
    session_.BindTree(tree_);
    tree_.AddListener(*this);
    view_->SetPermanentGrid(session_.Existing("detail/slices/permanent-grid").GetAsInteger() != 0);
    SetProgressSink(this);

    loadTimer_.setInterval(1);
    connect(&loadTimer_, &QTimer::timeout, this, [this] { LoadTick(); });
}

TViewerWindow::~TViewerWindow() {
    SetProgressSink(nullptr);
    host_.OnNotice = nullptr;
    session_.Root().SetOnChange(nullptr);
    view_->SetObject(nullptr);
    view_->BindBranch(nullptr);
    tree_.RemoveListener(*this);
}

void TViewerWindow::WireView() {
    view_->SetName("detail");
    view_->SetPath("RBF");
    view_->SetResampler("TLinearResampler");
    view_->SetFitMode(3);
    view_->SetScrollMargin(20);
    view_->SetViewCursor(8);
    view_->SetMipAllowed(true);
    view_->OnStatus = [this](TSimpleViewFrame&, const std::string& text) {
        status_->setText(QString::fromStdString(text));
        trace_.Line(text);
    };
    view_->OnBuilt = [this](TSimpleViewFrame& view) {
        trace_.Line("Built " + std::to_string(view.Picture().Width()) + "x" +
                    std::to_string(view.Picture().Height()));
    };
    view_->OnZoomChanged = [this](TSimpleViewFrame&) {
        trace_.Line("Zoom " + FormatFixed(view_->ZoomExponent(), 2));
    };
    view_->OnPositionChanged = [this](TDicomViewFrame& view) {
        if (const TDicomObject* object = view.DicomObject())
            trace_.Line("Position " + PointText(object->Position()));
    };
    // As the main window does on a double click in the detail view: the levels of the box of
    // radius 24 voxels around the position.
    view_->OnViewDblClick = [this](TSimpleViewFrame&) {
        try {
            view_->Autolevels(-24);
        } catch (const std::exception& error) {
            Report(error.what());
        }
    };
}

void TViewerWindow::Open(const TCommandLine& commandLine) {
    TCommandLine study = commandLine;
    study.Paths.clear();
    std::vector<std::string> cuboids;
    for (const std::string& path : commandLine.Paths)
        (IsCuboidFile(path) ? cuboids : study.Paths).push_back(path);
    studyPaths_ = study.Paths;
    try {
        ProcessCommandLine(tree_, study);
    } catch (const std::exception& error) {
        Report(error.what());
    }
    // After the command line, which clears the tree before its first path.
    for (const std::string& path : cuboids) LoadCuboid(path);
    loadTimer_.start();
}

void TViewerWindow::LoadCuboid(const std::string& path) {
    try {
        tree_.AddCuboidFile(path);
    } catch (const std::exception& error) {
        Report(error.what());
    }
}

void TViewerWindow::LoadTick() {
    // A message box opened inside a step runs the event loop, and with it this timer.
    if (inLoadTick_) return;
    inLoadTick_ = true;
    bool more = false;
    try {
        more = tree_.LoadStep();
    } catch (const std::exception& error) {
        Report(error.what());
    }
    inLoadTick_ = false;
    if (!more && !tree_.Loading()) {
        loadTimer_.stop();
        LoadEnded();
    }
}

void TViewerWindow::LoadEnded() {
    loaded_ = true;
    trace_.Line("Loaded " + std::to_string(tree_.ObjectCount()) + " objects");
    TDicomObject* shown = nullptr;
    try {
        session_.ApplyInitialSelection(tree_);
        shown = tree_.SelectedObject() ? tree_.SelectedObject() : tree_.ObjectAt(0);
        if (shown) ShowObject(shown);
    } catch (const std::exception& error) {
        Report(error.what());
    }
    TLoadOutcome outcome;
    outcome.StudyPaths = studyPaths_;
    outcome.ObjectCount = tree_.ObjectCount();
    for (const auto& root : tree_.Roots()) CollectFileErrors(*root, outcome.FileErrors);
    outcome.ShownHasPicture = shown && shown->Cube().ByteSize() > 0;
    for (const std::string& message : LoadMessages(outcome)) Report(message);
}

void TViewerWindow::ShowObject(TDicomObject* object) {
    // As the viewer at first sight: the projection switches go to the object, the view shows it,
    // the quantiles read its cube and the automatic set-up (with its inits) chooses the window.
    object->SetMipDetail(session_.Existing("detail/mip-detail").GetAsInteger() != 0);
    object->SetMipNavi(session_.Existing("detail/mip-navi").GetAsInteger() != 0);
    view_->SetObject(object);
    // The screen's density, for checking that real size is what the window system calls it.
    trace_.Line("Density " + FormatFixed(view_->PixelsPerMm().X, 4) + "," +
                FormatFixed(view_->PixelsPerMm().Y, 4));
    session_.SetDetailObject(object);
    session_.AutoSetup(object, true);
    // The set-up may have moved the object (to world 0, 0, 0 without a matching preset).
    view_->SetCubePosition(object->Position());
}

void TViewerWindow::ObjectDestroying(TDicomTree&, const TDicomObject& object) {
    view_->ObjectDestroying(object);
    if (session_.DetailObject() == &object) session_.SetDetailObject(nullptr);
}

void TViewerWindow::SelectionChanged(TDicomTree& tree) {
    // After the first sight, a series command ("detail/series/next", …) chose another object.
    if (!loaded_ || tree.IsBusy()) return;
    TDicomObject* selected = tree.SelectedObject();
    if (!selected || selected == view_->DicomObject()) return;
    try {
        ShowObject(selected);
    } catch (const std::exception& error) {
        Report(error.what());
    }
}

void TViewerWindow::CubeChanged(TDicomTree&) {
    view_->ClearCaches();
    view_->Changed();
}

void TViewerWindow::LoadError(TDicomTree&, const std::string& message) {
    Report(message);
}

void TViewerWindow::Show(int bar, const std::string& title, const std::string&, const std::string&) {
    progressText_ = QString::fromStdString(title + " " + std::to_string(bar) + "%");
    message_->setText(progressText_);
}

void TViewerWindow::Ended() {
    // A notice shown meanwhile stays.
    if (message_->text() == progressText_) message_->clear();
    progressText_.clear();
}

void TViewerWindow::wheelEvent(QWheelEvent* event) {
    event->accept();
    const int steps = WheelZoomSteps(wheelRest_, event->angleDelta().y());
    if (steps == 0 || !view_->DicomObject()) return;
    session_.Existing("detail/zoom").SetAsFloat(view_->ZoomExponent() + steps);
}

void TViewerWindow::Report(const std::string& message) {
    host_.Notice(message);
}

} // namespace tarvicon
