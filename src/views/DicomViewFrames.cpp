#include "views/DicomViewFrames.h"

#include "catalogue/AutoLevels.h"
#include "util/Host.h"
#include "views/DicomViewRules.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace tarvicon {

namespace {

// The nodes of a branch that a bound view listens to.
constexpr const char* kBranchNodes[] = {
    "slices/prev",
    "slices/next",
    "slices/autolevels",
    "slices/permanent-grid",
    "slices/left",
    "slices/right",
    "slices/up",
    "slices/down",
    "slices/scroll-left",
    "slices/scroll-right",
    "slices/scroll-up",
    "slices/scroll-down",
    "slices/shift-left",
    "slices/shift-right",
    "slices/shift-up",
    "slices/shift-down",
    "fit",
    "zoom",
    "path",
    "alpha",
    "align",
    "extra",
    "swing",
    "sweep",
    "rotate",
    "grid",
    "gamma",
    "thickness",
    "angle",
    "light3d",
    "slice",
    "animate",
    "enhance",
    "colormapping/level/low",
    "colormapping/level/high",
    "colormapping/level/phase",
    "colormapping/level/center",
    "colormapping/level/width",
};

// "detail" → "Detail view".
std::string ViewHint(const std::string& name) {
    std::string hint = name;
    for (std::size_t i = 0; i < hint.size(); ++i) {
        const auto c = static_cast<unsigned char>(hint[i]);
        hint[i] = static_cast<char>(i == 0 ? std::toupper(c) : std::tolower(c));
    }
    return hint + " view";
}

// The overlay weight of an "alpha" node's percent.
int AlphaOfPercent(double percent) {
    if (!(percent > 0)) return 0;
    return int(std::min(percent, 100.0) * 255 / 100);
}

// The node's path below branch, or nothing when it lies elsewhere.
bool PathBelow(const TConfigNode& branch, const TConfigNode& node, std::string& path) {
    path.clear();
    for (const TConfigNode* at = &node; at; at = at->Parent()) {
        if (at == &branch) return !path.empty();
        path = path.empty() ? at->Name() : at->Name() + "/" + path;
    }
    return false;
}

// Runs work inside BeginUpdate/EndUpdate, closing the bracket also when work raises.
template <typename TWork>
void Batch(TSimpleViewFrame& view, TWork&& work) {
    view.BeginUpdate();
    try {
        work();
    } catch (...) {
        view.EndUpdate();
        throw;
    }
    view.EndUpdate();
}

} // namespace

TDicomViewFrame::TDicomViewFrame(QWidget* parent) : TOverlayViewFrame(parent) {
    HoldCursor = kNormalCursor;
    PanCursor = kHandCursor;
    SetViewCursor(kNormalCursor);
}

TDicomViewFrame::~TDicomViewFrame() {
    mapping_ = nullptr;
}

void TDicomViewFrame::SetName(const std::string& name) {
    viewName_ = name;
    setToolTip(QString::fromStdString(ViewHint(name)));
}

void TDicomViewFrame::BindBranch(TConfigNode* branch) {
    if (branch_)
        for (const char* path : kBranchNodes)
            if (TConfigNode* node = branch_->FindNode(path)) node->RemoveListener(*this);
    branch_ = branch;
    if (branch_)
        for (const char* path : kBranchNodes)
            if (TConfigNode* node = branch_->FindNode(path)) node->AddListener(*this);
    SetColorMapping(branch_ ? dynamic_cast<TColorMapping*>(branch_->FindNode("colormapping")) : nullptr);
}

void TDicomViewFrame::SetColorMapping(TColorMapping* mapping) {
    if (mapping == mapping_) return;
    mapping_ = mapping;
    mainCache_.Clear();
    Changed();
}

void TDicomViewFrame::SetObject(TDicomObject* object) {
    // The main window gives the navigation views their object again on every selection report,
    // each slice of a slice loop among them: the same object only moves the cross, and the
    // picture is cut again only when its own slice moved.
    if (object && object == dicomObject_ && !cachesCleared_) {
        UpdateGeometry();
        return;
    }
    cachesCleared_ = false;
    Batch(*this, [&] {
        // The cache knows its cube by address: a new object may live where an old one did.
        if (object != dicomObject_) mainCache_.Clear();
        dicomObject_ = object;
        SetMark(object ? object->LossyMark() : std::string());
        UpdateGeometry();
        if (object) {
            SetCubePosition(object->Position());
            const auto [x, y] = object->ViewSpacing(viewPath_);
            SetImageMetrics(x, y);
        }
        Refit();
    });
}

