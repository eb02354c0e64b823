// The main window's presentation around the views: the navigation column's sizes and its
// hiding, the angle marker, the status bar and the detail view's label, and the mouse wheel
// with the cursor that announces what it will change.

#include "app/InfoFrames.h"
#include "app/LayoutRules.h"
#include "app/MainForms.h"
#include "app/MiniControlFrames.h"
#include "app/PresetFrames.h"
#include "app/ShortcutFrames.h"
#include "app/TraceFrames.h"
#include "config/Schema.h"
#include "views/DicomViewFrames.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QSplitter>
#include <QWheelEvent>
#include <cmath>
#include <cstring>

namespace tarvicon {

namespace {

// The physical extent (µm) of a view's picture along the first or second letter of its path.
std::int64_t PictureExtent(const TDicomViewFrame& view, int which) {
    const TDicomObject* object = view.DicomObject();
    if (!object) return 0;
    const TPixelCube& cube = object->Cube();
    return static_cast<std::int64_t>(cube.ExtentAlong(view.ViewPath(), which)) *
           cube.MetricAlong(TPixelCube::PathLetter(view.ViewPath(), which));
}

} // namespace

QString TForm1::StatusText(int panel) const {
    return statusPanels_.at(static_cast<std::size_t>(panel))->text();
}

bool TForm1::NodeEnabled(const char* path) {
    const auto* scalar = dynamic_cast<const TScalarNode*>(&Node(path));
    return !scalar || scalar->Enabled();
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Guarded([&] { FormResize(); });
}

void TForm1::FormResize() {
    const int clientHeight = centralWidget()->height();
    if (auto* split = dynamic_cast<TScalarNode*>(&Node("detail/screensplit"))) split->SetMax(clientHeight);
    const int naviWidth = NaviPanelWidth(clientHeight);
    const int total = mainSplitter_->width() - mainSplitter_->handleWidth();
    mainSplitter_->setSizes({std::max(100, total - naviWidth), naviWidth});
}

void TForm1::NaviPanelResize() {
    if (resizingNavi_) return;
    resizingNavi_ = true;
    setUpdatesEnabled(false);
    try {
        const bool visible = naviPanel_->isVisibleTo(this);
        // A hidden column keeps the width it had when shown.
        if (visible && naviPanel_->width() > 0) naviWidth_ = naviPanel_->width();
        TConfigNode& split = Node("detail/screensplit");
        const int value = ScreensplitValue(naviWidth_, visible);
        if (split.GetAsInteger() != value) split.SetAsInteger(value);
        // The column's own size: its inner panels fill it, and right after it is shown again
        // their layout has not caught up yet.
        const int available = naviWidth_ - upperNaviPanel_->handleWidth();
        TNaviExtents extents;
        if (views_[1]->DicomObject()) {
            extents.CoronalWidth = PictureExtent(*views_[1], 0);
            extents.CoronalHeight = PictureExtent(*views_[1], 1);
            extents.SagittalWidth = PictureExtent(*views_[2], 0);
            extents.TransaxialHeight = PictureExtent(*views_[3], 1);
        }
        const TNaviSizes sizes = NaviPanelSizes(available, extents);
        upperNaviPanel_->setSizes({sizes.CoronalWidth, std::max(0, available - sizes.CoronalWidth)});
        const int midAvailable = naviWidth_ - midleNaviPanel_->handleWidth();
        midleNaviPanel_->setSizes({sizes.TransaxialWidth, std::max(0, midAvailable - sizes.TransaxialWidth)});
        const int height = naviPanel_->height() - 2 * naviSplitter_->handleWidth();
        naviSplitter_->setSizes({sizes.UpperHeight, sizes.MiddleHeight,
                                 std::max(100, height - sizes.UpperHeight - sizes.MiddleHeight)});
    } catch (...) {
        setUpdatesEnabled(true);
        resizingNavi_ = false;
        throw;
    }
    setUpdatesEnabled(true);
    resizingNavi_ = false;
}

void TForm1::ApplyScreensplit(int value) {
    const bool show = ScreensplitShows(value, naviPanel_->isVisibleTo(this));
    if (show == naviPanel_->isVisibleTo(this)) return;
    naviPanel_->setVisible(show);
    Log(std::string("Navigation ") + (show ? "shown" : "hidden"));
    // Shown again: its panels are sized anew, as after a change of its size.
    if (show) NaviPanelResize();
}

void TForm1::ShowAngleGuides(int angle) {
    const int marker = MarkerAngle(angle);
    const std::string& detailPath = views_[0]->ViewPath();
    for (TDicomViewFrame* view : views_)
        view->SetMarkerAngle(ViewShowsMarker(detailPath, view->ViewPath()) ? marker : -1);
}

void TForm1::UpdateStatusBar() {
    statusPanels_[3]->setText(QString::fromStdString(hintText_));
    const TDicomViewFrame& detail = *views_[0];
    const TDicomObject* object = detail.DicomObject();
    if (!object) {
        statusPanels_[0]->setText("...");
        statusPanels_[1]->setText("...");
        statusPanels_[2]->clear();
        return;
    }
    const TPixelCube& cube = object->Cube();
    const TCubePoint p = object->Position();
    int value = 0;
    const bool inside = p.X >= 0 && p.Y >= 0 && p.Z >= 0 && static_cast<std::uint32_t>(p.X) < cube.Width() &&
                        static_cast<std::uint32_t>(p.Y) < cube.Height() &&
                        static_cast<std::uint32_t>(p.Z) < cube.Depth();
    if (inside && cube.PixelSize() == 2 && cube.HasVoxels()) {
        std::uint16_t sample = 0;
        const std::uint64_t index =
            (static_cast<std::uint64_t>(p.Z) * cube.Height() + static_cast<std::uint32_t>(p.Y)) *
                cube.Width() +
            static_cast<std::uint32_t>(p.X);
        std::memcpy(&sample, cube.Voxels() + index * 2, sizeof sample);
        value = sample;
    }
    double scaled = 0;
    if (auto* scaling =
            dynamic_cast<TScalingNode*>(session_.Root().FindNode("detail/colormapping/level/scaling")))
        scaled = scaling->RawToValue(value, false);
    statusPanels_[0]->setText(QString::fromStdString(VoxelText(p.X, p.Y, p.Z, value, scaled)));
    const TCubePoint world = object->GetWorldPosition();
    statusPanels_[2]->setText(QString::fromStdString(WorldText(world.X, world.Y, world.Z)));
    const QPoint mouse = detail.ViewToPicture(detail.mapFromGlobal(QCursor::pos()));
    const QPoint cross = detail.Position();
    const auto [spacingX, spacingY] = object->ViewSpacing(detail.ViewPath());
    statusPanels_[1]->setText(
        QString::fromStdString(OffsetText(static_cast<double>(mouse.x() - cross.x()) * spacingX,
                                          static_cast<double>(mouse.y() - cross.y()) * spacingY)));
}

void TForm1::UpdateViewLabel() {
    // The selected slider's caption; a command's caption once, when the label already shows it.
    TDicomViewFrame& detail = *views_[0];
    // What an empty detail view says: how to open a study, or that the series shown has none.
    detail.SetEmptyText(detail.DicomObject()
                            ? "This series holds no picture"
                            : "No study open\n\nCtrl+O opens a folder of DICOM files\nEsc shows the menu");
    const std::string wanted = LabelText(miniControlFrame_->SelectedCaption());
    if (detail.Legend() != wanted) {
        detail.SetLegend(wanted);
    } else if (const std::string pending = miniControlFrame_->TakePendingCaption(); !pending.empty()) {
        detail.SetLegend(pending);
    }
    UpdateStatusBar();
}

int TForm1::WheelTargetAt(QPoint globalPosition, Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons) {
    const TDicomViewFrame& detail = *views_[0];
    const QPoint at = detail.mapFromGlobal(globalPosition);
    TWheelInput input;
    input.InsideDetail = detail.isVisible() && detail.rect().contains(at);
    input.LeftButton = buttons & Qt::LeftButton;
    input.Alt = modifiers & Qt::AltModifier;
    input.Ctrl = modifiers & Qt::ControlModifier;
    input.X = at.x();
    input.Y = at.y();
    input.Width = detail.width();
    input.Height = detail.height();
    const auto enabled = [this](const char* path) {
        const auto* scalar = dynamic_cast<const TScalarNode*>(session_.Root().FindNode(path));
        return !scalar || scalar->Enabled();
    };
    input.CenterEnabled = enabled("detail/colormapping/level/center");
    input.WidthEnabled = enabled("detail/colormapping/level/width");
    input.AngleEnabled = enabled("detail/angle");
    return WheelTarget(input);
}

void TForm1::UpdateDetailCursor() {
    views_[0]->SetViewCursor(WheelTargetAt(QCursor::pos(), QGuiApplication::queryKeyboardModifiers(),
                                           QGuiApplication::mouseButtons()));
}

void TForm1::FormMouseWheel(int sign, QPoint globalPosition, Qt::KeyboardModifiers modifiers,
                            Qt::MouseButtons buttons) {
    const bool shift = modifiers & Qt::ShiftModifier;
    const TWheelSteps steps = WheelSteps(shift);
    const auto add = [this](const char* path, double delta) {
        if (!NodeEnabled(path)) return;
        TConfigNode& node = Node(path);
        node.SetAsFloat(node.GetAsFloat() + delta);
    };
    switch (WheelTargetAt(globalPosition, modifiers, buttons)) {
    case kWheelOutside: {
        const bool plain =
            !(modifiers & ~Qt::KeyboardModifiers(Qt::ShiftModifier)) && buttons == Qt::NoButton;
        const bool naviOpen = naviPanel_->isVisible() && naviPanel_->width() > 10;
        for (std::size_t i = 1; i < views_.size() && plain && naviOpen; ++i) {
            TDicomViewFrame& view = *views_[i];
            if (!view.isVisible() || !view.rect().contains(view.mapFromGlobal(globalPosition)) ||
                !view.DicomObject())
                continue;
            view.SetSlice(view.CurrentSlice() + NaviWheelSlices(sign, shift));
            SyncViewsToPosition(view);
            views_[0]->InvalidateView();
            return;
        }
        miniControlFrame_->WheelStep(shift, sign);
        views_[0]->InvalidateView();
        return;
    }
    case kWheelSlice:
        if (NodeEnabled("detail/slice")) {
            TConfigNode& slice = Node("detail/slice");
            slice.SetAsInteger(std::max(0, slice.GetAsInteger() - sign * steps.Small));
        }
        return;
    case kWheelZoom:
        add("detail/zoom", sign * steps.Small);
        return;
    case kWheelCenter:
        add("detail/colormapping/level/center", sign * steps.Large);
        return;
    case kWheelWidth:
        add("detail/colormapping/level/width", sign * steps.Large);
        return;
    case kWheelParameter:
        miniControlFrame_->WheelStep(shift, sign);
        return;
    case kWheelAngle:
        add("detail/angle", sign * steps.Large);
        return;
    default:
        return;
    }
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == naviPanel_ && event->type() == QEvent::Resize && naviPanel_->isVisibleTo(this)) {
        Guarded([&] { NaviPanelResize(); });
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this) return false;
    if (event->isInputEvent()) eventsSinceIdle_ = true;
    switch (event->type()) {
    case QEvent::Wheel: {
        auto* wheel = static_cast<QWheelEvent*>(event);
        wheelRest_ += wheel->angleDelta().y() != 0 ? wheel->angleDelta().y() : wheel->angleDelta().x();
        const int notches = wheelRest_ / 120;
        wheelRest_ -= notches * 120;
        const QPoint at = wheel->globalPosition().toPoint();
        for (int i = 0; i < std::abs(notches); ++i)
            Guarded([&] { FormMouseWheel(notches > 0 ? 1 : -1, at, wheel->modifiers(), wheel->buttons()); });
        wheel->accept();
        return true;
    }
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        // The commands take their keys before any widget, except while text is typed.
        const QWidget* focus = QApplication::focusWidget();
        const bool typing = focus && (focus->inherits("QLineEdit") || focus->inherits("QAbstractSpinBox"));
        if (!typing && miniControlFrame_->KeyPressed(*key)) return true;
        // The preset keys reach the window first, also while the window system has not made it
        // the active window (the shortcut map then stays silent).
        const QKeySequence pressed(key->keyCombination());
        for (QAction* action : shortcutFrame_->Actions())
            if (action->isEnabled() && action->shortcut() == pressed) {
                action->trigger();
                return true;
            }
        UpdateDetailCursor();
        return false;
    }
    case QEvent::KeyRelease:
        UpdateDetailCursor();
        return false;
    case QEvent::Enter:
        if (!widget->toolTip().isEmpty() && widget->toolTip().toStdString() != hintText_) {
            hintText_ = widget->toolTip().toStdString();
            statusPanels_[3]->setText(widget->toolTip());
        }
        return false;
    default:
        return false;
    }
}

} // namespace tarvicon
