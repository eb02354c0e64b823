// The main window's reactions to the study tree and to the parameter nodes: the series shown,
// its stored parameters, the twin position, the views kept in step in world coordinates.

#include "app/InfoFrames.h"
#include "app/MainForms.h"
#include "app/MiniControlFrames.h"
#include "app/PresetFrames.h"
#include "app/ShortcutFrames.h"
#include "app/StudyTreeViews.h"
#include "app/TraceFrames.h"
#include "views/DicomViewFrames.h"
#include "views/TracedHosts.h"
#include "views/ViewCursors.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QScreen>
#include <QTabWidget>
#include <cmath>

namespace tarvicon {

namespace {

// The global wait cursor for the duration of a scope.
class TWaitCursor {
public:
    TWaitCursor() { QGuiApplication::setOverrideCursor(ViewCursor(15)); }
    ~TWaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};

bool SixteenBit(const TDicomObject* object) {
    return object && object->Cube().PixelSize() == 2;
}

} // namespace

void TForm1::ObjectDestroying(TDicomTree&, const TDicomObject& object) {
    for (TDicomViewFrame* view : views_) view->ObjectDestroying(object);
    if (session_.DetailObject() == &object) session_.SetDetailObject(nullptr);
    if (miniControlFrame_->Subject() == &object) miniControlFrame_->SetSubject(nullptr);
    if (overviewFrame_->Object() == &object) overviewFrame_->ShowObject(nullptr);
    if (infoFrame_->Object() == &object) infoFrame_->ShowObject(nullptr);
    if (infoObject_ == &object) infoObject_ = nullptr;
}

void TForm1::TreeTrace(TDicomTree&, const std::string& text) {
    Log(text);
}

void TForm1::LoadError(TDicomTree&, const std::string& message) {
    ShowError(message);
}

void TForm1::LoadingFinished(TDicomTree&) {
    Log("Loaded " + std::to_string(tree_.ObjectCount()) + " objects");
    ApplyInitialSelection();
}

void TForm1::CubeChanged(TDicomTree&) {
    for (TDicomViewFrame* view : views_) view->ClearCaches();
    views_[0]->Changed();
    // A cube of another depth holds the same place at another slice: "detail/slice" (and with
    // it the slider) follows the picture.
    views_[0]->UpdateGeometry();
}

void TForm1::SelectionChanging(TDicomTree& tree) {
    TDicomObject* current = tree.SelectedObject();
    if (!current) return;
    TDicomViewFrame& detail = *views_[0];
    if (detail.DicomObject() && detail.DicomObject()->IsVolume()) {
        twinPosition_ = detail.GetWorldPosition();
        twinPath_ = detail.ViewPath();
        twinFitMode_ = detail.FitMode();
        twinZoom_ = detail.ZoomExponent();
    }
    current->SetViewState(CopyParameters());
}

TDicomObject* TForm1::NavigationObject() {
    const TDicomViewFrame& detail = *views_[0];
    if (Node("detail/exchange").GetAsInteger() != 0 && detail.OverlayObject()) return detail.OverlayObject();
    return detail.DicomObject();
}

TColorMapping* TForm1::NavigationMapping() {
    const TDicomViewFrame& detail = *views_[0];
    if (Node("detail/exchange").GetAsInteger() != 0 && detail.OverlayObject()) return nullptr;
    return detail.Mapping();
}

void TForm1::BindNavigationViews() {
    TDicomObject* object = NavigationObject();
    TColorMapping* mapping = NavigationMapping();
    for (std::size_t i = 1; i < views_.size(); ++i) {
        views_[i]->SetColorMapping(mapping);
        views_[i]->SetObject(object);
    }
}

void TForm1::SelectionChanged(TDicomTree& tree) {
    if (selectionDepth_ > 0) return;
    ++selectionDepth_;
    bool fresh = false;
    TDicomObject* current = tree.SelectedObject();
    bool volume = false;
    bool sixteenBit = false;
    try {
        if (!tree.IsBusy()) {
            BeginBusy();
            try {
                const bool changedFlag = tree.TakeChanged();
                fresh = current != overviewFrame_->Object() || changedFlag;
                if (fresh) BuildPresetShortcuts();
                infoFrame_->ShowObject(current);
                overviewFrame_->ShowObject(current);
                infoObject_ = current;
                miniControlFrame_->SetSubject(current);
                volume = current && current->IsVolume();
                sixteenBit = SixteenBit(current);
                BindNavigationViews();
                const TDicomObject* overlay = views_[0]->OverlayObject();
                const bool overlayMipNavi = overlay && overlay->MipNavi();
                if (fresh) {
                    const std::int32_t overlaySerial = tree.OverlaySerial();
                    views_[0]->SetObject(current);
                    session_.SetDetailObject(current);
                    if (current) {
                        const std::string state =
                            QString::fromStdString(current->ViewState()).trimmed().toStdString();
                        if (!state.empty()) {
                            PasteParameters(state);
                            TDicomObject* navigation = NavigationObject();
                            if (navigation && navigation != current) navigation->SetMipNavi(overlayMipNavi);
                            if (volume && Node("detail/twin").GetAsInteger() != 0)
                                current->SetWorldPosition(twinPosition_);
                        } else {
                            AutoSetup(true);
                        }
                    }
                    tree.SelectOverlayBySerial(overlaySerial);
                    NaviPanelResize();
                }
            } catch (...) {
                EndBusy();
                throw;
            }
            EndBusy(fresh);
        }
    } catch (...) {
        --selectionDepth_;
        throw;
    }
    --selectionDepth_;
    if (!fresh) return;
    UpdateParameterAvailability(volume, sixteenBit);
    Node("detail/slice").NotifyListeners();
    NaviPanelResize();
    if (current && volume && !twinPath_.empty() && Node("detail/twin").GetAsInteger() != 0) {
        TDicomViewFrame& detail = *views_[0];
        detail.SetWorldPosition(twinPosition_);
        detail.SetPath(twinPath_);
        detail.ZoomByExponent(twinZoom_);
        detail.SetFitMode(twinFitMode_);
    }
    // A series shown again after a cube operation keeps its place, which may lie at another
    // slice number than its saved one: "detail/slice" (and the slider) holds the one shown.
    if (views_[0]->DicomObject()) views_[0]->UpdateGeometry();
    Log("Showing " + std::string(current ? current->Description() : std::string("nothing")));
}

void TForm1::UpdateParameterAvailability(bool volume, bool sixteenBit) {
    TDicomViewFrame& detail = *views_[0];
    if (tree_.OverlayObject() != detail.OverlayObject()) detail.SetOverlayObject(tree_.OverlayObject());
    TDicomObject* overlay = detail.OverlayObject();
    TDicomObject* current = tree_.SelectedObject();
    const auto enable = [this](const char* path, bool enabled) {
        if (auto* scalar = dynamic_cast<TScalarNode*>(&Node(path))) scalar->SetEnabled(enabled);
    };
    Node("detail/overlay").SetAsInteger(overlay ? overlay->SerialNumber() : 0);
    enable("detail/alpha", overlay != nullptr);
    enable("detail/align", true);
    enable("detail/gamma", sixteenBit);
    enable("detail/thickness", volume);
    enable("detail/angle", volume);
    enable("detail/slice", current != nullptr);
    enable("detail/rotate", volume && sixteenBit);
    enable("detail/swing", volume);
    enable("detail/sweep", sixteenBit && overlay != nullptr);
    for (const char* path : {"detail/colormapping/level/low", "detail/colormapping/level/high",
                             "detail/colormapping/level/center", "detail/colormapping/level/width"})
        enable(path, sixteenBit);
    if (TDicomObject* treeOverlay = tree_.OverlayObject(); treeOverlay && current)
        treeOverlay->SetWorldPosition(current->GetWorldPosition());
    if (const TDicomObject* shown = detail.DicomObject()) {
        TConfigNode& mipDetail = Node("detail/mip-detail");
        if ((mipDetail.GetAsInteger() != 0) != shown->MipDetail()) mipDetail.SetAsInteger(shown->MipDetail());
    }
    if (const TDicomObject* navigation = NavigationObject()) {
        TConfigNode& mipNavi = Node("detail/mip-navi");
        if ((mipNavi.GetAsInteger() != 0) != navigation->MipNavi())
            mipNavi.SetAsInteger(navigation->MipNavi());
    }
    Node("detail/angle").SetAsFloat(0);
}

std::string TForm1::CopyParameters() {
    const TDicomViewFrame& detail = *views_[0];
    return session_.CopyParameters(detail.DicomObject() ? detail.GetWorldPosition() : TCubePoint{0, 0, 0});
}

void TForm1::PasteParameters(const std::string& text) {
    BeginBusy();
    try {
        const TCubePoint position = session_.PasteParameters(text);
        if (views_[0]->DicomObject()) views_[0]->SetWorldPosition(position);
    } catch (...) {
        EndBusy();
        throw;
    }
    EndBusy();
}

void TForm1::SyncViewsToRebuilt(TSimpleViewFrame&) {
    TDicomViewFrame& detail = *views_[0];
    if (detail.DicomObject()) {
        const QSize screen =
            QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->size() : QSize();
        const bool large =
            detail.Picture().Width() >= screen.width() && detail.Picture().Height() >= screen.height();
        detail.SetResampler(large ? "TNearestResampler" : "TLinearResampler");
    }
    const TCubePoint world = detail.GetWorldPosition();
    for (TDicomViewFrame* view : views_) {
        if (view->DicomObject()) view->SetWorldPosition(world);
        if (view == &detail) continue;
        // The navigation views share the detail view's mapping: a new window recolours them.
        if (view->PictureOutdated())
            view->Changed();
        else
            view->InvalidateView();
    }
    UpdateViewLabel();
}

void TForm1::SyncViewsToPosition(TDicomViewFrame& sender) {
    if (!syncingViews_) {
        syncingViews_ = true;
        const TCubePoint world = sender.GetWorldPosition();
        try {
            for (TDicomViewFrame* view : views_) {
                if (view == &sender) continue;
                if (view->DicomObject()) view->SetWorldPosition(world);
                view->InvalidateView();
            }
        } catch (...) {
            syncingViews_ = false;
            throw;
        }
        syncingViews_ = false;
    }
    Node("detail/slice").SetAsInteger(views_[0]->CurrentSlice());
    UpdateViewLabel();
}

void TForm1::ViewDoubleClicked(TDicomViewFrame& view) {
    if (&view == views_[0]) {
        views_[0]->Autolevels(-24);
        return;
    }
    views_[0]->SetPath(view.ViewPath());
    Node("detail/angle").SetAsFloat(0);
}

void TForm1::CapsLockWork() {
    const bool toggled = host_.CapsLockToggled();
    const std::int32_t overlaySerial = tree_.OverlaySerial();
    if (toggled && overlaySerial != 0 && capsSeries_ == 0) {
        capsSeries_ = tree_.SelectedSerial();
        tree_.SelectBySerial(overlaySerial);
    } else if (!toggled && capsSeries_ != 0) {
        const std::int32_t back = capsSeries_;
        capsSeries_ = 0;
        tree_.SelectBySerial(back);
    }
}

void TForm1::ApplyPreset(const std::string& kind, int index) {
    Log("Preset " + kind + " " + std::to_string(index));
    session_.ApplyPreset(kind, index);
    for (TDicomViewFrame* view : views_) view->Changed();
    pageControl_->setCurrentIndex(0);
}

void TForm1::AutoSetup(bool withInits) {
    TDicomObject* current = tree_.SelectedObject();
    if (!current || host_.ShiftHeld()) return;
    BeginBusy();
    TAutoSetupResult result = TAutoSetupResult::Skipped;
    try {
        result = session_.AutoSetup(current, withInits);
        if (result == TAutoSetupResult::Autolevels && views_[0]->DicomObject() == current)
            views_[0]->SetWorldPosition({0, 0, 0});
    } catch (...) {
        EndBusy();
        throw;
    }
    EndBusy();
    if (result == TAutoSetupResult::NoDocument) QApplication::beep();
    if (result == TAutoSetupResult::Preset) NaviPanelResize();
}

void TForm1::ApplyInitialSelection() {
    // The overlay series is shown once before it is laid over: its picture fills its colours.
    session_.ApplyInitialSelection(tree_, [this] {
        views_[0]->Changed();
        views_[0]->Build();
    });
}

void TForm1::BuildPresetShortcuts() {
    shortcutFrame_->ClearPresets();
    const TDicomObject* current = tree_.SelectedObject();
    TSeriesMatcher matches;
    if (current) matches = [current](const std::string& match) { return current->Matches(match); };
    for (const TPresetShortcut& shortcut : session_.Document().PresetShortcuts(matches))
        shortcutFrame_->AddPresetKey(shortcut.Key, shortcut.Caption, shortcut.Index, shortcut.Hint);
}

void TForm1::ResampleAligned() {
    TDicomViewFrame& detail = *views_[0];
    const std::string path = detail.ViewPath() + " ";
    const bool twin = Node("detail/twin").GetAsInteger() != 0;
    if (tree_.SelectedObject()) {
        // The cube turns against the oblique slice's tilt about that plane: turned by the angle
        // itself, the view at angle 0 would show the opposite tilt.
        if (const int angle = detail.Angle(); angle != 0)
            tree_.RotateSelected(std::string{path[0], path[2], path[1]}, -angle, twin);
        if (const double align = -Node("detail/align").GetAsFloat(); align != 0)
            tree_.RotateSelected(path, align, twin);
    }
    Node("detail/angle").SetAsFloat(0);
    Node("detail/align").SetAsFloat(0);
}

void TForm1::SetMipDetail(bool on) {
    const TWaitCursor wait;
    if (TDicomObject* object = views_[0]->DicomObject()) object->SetMipDetail(on);
    views_[0]->ClearCaches();
    views_[0]->Changed();
}

void TForm1::SetMipNavi(bool on) {
    const TWaitCursor wait;
    if (TDicomObject* navigation = NavigationObject()) {
        navigation->SetMipNavi(on);
        for (std::size_t i = 1; i < views_.size(); ++i) views_[i]->ClearCaches();
        views_[0]->Changed();
    }
}

void TForm1::NodeChanged(TConfigNode& node) {
    const std::string path = node.Path();
    Guarded([&] { DispatchNode(path, node); });
}

void TForm1::DispatchNode(const std::string& path, TConfigNode& node) {
    if (path == "detail/mip-detail") {
        SetMipDetail(node.GetAsInteger() != 0);
    } else if (path == "detail/mip-navi") {
        SetMipNavi(node.GetAsInteger() != 0);
    } else if (path == "detail/chroma-fusion") {
        views_[0]->SetFusionMode(node.GetAsInteger());
    } else if (path == "detail/exchange") {
        SelectionChanged(tree_);
        NaviPanelResize();
    } else if (path == "detail/zero") {
        if (TDicomObject* object = views_[0]->DicomObject()) {
            object->SetWorldPosition({0, 0, 0});
            views_[0]->SetWorldPosition({0, 0, 0});
        }
        SelectionChanged(tree_);
    } else if (path == "detail/angle") {
        ShowAngleGuides(-static_cast<int>(std::lround(node.GetAsFloat())));
    } else if (path == "detail/autosetup") {
        AutoSetup(false);
    } else if (path == "detail/reload") {
        ApplyInitialSelection();
    } else if (path == "detail/copy") {
        QGuiApplication::clipboard()->setText(QString::fromStdString(CopyParameters()));
    } else if (path == "detail/paste") {
        // Text that is not a snapshot keeps what was applied before the error.
        try {
            PasteParameters(QGuiApplication::clipboard()->text().toStdString());
        } catch (const std::exception&) {
        }
    } else if (path == "detail/savebitmap" || path == "detail/savebitmapauto") {
        // A running rotation or slice loop is exported as the animation it shows.
        const bool animated =
            Node("detail/rotate").GetAsInteger() != 0 || Node("detail/animate").GetAsInteger() != 0;
        const bool interactive = path == "detail/savebitmap";
        ExportPicture(interactive, interactive, animated);
    } else if (path == "detail/savebitmapopen") {
        OpenExportFolder();
    } else if (path == "detail/crop-frame") {
        ShowSelectionFrame(node.GetAsInteger() != 0);
    } else if (path == "detail/savecuboid") {
        SaveCuboid();
    } else if (path == "detail/slices/detail-coronar") {
        views_[0]->SetPath(views_[1]->ViewPath());
    } else if (path == "detail/slices/detail-sagital") {
        views_[0]->SetPath(views_[2]->ViewPath());
    } else if (path == "detail/slices/detail-transaxial") {
        views_[0]->SetPath(views_[3]->ViewPath());
    } else if (path == "detail/series/resample-aligned") {
        ResampleAligned();
    } else if (path == "detail/series/add") {
        AddDirectory();
    } else if (path == "detail/series/addfile") {
        AddFiles();
    } else if (path == "detail/series/open") {
        OpenDirectory();
    } else if (path == "detail/series/quit") {
        ConfirmQuit();
    } else if (path == "detail/series/minimize") {
        Minimize();
    } else if (path == "detail/screensplit") {
        ApplyScreensplit(node.GetAsInteger());
    }
}

} // namespace tarvicon