void TDicomViewFrame::SetOverlayObject(TDicomObject* object) {
    if (object == overlayObject_) return;
    overlayCache_.Clear();
    overlayObject_ = object;
    Changed();
}

void TDicomViewFrame::ObjectDestroying(const TDicomObject& object) {
    if (&object == overlayObject_) SetOverlayObject(nullptr);
    if (&object == dicomObject_) SetObject(nullptr);
}

void TDicomViewFrame::SetPath(const std::string& path) {
    if (path == viewPath_) return;
    TPixelCube::PathLetter(path, 0); // a bad path raises before anything changes
    Batch(*this, [&] {
        const TCubePoint remembered = dicomObject_ ? dicomObject_->Position() : TCubePoint{};
        viewPath_ = path;
        UpdateGeometry();
        if (dicomObject_) dicomObject_->SetPosition(remembered);
        mainCache_.Clear();
    });
}

void TDicomViewFrame::SetMipAllowed(bool allowed) {
    mipAllowed_ = allowed;
}

TViewSettings TDicomViewFrame::Settings() const {
    TViewSettings settings;
    settings.Path = viewPath_;
    settings.Thickness = thickness_;
    settings.Angle = angle_ + swingOffset_ + rotateOffset_;
    settings.Light3d = light3d_;
    settings.MipAllowed = mipAllowed_;
    return settings;
}

int TDicomViewFrame::CurrentSlice() const {
    if (!dicomObject_) return 0;
    return dicomObject_->Cube().CoordAlong(dicomObject_->Position(), viewPath_, 2);
}

int TDicomViewFrame::SliceCount() const {
    if (!dicomObject_) return 1;
    return dicomObject_->Cube().ExtentAlong(viewPath_, 2);
}

void TDicomViewFrame::SetSlice(int slice) {
    bool moved = false;
    if (dicomObject_) {
        const TCubePoint old = dicomObject_->Position();
        TCubePoint p = old;
        dicomObject_->Cube().SetCoordAlong(p, viewPath_, 2, slice);
        dicomObject_->SetPosition(p);
        moved = dicomObject_->Position() != old;
    }
    UpdateGeometry();
    // Unbound views have no "slice" node whose echo would rebuild them.
    if (moved) Changed();
}

void TDicomViewFrame::SetCubePosition(const TCubePoint& voxel) {
    if (!dicomObject_) return;
    const TCubePoint old = dicomObject_->Position();
    dicomObject_->SetPosition(voxel);
    const TPixelCube& cube = dicomObject_->Cube();
    const TCubePoint& now = dicomObject_->Position();
    SetPosition(QPoint(cube.CoordAlong(now, viewPath_, 0), cube.CoordAlong(now, viewPath_, 1)));
    // The object may be shared with another view that has moved it already: what counts is
    // whether this view's picture still shows the slice it stands on.
    if (dicomObject_->Position() != old || CurrentSlice() != builtSlice_) Changed();
}

void TDicomViewFrame::SetWorldPosition(const TCubePoint& world) {
    if (!dicomObject_) return;
    SetCubePosition(dicomObject_->Cube().WorldToIndex(world));
}

TCubePoint TDicomViewFrame::GetWorldPosition() const {
    return dicomObject_ ? dicomObject_->GetWorldPosition() : TCubePoint{};
}

void TDicomViewFrame::SetPosition(QPoint position) {
    TOverlayViewFrame::SetPosition(position);
    if (!dicomObject_) return;
    const TPixelCube& cube = dicomObject_->Cube();
    TCubePoint p = dicomObject_->Position();
    if (position.x() == cube.CoordAlong(p, viewPath_, 0) && position.y() == cube.CoordAlong(p, viewPath_, 1))
        return;
    if (TConfigNode* animate = BranchNode("animate")) {
        animate->SetAsInteger(0);
        // Also when the write's echo is ignored because a notification is being handled.
        animateStep_ = 0;
    }
    cube.SetCoordAlong(p, viewPath_, 0, position.x());
    cube.SetCoordAlong(p, viewPath_, 1, position.y());
    dicomObject_->SetPosition(p);
    if (OnPositionChanged) OnPositionChanged(*this);
}

void TDicomViewFrame::Autolevels(int count) {
    TConfigNode* level = BranchNode("colormapping/level");
    if (!dicomObject_ || !level) return;
    tarvicon::Autolevels(*dicomObject_, *level, count);
}

double TDicomViewFrame::ZoomExponent() const {
    return tarvicon::ZoomExponent(CurrentZoom());
}

void TDicomViewFrame::ZoomByExponent(double exponent) {
    SetZoom(ZoomFromExponent(exponent));
}

void TDicomViewFrame::ClearCaches() {
    mainCache_.Clear();
    overlayCache_.Clear();
    cachesCleared_ = true;
}

bool TDicomViewFrame::PictureOutdated() const {
    return cachesCleared_ || (mapping_ && dicomObject_ && mapping_->Fills() != builtFills_);
}

void TDicomViewFrame::SetRotateClock(std::uint64_t tick) {
    rotateStart_ = tick;
    rotateOffset_ = 0;
    Changed();
    if (tick != 0) WakeTimer();
}

// ---- change notifications ----

void TDicomViewFrame::NodeChanged(TConfigNode& node) {
    std::string action;
    if (handling_ || !branch_ || !PathBelow(*branch_, node, action)) return;
    handling_ = true;
    struct TRelease {
        bool& flag;
        ~TRelease() { flag = false; }
    } release{handling_};
    HandleNode(action, node);
    Changed();
}

void TDicomViewFrame::HandleNode(const std::string& action, TConfigNode& node) {
    const double value = node.GetAsFloat();
    const auto step = [] { return Host().ShiftHeld() ? 10 : 1; };
    TPixelCube* cube = dicomObject_ ? &dicomObject_->Cube() : nullptr;
    const auto shiftOrigin = [&](int dx, int dy) {
        if (!cube) return;
        const auto [first, second] = cube->GetScreenOrigin(viewPath_);
        cube->SetScreenOrigin(viewPath_, first + dx * cube->MetricAlong(TPixelCube::PathLetter(viewPath_, 0)),
                              second + dy * cube->MetricAlong(TPixelCube::PathLetter(viewPath_, 1)));
        InvalidateView();
    };
    const auto level = [&](const char* name) {
        return BranchNode((std::string("colormapping/level/") + name).c_str());
    };

    if (action == "zoom") {
        // The node echoing the view's own zoom (rounded through the exponent, or capped at 10)
        // leaves the zoom alone, so a fit keeps its exact scale.
        if (std::abs(value - ZoomExponent()) > 1e-9) ZoomByExponent(value);
    } else if (action == "alpha") {
        SetOverlayAlpha(AlphaOfPercent(value));
    } else if (action == "angle") {
        angle_ = node.GetAsInteger();
        mainCache_.Clear();
        Changed();
        RestartClocks();
    } else if (action == "align") {
        SetCrossAngle(-value);
    } else if (action == "extra") {
        extra_ = value;
        SetExtraRotation(extra_ != 0, extra_ * 45 / 100, QPointF(Position()));
    } else if (action == "swing") {
        SwitchClock(swingStart_, value != 0);
    } else if (action == "rotate") {
        SwitchClock(rotateStart_, value != 0);
    } else if (action == "sweep") {
        SwitchClock(sweepStart_, value != 0);
    } else if (action == "grid") {
        SetGridAlpha(std::clamp(value, 0.0, 100.0) / 100);
    } else if (action == "gamma") {
        if (mapping_) mapping_->SetGamma(value);
    } else if (action == "thickness") {
        thickness_ = node.GetAsInteger();
        mainCache_.Clear();
    } else if (action == "light3d") {
        light3d_ = node.GetAsInteger();
        mainCache_.Clear();
    } else if (action == "path") {
        SetPath(node.GetText());
    } else if (action == "fit") {
        SetFitMode(node.GetAsInteger());
    } else if (action == "slice") {
        SetSlice(node.GetAsInteger());
    } else if (action == "animate") {
        animateStep_ = node.GetAsInteger();
        if (animateStep_ != 0) WakeTimer();
    } else if (action == "enhance") {
        SetQuality(value != 0);
    } else if (action == "slices/prev" || action == "slices/next") {
        SetSlice(WrapSlice(CurrentSlice(), SliceCount(), action == "slices/prev" ? -1 : 1));
    } else if (action == "slices/autolevels") {
        // The levels it writes must reach low and high through the level rule below, so its
        // own notifications are handled.
        handling_ = false;
        Autolevels(node.GetAsInteger());
        handling_ = true;
    } else if (action == "slices/permanent-grid") {
        SetPermanentGrid(value != 0);
    } else if (action == "slices/left") {
        SetPosition(Position() + QPoint(-step(), 0));
    } else if (action == "slices/right") {
        SetPosition(Position() + QPoint(step(), 0));
    } else if (action == "slices/up") {
        SetPosition(Position() + QPoint(0, -step()));
    } else if (action == "slices/down") {
        SetPosition(Position() + QPoint(0, step()));
    } else if (action == "slices/scroll-left") {
        ImgView().Scroll(-8 * step(), 0);
    } else if (action == "slices/scroll-right") {
        ImgView().Scroll(8 * step(), 0);
    } else if (action == "slices/scroll-up") {
        ImgView().Scroll(0, -8 * step());
    } else if (action == "slices/scroll-down") {
        ImgView().Scroll(0, 8 * step());
    } else if (action == "slices/shift-left") {
        shiftOrigin(-1, 0);
    } else if (action == "slices/shift-right") {
        shiftOrigin(1, 0);
    } else if (action == "slices/shift-up") {
        shiftOrigin(0, -1);
    } else if (action == "slices/shift-down") {
        shiftOrigin(0, 1);
    } else if (action == "colormapping/level/center" || action == "colormapping/level/width") {
        TConfigNode *center = level("center"), *width = level("width"), *low = level("low"),
                    *high = level("high");
        if (center && width && low && high) {
            const TLevelRange range = LevelRangeOf(center->GetAsFloat(), width->GetAsFloat());
            low->SetAsFloat(range.Low);
            high->SetAsFloat(range.High);
        }
    } else if (action == "colormapping/level/low" || action == "colormapping/level/high") {
        TConfigNode *center = level("center"), *width = level("width"), *low = level("low"),
                    *high = level("high");
        if (center && width && low && high) {
            const TLevelWindow window = LevelWindowOf(low->GetAsFloat(), high->GetAsFloat());
            center->SetAsFloat(window.Center);
            width->SetAsFloat(window.Width);
        }
    } else if (action == "colormapping/level/phase") {
        mainCache_.Clear();
    }
}

void TDicomViewFrame::SwitchClock(std::uint64_t& start, bool on) {
    start = on ? Now() : 0;
    RestartClocks();
    if (on) WakeTimer();
}

void TDicomViewFrame::RestartClocks() {
    const std::uint64_t now = Now();
    for (std::uint64_t* start : {&swingStart_, &rotateStart_, &sweepStart_})
        if (*start != 0) *start = now;
    sweepPhase_ = 0;
    swingOffset_ = 0;
    rotateOffset_ = 0;
}

std::uint64_t TDicomViewFrame::Now() const {
    // 0 means "off" for the clocks, so a clock never starts at tick 0.
    return std::max<std::uint64_t>(1, TickCount());
}

TConfigNode* TDicomViewFrame::BranchNode(const char* path) const {
    return branch_ ? branch_->FindNode(path) : nullptr;
}

// ---- overrides of the image view ----

void TDicomViewFrame::Status(const std::string& text) {
    TOverlayViewFrame::Status(viewName_ + ": " + text);
}

void TDicomViewFrame::SetQuality(bool quality) {
    TOverlayViewFrame::SetQuality(quality);
    if (TConfigNode* enhance = BranchNode("enhance")) enhance->SetAsInteger(0);
}

void TDicomViewFrame::SetCrossAngle(double angle) {
    TOverlayViewFrame::SetCrossAngle(angle);
    if (TConfigNode* align = BranchNode("align")) align->SetAsFloat(-angle);
}

void TDicomViewFrame::UpdateGeometry() {
    TOverlayViewFrame::UpdateGeometry();
    if (branch_) {
        if (TConfigNode* fit = BranchNode("fit")) fit->SetAsFloat(FitMode());
        if (TConfigNode* zoom = BranchNode("zoom"); zoom && Refitting()) {
            const double exponent = ZoomExponent();
            if (std::abs(zoom->GetAsFloat() - exponent) > 0.5) zoom->SetAsFloat(exponent);
        }
        if (TConfigNode* path = BranchNode("path")) path->SetText(viewPath_);
    }
    if (!dicomObject_) return;
    SetCubePosition(dicomObject_->Position());
    const auto [x, y] = dicomObject_->ViewSpacing(viewPath_);
    // SetImageMetrics comes back here: only a change goes on.
    if (QPoint(x, y) != ImageMetrics()) SetImageMetrics(x, y);
    TScalarNode* slice = branch_ ? FindScalar(*branch_, "slice") : nullptr;
    if (!slice) return;
    slice->BeginUpdate();
    try {
        slice->SetMin(0);
        slice->SetMax(std::max(0, SliceCount() - 1));
        // One slider position per slice: a fixed count would skip slices or stand between them.
        slice->SetSteps(std::max(1, SliceCount()));
        slice->SetAsInteger(CurrentSlice());
    } catch (...) {
        slice->EndUpdate(false);
        throw;
    }
    slice->EndUpdate(false);
}

void TDicomViewFrame::EndUpdate() {
    TOverlayViewFrame::EndUpdate();
    if (UpdateCount() > 0 || !branch_) return;
    if (TConfigNode* alpha = BranchNode("alpha")) SetOverlayAlpha(AlphaOfPercent(alpha->GetAsFloat()));
    if (TConfigNode* align = BranchNode("align")) SetCrossAngle(-align->GetAsFloat());
    if (TConfigNode* grid = BranchNode("grid")) SetGridAlpha(grid->GetAsFloat() / 100);
    if (TConfigNode* gamma = BranchNode("gamma"); gamma && mapping_) mapping_->SetGamma(gamma->GetAsFloat());
}

void TDicomViewFrame::Build() {
    const TViewSettings settings = Settings();
    if (dicomObject_ && dicomObject_->Cube().ExtentAlong(settings.Path, 0) >= settings.SmallestExtent &&
        dicomObject_->Cube().ExtentAlong(settings.Path, 1) >= settings.SmallestExtent)
        Status("Building image");
    const TPictureBuild built = BuildViewPicture(dicomObject_, mapping_, settings, Picture(), mainCache_);
    builtSlice_ = dicomObject_ ? CurrentSlice() : -1;
    builtFills_ = mapping_ ? mapping_->Fills() : 0;
    if (built == TPictureBuild::Resized) Refit();
    TOverlayViewFrame::Build();
}

bool TDicomViewFrame::CreateOverlayBitmap(TOverlayPicture& overlay) {
    if (!overlayObject_ || overlayObject_ == dicomObject_) return false;
    Status("+CreateOverlayBitmap");
    try {
        BuildOverlayPicture(overlayObject_, dicomObject_, Settings(), overlay.Bitmap, overlayCache_);
        overlay.Resampler = ResamplerName();
    } catch (...) {
        Status("-CreateOverlayBitmap");
        throw;
    }
    Status("-CreateOverlayBitmap");
    return true;
}

void TDicomViewFrame::UpdateOverlayTransform() {
    if (!dicomObject_ || !overlayObject_ || UpdateCount() > 0) return;
    const TOverlayCorners c = OverlayCorners(dicomObject_->Cube(), overlayObject_->Cube(), viewPath_);
    TProjectiveTransform& transform = OverlayTransform();
    transform.BeginUpdate();
    transform.SetSourceRect(
        QRectF(QPointF(c.SourceLeft, c.SourceTop), QPointF(c.SourceRight, c.SourceBottom)));
    transform.SetCorners(
        {QPointF(c.X0, c.Y0), QPointF(c.X1, c.Y1), QPointF(c.X2, c.Y2), QPointF(c.X3, c.Y3)});
    transform.EndUpdate();
}

// ---- the timer ----

void TDicomViewFrame::Timer1Timer() {
    TOverlayViewFrame::Timer1Timer();
    if (animationsHeld_) return;
    const std::uint64_t now = TickCount();
    swingOffset_ = swingStart_ != 0 ? tarvicon::SwingOffset(now, swingStart_) : 0;
    if (swingStart_ != 0) Changed();
    rotateOffset_ = rotateStart_ != 0 ? tarvicon::RotateOffset(now, rotateStart_) : 0;
    if (rotateStart_ != 0) Changed();
    if (sweepStart_ != 0) {
        const TSweepStep sweep = SweepStep(now, sweepStart_);
        sweepPhase_ = sweep.Phase;
        if (sweep.Finished) {
            // Switching the node off stops the sweep; an unbound view stops it here.
            if (TConfigNode* node = BranchNode("sweep")) {
                node->SetAsInteger(0);
            } else {
                sweepStart_ = 0;
                sweepPhase_ = 0;
            }
        }
        Changed();
    } else {
        sweepPhase_ = 0;
    }
    SetOverlayPhase(sweepPhase_);
    if (animateStep_ != 0) {
        const TSliceStep next = AnimateSlice(CurrentSlice(), SliceCount(), animateStep_);
        animateStep_ = next.Step;
        SetSlice(next.Slice);
    }
}

bool TDicomViewFrame::TimerWanted() const {
    // The animations run on the timer; it sleeps again once all are off.
    return TOverlayViewFrame::TimerWanted() || swingStart_ != 0 || rotateStart_ != 0 || sweepStart_ != 0 ||
           animateStep_ != 0;
}

} // namespace tarvicon
