#include "views/SimpleViewFrames.h"

#include "views/Legends.h"
#include "views/Resamplers.h"
#include "views/ViewCursors.h"
#include "volume/PictureFiles.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPen>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>

namespace tarvicon {

namespace {

std::uint64_t SteadyTicks() {
    using namespace std::chrono;
    return std::uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The shape that tells what a drag of the selection frame does; none leaves the view's own.
QCursor FrameCursorOf(TFrameCursor cursor, const QCursor& none) {
    switch (cursor) {
    case TFrameCursor::SizeWE:
        return Qt::SizeHorCursor;
    case TFrameCursor::SizeNS:
        return Qt::SizeVerCursor;
    case TFrameCursor::SizeNWSE:
        return Qt::SizeFDiagCursor;
    case TFrameCursor::SizeNESW:
        return Qt::SizeBDiagCursor;
    case TFrameCursor::HSplit:
        return Qt::SplitHCursor;
    case TFrameCursor::VSplit:
        return Qt::SplitVCursor;
    case TFrameCursor::SizeAll:
        return Qt::SizeAllCursor;
    case TFrameCursor::None:
        break;
    }
    return none;
}

unsigned ShiftOf(const QMouseEvent& event) {
    unsigned shift = 0;
    const Qt::KeyboardModifiers keys = event.modifiers();
    if (keys & Qt::ShiftModifier) shift |= ShiftKey;
    if (keys & Qt::AltModifier) shift |= AltKey;
    if (keys & Qt::ControlModifier) shift |= CtrlKey;
    const Qt::MouseButtons buttons = event.buttons();
    if (buttons & Qt::LeftButton) shift |= LeftButton;
    if (buttons & Qt::RightButton) shift |= RightButton;
    if (buttons & Qt::MiddleButton) shift |= MiddleButton;
    return shift;
}

QPointF ToQt(const TPointD& p) {
    return {p.X, p.Y};
}

// Draws the picture opaque into the buffer at the view's scale and scroll with the named
// resampler: the one place that knows how pictures reach the screen.
void DrawPicture(QImage& buffer, const TBitmap32& picture, const TScale& scale, QPoint scroll,
                 const std::string& resampler) {
    // A view without metrics yet has scale 0: nothing to show.
    if (picture.Width() <= 0 || picture.Height() <= 0 || !(scale.X > 0) || !(scale.Y > 0)) return;
    DrawResampled(buffer, buffer.rect(), picture,
                  {scale.X, scale.Y, double(-scroll.x()), double(-scroll.y())}, ResamplerByName(resampler));
}

// A stippled pen of width 1; the pattern counts pixels on and off.
QPen StipplePen(const QColor& colour, const QList<qreal>& pattern) {
    QPen pen(colour);
    pen.setWidth(1);
    pen.setCapStyle(Qt::FlatCap);
    pen.setDashPattern(pattern);
    return pen;
}

// Text at a top-left point, on one line.
void TextAt(QPainter& painter, const TPointD& at, const std::string& text) {
    painter.drawText(QRectF(at.X, at.Y, 1e5, 1e5), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                     QString::fromStdString(text));
}

} // namespace

// ---- TSimpleImgView32 ----

TSimpleImgView32::TSimpleImgView32(TSimpleViewFrame& frame) : QAbstractScrollArea(&frame), frame_(frame) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setMouseTracking(true);
}

QPoint TSimpleImgView32::ScrollPosition() const {
    return {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}

void TSimpleImgView32::SetScrollPosition(QPoint position) {
    horizontalScrollBar()->setValue(position.x());
    verticalScrollBar()->setValue(position.y());
}

void TSimpleImgView32::Scroll(int dx, int dy) {
    SetScrollPosition(ScrollPosition() + QPoint(dx, dy));
}

void TSimpleImgView32::SetCentered(bool centered) {
    centered_ = centered;
    viewport()->update();
}

QPoint TSimpleImgView32::PictureOffset() const {
    if (!centered_) return ScrollPosition();
    const QSize view = viewport()->size();
    const auto along = [](int scroll, int content, int room) {
        return content < room ? -((room - content) / 2) : scroll;
    };
    const QPoint scroll = ScrollPosition();
    return {along(scroll.x(), content_.width(), view.width()),
            along(scroll.y(), content_.height(), view.height())};
}

QPoint TSimpleImgView32::ScrollMaximum() const {
    return {horizontalScrollBar()->maximum(), verticalScrollBar()->maximum()};
}

void TSimpleImgView32::SetContentSize(QSize size) {
    content_ = size;
    const QSize view = viewport()->size();
    horizontalScrollBar()->setRange(0, ScrollMax(size.width(), view.width()));
    verticalScrollBar()->setRange(0, ScrollMax(size.height(), view.height()));
    horizontalScrollBar()->setPageStep(std::max(1, view.width()));
    verticalScrollBar()->setPageStep(std::max(1, view.height()));
}

TFrameTimes TSimpleImgView32::PaintBuffer() {
    TFrameTimes times;
    const QSize size = viewport()->size();
    if (size.isEmpty()) return times;
    if (buffer_.size() != size) buffer_ = QImage(size, QImage::Format_ARGB32);
    frame_.PaintView(buffer_, times);
    return times;
}

void TSimpleImgView32::paintEvent(QPaintEvent*) {
    const auto start = std::chrono::steady_clock::now();
    TFrameTimes times = PaintBuffer();
    if (buffer_.isNull()) return;
    {
        QPainter painter(viewport());
        painter.drawImage(0, 0, buffer_);
    }
    if (frame_.OnPainted) {
        times.Paint = MillisecondsSince(start);
        frame_.OnPainted(frame_, times);
    }
}

void TSimpleImgView32::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    SetContentSize(content_);
    frame_.ViewResized();
}

void TSimpleImgView32::scrollContentsBy(int, int) {
    viewport()->update();
}

void TSimpleImgView32::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    frame_.ViewMouseDown(event->button(), ShiftOf(*event), at.x(), at.y());
}

void TSimpleImgView32::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    frame_.ViewMouseMove(ShiftOf(*event), at.x(), at.y());
}

void TSimpleImgView32::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    frame_.ViewMouseUp(event->button(), ShiftOf(*event), at.x(), at.y());
}

void TSimpleImgView32::mouseDoubleClickEvent(QMouseEvent* event) {
    if (frame_.OnViewDblClick) frame_.OnViewDblClick(frame_);
    // The second press of a double click counts as a press with a modifier.
    const QPoint at = event->position().toPoint();
    frame_.ViewMouseDown(event->button(), ShiftOf(*event) | DoubleClick, at.x(), at.y());
}

void TSimpleImgView32::wheelEvent(QWheelEvent* event) {
    event->ignore();
}

void TSimpleImgView32::keyPressEvent(QKeyEvent* event) {
    event->ignore();
}

// ---- TSimpleViewFrame ----

TSimpleViewFrame::TSimpleViewFrame(QWidget* parent) : QWidget(parent), TickCount(SteadyTicks) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    imgView_ = new TSimpleImgView32(*this);
    layout->addWidget(imgView_);
    setFocusProxy(imgView_);

    // The timer detects a hold and fades the highlighted cross; it runs only while one of them
    // (or a descendant's animation) is pending and stops after, so an idle window sleeps.
    timer1_.setInterval(20);
    connect(&timer1_, &QTimer::timeout, this, [this] { Timer1Timer(); });

    SetFitMode(2);
    position_ = QPoint(picture_.Width() / 2, picture_.Height() / 2);
}

TSimpleViewFrame::~TSimpleViewFrame() = default;

TZoomMetrics TSimpleViewFrame::Metrics() const {
    return {imageMetrics_.x(), imageMetrics_.y(), pixelsPerMm_.X, pixelsPerMm_.Y};
}

QSize TSimpleViewFrame::ContentSize() const {
    return {int(std::lround(picture_.Width() * scale_.X)), int(std::lround(picture_.Height() * scale_.Y))};
}

double TSimpleViewFrame::CurrentZoom() const {
    return ZoomOfScale(Metrics(), scale_);
}

void TSimpleViewFrame::SetZoom(double zoom) {
    const double limited = LimitZoom(zoom);
    if (limited == CurrentZoom()) return;
    fitMode_ = FitModeAfterZoom(fitMode_, limited, refitting_);
    ZoomAt(position_, limited);
}

void TSimpleViewFrame::ZoomAt(QPoint at, double zoom) {
    if (!std::isfinite(zoom)) return;
    const TScale old = scale_;
    const QPoint oldScroll = imgView_->ScrollPosition();
    scale_ = ScaleOfZoom(Metrics(), zoom);
    imgView_->SetContentSize(ContentSize());
    const QPoint max = imgView_->ScrollMaximum();
    imgView_->SetScrollPosition({ZoomScroll(at.x(), old.X, scale_.X, oldScroll.x(), max.x()),
                                 ZoomScroll(at.y(), old.Y, scale_.Y, oldScroll.y(), max.y())});
    Highlight();
    imgView_->viewport()->update();
    UpdateGeometry();
    if (OnZoomChanged) OnZoomChanged(*this);
}

double TSimpleViewFrame::FitZoom(int mode) const {
    const QSize client = imgView_->viewport()->size();
    return tarvicon::FitZoom(mode, Metrics(), picture_.Width(), picture_.Height(), client.width(),
                             client.height(), CurrentZoom());
}

void TSimpleViewFrame::SetFitMode(int mode) {
    if (mode == fitMode_) return;
    fitMode_ = mode;
    Refit();
}

void TSimpleViewFrame::Refit() {
    struct TMark {
        bool& flag;
        const bool old;
        ~TMark() { flag = old; }
    };
    const TMark mark{refitting_, refitting_};
    if (fitMode_ < 4) refitting_ = true;
    ZoomAt(position_, FitZoom(fitMode_));
}

void TSimpleViewFrame::SetGridAlpha(double alpha) {
    if (alpha == gridAlpha_) return;
    gridAlpha_ = alpha;
    if (OnGridChanged) OnGridChanged(*this);
    InvalidateView();
}

void TSimpleViewFrame::SetPermanentGrid(bool permanent) {
    permanentGrid_ = permanent;
}

void TSimpleViewFrame::SetMarkerAngle(double angle) {
    if (angle == markerAngle_) return;
    markerAngle_ = angle;
    Highlight();
    imgView_->viewport()->update();
}

void TSimpleViewFrame::SetHideCross(bool hide) {
    if (hide == hideCross_) return;
    hideCross_ = hide;
    Changed();
}

void TSimpleViewFrame::SetLegend(const std::string& legend) {
    if (legend == legend_) return;
    legend_ = legend;
    Highlight();
    InvalidateView();
}

QPoint TSimpleViewFrame::DragPoint() const {
    return ViewToPicture(lastPoint_);
}

void TSimpleViewFrame::SetViewCursor(int number) {
    viewCursor_ = number;
    viewCursorShape_ = ViewCursor(number);
    if (dragMode_ == DragModeNone) ShowCursor(viewCursorShape_);
}

void TSimpleViewFrame::ShowFrame(bool visible) {
    selectionFrame_.Visible = visible;
    InvalidateView();
}

void TSimpleViewFrame::SetImageMetrics(int x, int y) {
    imageMetrics_ = QPoint(x, y);
    UpdateGeometry();
    Changed();
}

void TSimpleViewFrame::SetResampler(const std::string& className) {
    ResamplerByName(className); // an unknown name raises before anything changes
    resamplerName_ = className;
    pictureResampler_ = className;
}

void TSimpleViewFrame::SetScrollMargin(int percent) {
    scrollMargin_ = percent;
}

void TSimpleViewFrame::SetPixelsPerMm(double x, double y) {
    pixelsPerMm_ = {x, y};
}

TPointD TSimpleViewFrame::PictureToView(TPointD point) const {
    const QPoint scroll = imgView_->PictureOffset();
    return {point.X * scale_.X - scroll.x(), point.Y * scale_.Y - scroll.y()};
}

QPoint TSimpleViewFrame::ViewToPicture(QPoint point) const {
    if (!(scale_.X > 0) || !(scale_.Y > 0)) return {};
    const QPoint scroll = imgView_->PictureOffset();
    const double x = std::floor((point.x() + scroll.x()) / scale_.X);
    const double y = std::floor((point.y() + scroll.y()) / scale_.Y);
    return {int(std::clamp(x, -1e9, 1e9)), int(std::clamp(y, -1e9, 1e9))};
}

TRectD TSimpleViewFrame::PictureRect() const {
    const TPointD topLeft = PictureToView({0, 0});
    return {topLeft.X, topLeft.Y, topLeft.X + picture_.Width() * scale_.X,
            topLeft.Y + picture_.Height() * scale_.Y};
}

// ---- virtual operations ----

void TSimpleViewFrame::ViewResized() {
    Refit();
}

void TSimpleViewFrame::ViewMouseDown(Qt::MouseButton button, unsigned shift, int x, int y) {
    if (button != Qt::LeftButton) return;
    if (selectionFrame_.Visible) {
        PlaceFrame();
        const std::uint8_t flags = FrameHitTest(selectionFrame_.Rect, x, y);
        if (flags != 0) {
            selectionFrame_.HitFlags = flags;
            StartDrag(DragModeFrame, FrameCursorOf(FrameCursor(flags), viewCursorShape_), x, y);
            return;
        }
    }
    holdStart_ = 0;
    SetPosition(ViewToPicture({x, y}));
    switch (PressDragMode(shift)) {
    case DragModeHold:
        StartDrag(DragModeHold, ViewCursor(HoldCursor), x, y);
        break;
    case DragModePan:
        StartDrag(DragModePan, ViewCursor(PanCursor), x, y);
        break;
    default:
        holdStart_ = std::max<std::uint64_t>(1, TickCount());
        WakeTimer();
        break;
    }
}

void TSimpleViewFrame::ViewMouseUp(Qt::MouseButton, unsigned, int x, int y) {
    DragStep(x, y);
    ShowCursor(viewCursorShape_);
    dragMode_ = DragModeNone;
    holdStart_ = 0;
}

void TSimpleViewFrame::ViewMouseMove(unsigned shift, int x, int y) {
    if (selectionFrame_.Visible) {
        PlaceFrame();
        const std::uint8_t flags = FrameHitTest(selectionFrame_.Rect, x, y);
        if (flags != 0) {
            ShowCursor(FrameCursorOf(FrameCursor(flags), viewCursorShape_));
            DragStep(x, y);
            lastPoint_ = QPoint(x, y);
            return;
        }
        // Off the frame the cursor tells the drag again, or the view's own.
        ShowCursor(dragMode_ == DragModeNone ? viewCursorShape_ : dragCursor_);
    }
    DragStep(x, y);
    lastPoint_ = QPoint(x, y);
    if (OnMouseMove) OnMouseMove(*this, shift, x, y);
}

void TSimpleViewFrame::SetPosition(QPoint position) {
    if (position == position_) return;
    position_ = position;
    Highlight();
    imgView_->viewport()->update();
}

void TSimpleViewFrame::SetMark(const std::string& mark) {
    if (mark == mark_) return;
    mark_ = mark;
    imgView_->viewport()->update();
}

void TSimpleViewFrame::SetEmptyText(const std::string& text) {
    if (text == emptyText_) return;
    emptyText_ = text;
    imgView_->viewport()->update();
}

void TSimpleViewFrame::PaintOverlay(QPainter& painter) {
    const QRect area(QPoint(0, 0), QSize(painter.device()->width(), painter.device()->height()));
    if (updateCount_ > 0) {
        painter.fillRect(area, QColor(63, 63, 63));
        return;
    }
    if (selectionFrame_.Visible) {
        PlaceFrame();
        const TRectD& r = selectionFrame_.Rect;
        const QColor colour(255, 100, 155);
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        // Pixel centres lie on whole coordinates, as the frame's edges do.
        painter.translate(0.5, 0.5);
        painter.setPen(StipplePen(colour, {1, 1, 1, 3}));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top));
        const double middleX = (r.Left + r.Right) / 2;
        const double middleY = (r.Top + r.Bottom) / 2;
        painter.drawLine(QPointF(r.Left, middleY), QPointF(r.Right, middleY));
        painter.drawLine(QPointF(middleX, r.Top), QPointF(middleX, r.Bottom));
        painter.restore();
        painter.save();
        painter.setPen(colour);
        painter.setFont(QFont("Verdana", 10));
        TextAt(
            painter, {r.Left + 2, r.Top + 2},
            FrameSizeText(int(std::lround(selectionFrame_.Width)), int(std::lround(selectionFrame_.Height))));
        painter.restore();
    }
    if (!mark_.empty() && picture_.Width() > 0 && picture_.Height() > 0) {
        // Amber on a dark box, so that it stands out on bone and on air alike.
        painter.save();
        painter.setFont(QFont("Verdana", 12, QFont::Bold));
        QString text = QString::fromStdString(mark_);
        // A view too narrow for the whole mark still says LOSSY.
        if (painter.fontMetrics().horizontalAdvance(text) + 16 > area.width()) text = text.section(' ', 0, 0);
        QRect box = painter.fontMetrics().boundingRect(text).adjusted(-4, -2, 4, 2);
        box.moveTopRight(QPoint(area.right() - 4, 4));
        painter.fillRect(box, QColor(0, 0, 0, 160));
        painter.setPen(QColor(255, 176, 0));
        painter.drawText(box, Qt::AlignCenter, text);
        painter.restore();
    }
    if ((picture_.Width() <= 0 || picture_.Height() <= 0) && !emptyText_.empty()) {
        painter.save();
        painter.setPen(QColor(150, 150, 150));
        painter.setFont(QFont("Verdana", 11));
        painter.drawText(area, Qt::AlignCenter, QString::fromStdString(emptyText_));
        painter.restore();
    }
    if (hideCross_ || qualityPasses_ > 0 || picture_.Width() <= 0 || picture_.Height() <= 0) return;
    try {
        PaintCross(painter);
    } catch (const std::exception&) {
        // A cross that cannot be drawn leaves the picture as it is.
    }
}

void TSimpleViewFrame::PaintCross(QPainter& painter) {
    TPointD p = PictureToView({double(position_.x()), double(position_.y())});
    if (p.X < 0 || p.Y < 0) return;
    const QSize size = QSize(painter.device()->width(), painter.device()->height());
    const TRectD clip{0, 0, double(size.width()), double(size.height())};
    const TCrossAlphas alphas = CrossAlphas(gridAlpha_, crossFade_, permanentGrid_);
    const std::vector<std::string> lines = LegendLines(legend_);
    const QFont legendFont("Verdana", 16);
    for (int pass = 0; pass < 2; ++pass) {
        // A dark shadow first, then the light cross one pixel right and down.
        const QColor colour =
            pass == 0 ? QColor(32, 32, 32, alphas.Shadow) : QColor(128, 196, 255, alphas.Light);
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(0.5, 0.5);
        painter.setPen(StipplePen(colour, {3, 3}));
        for (const TSegment& s : CrossSegments(p, clip, crossAngle_)) painter.drawLine(ToQt(s.A), ToQt(s.B));
        for (const TSegment& s : MarkerSegments(p, markerAngle_, width(), height()))
            painter.drawLine(ToQt(s.A), ToQt(s.B));
        painter.restore();
        if (!lines.empty()) {
            painter.save();
            painter.setPen(colour);
            painter.setFont(legendFont);
            for (std::size_t n = 0; n < lines.size(); ++n)
                TextAt(painter, LegendLineOrigin(pass, int(n)), lines[n]);
            painter.restore();
        }
        p.X += 1;
        p.Y += 1;
    }
}

void TSimpleViewFrame::UpdateGeometry() {
    pixelsPerMm_ = {10.0, 10.0};
    if (const QScreen* display = screen()) {
        if (display->physicalDotsPerInchX() > 0) pixelsPerMm_.X = display->physicalDotsPerInchX() / 25.4;
        if (display->physicalDotsPerInchY() > 0) pixelsPerMm_.Y = display->physicalDotsPerInchY() / 25.4;
    }
    if (imageMetrics_.x() == 0) imageMetrics_.setX(1);
    if (imageMetrics_.y() == 0) imageMetrics_.setY(1);
}

void TSimpleViewFrame::SetCrossAngle(double angle) {
    if (angle == crossAngle_) return;
    crossAngle_ = angle;
    Changed();
}

void TSimpleViewFrame::Changed() {
    SetQuality(false);
    InvalidateView();
    needsBuild_ = true;
    if (updateCount_ > 0) batchChanged_ = true;
    if (OnChanged) OnChanged(*this);
}

void TSimpleViewFrame::Build() {
    needsBuild_ = false;
    if (OnBuilt) OnBuilt(*this);
    if (qualityPasses_ > 0) --qualityPasses_;
}

void TSimpleViewFrame::InvalidateView() {
    imgView_->viewport()->update();
    if (OnInvalidated) OnInvalidated(*this);
}

void TSimpleViewFrame::BeginUpdate() {
    ++updateCount_;
}

void TSimpleViewFrame::EndUpdate() {
    if (updateCount_ > 0) --updateCount_;
    imgView_->SetContentSize(ContentSize());
    if (updateCount_ > 0) {
        batchChanged_ = true;
        return;
    }
    const bool quiet = quietEnd_;
    quietEnd_ = batchChanged_ = false;
    if (quiet)
        InvalidateView();
    else
        Changed();
}

void TSimpleViewFrame::EndUpdateIfChanged() {
    quietEnd_ = updateCount_ == 1 && !batchChanged_;
    EndUpdate();
}

void TSimpleViewFrame::AutoScroll() {
    if (dragMode_ != DragModeNone || scrollMargin_ == 0) return;
    const int px = int(std::lround(position_.x() * scale_.X));
    const int py = int(std::lround(position_.y() * scale_.Y));
    const QPoint scroll = imgView_->ScrollPosition();
    const QPoint max = imgView_->ScrollMaximum();
    const QSize view = imgView_->viewport()->size();
    const TScrollStep x = AutoScrollStep(tarvicon::PendingScroll(px, scroll.x(), view.width(), scrollMargin_),
                                         scroll.x(), max.x());
    const TScrollStep y = AutoScrollStep(
        tarvicon::PendingScroll(py, scroll.y(), view.height(), scrollMargin_), scroll.y(), max.y());
    imgView_->SetScrollPosition({x.Position, y.Position});
    pendingScroll_ = QPoint(x.Pending, y.Pending);
}

void TSimpleViewFrame::SetQuality(bool quality) {
    if (!quality) return;
    qualityPasses_ = 2;
    InvalidateView();
}

void TSimpleViewFrame::Status(const std::string& text) {
    if (OnStatus) OnStatus(*this, text);
}

// ---- painting, timer, mouse steps ----

void TSimpleViewFrame::PaintView(QImage& buffer, TFrameTimes& times) {
    if (updateCount_ > 0) {
        QPainter painter(&buffer);
        PaintOverlay(painter);
        return;
    }
    try {
        if (needsBuild_) {
            const auto start = std::chrono::steady_clock::now();
            Build();
            times.Build = MillisecondsSince(start);
            times.Built = true;
        }
        const auto drawStart = std::chrono::steady_clock::now();
        const TResamplerChoice choice = ChooseResampler(pictureResampler_, resamplerName_, qualityPasses_);
        if (!choice.Status.empty()) {
            Status(choice.Status);
            pictureResampler_ = choice.Resampler;
        }
        imgView_->SetContentSize(ContentSize());
        buffer.fill(Qt::black);
        DrawPicture(buffer, picture_, scale_, imgView_->PictureOffset(), pictureResampler_);
        QPainter painter(&buffer);
        PaintOverlay(painter);
        painter.end();
        times.Draw = MillisecondsSince(drawStart);
    } catch (const std::exception& error) {
        try {
            Status(std::string("Exception: ") + error.what());
        } catch (...) {
            // A paint never passes an error on, not even one from the status handler.
        }
    }
}

void TSimpleViewFrame::Timer1Timer() {
    if (HoldDue(holdStart_, TickCount())) {
        holdStart_ = 0;
        const TPointD p = PictureToView({double(position_.x()), double(position_.y())});
        StartDrag(DragModeHold, ViewCursor(HoldCursor), int(std::lround(p.X)), int(std::lround(p.Y)));
    }
    if (crossFade_ >= 1) {
        imgView_->viewport()->update();
        crossFade_ = CrossFadeStep(crossFade_);
    }
    if (!TimerWanted()) timer1_.stop();
}

bool TSimpleViewFrame::TimerWanted() const {
    return holdStart_ != 0 || crossFade_ > 0;
}

void TSimpleViewFrame::WakeTimer() {
    if (!timer1_.isActive()) timer1_.start();
}

void TSimpleViewFrame::Highlight() {
    crossFade_ = 255;
    WakeTimer();
}

void TSimpleViewFrame::StartDrag(int mode, const QCursor& cursor, int x, int y) {
    dragMode_ = mode;
    dragCursor_ = cursor;
    ShowCursor(cursor);
    // The step starts from the press itself, so a new drag never jumps by an old distance.
    lastPoint_ = QPoint(x, y);
    DragStep(x, y);
    lastPoint_ = QPoint(x, y);
}

void TSimpleViewFrame::DragStep(int x, int y) {
    switch (dragMode_) {
    case DragModePan:
        imgView_->Scroll(lastPoint_.x() - x, lastPoint_.y() - y);
        break;
    case DragModeFrame: {
        const TFrameDrag drag =
            DragFrame(selectionFrame_.Rect, selectionFrame_.HitFlags, x - lastPoint_.x(), y - lastPoint_.y());
        selectionFrame_.Rect = drag.Rect;
        selectionFrame_.Width = drag.Width;
        selectionFrame_.Height = drag.Height;
        Changed();
        break;
    }
    default:
        break;
    }
}

void TSimpleViewFrame::ShowCursor(const QCursor& cursor) {
    imgView_->viewport()->setCursor(cursor);
}

void TSimpleViewFrame::PlaceFrame() {
    TRectD& r = selectionFrame_.Rect;
    if (r.Left != 0 || r.Top != 0 || r.Right != 0 || r.Bottom != 0) return;
    const QSize client = imgView_->viewport()->size();
    r = CentredFrame({0, 0, client.width(), client.height()}, selectionFrame_.Width, selectionFrame_.Height);
}

// ---- export ----

void TSimpleViewFrame::CopyBuffer(const TRectI& rect, TBitmap32& bitmap) const {
    const QImage& buffer = imgView_->Buffer();
    bitmap.SetSize(rect.Width(), rect.Height());
    for (int y = 0; y < bitmap.Height(); ++y) {
        std::uint32_t* to = bitmap.Bits() + std::size_t(y) * std::size_t(bitmap.Width());
        const int from = rect.Top + y;
        if (from < 0 || from >= buffer.height()) {
            std::fill(to, to + bitmap.Width(), 0u);
            continue;
        }
        const auto* row = reinterpret_cast<const std::uint32_t*>(buffer.constScanLine(from));
        for (int x = 0; x < bitmap.Width(); ++x) {
            const int column = rect.Left + x;
            to[x] = column >= 0 && column < buffer.width() ? row[column] : 0u;
        }
    }
}

bool TSimpleViewFrame::RenderToBitmap(const std::string& caption, TBitmap32& bitmap) {
    const bool shown = selectionFrame_.Visible;
    if (shown) PlaceFrame();
    const QSize client = imgView_->viewport()->size();
    const TRectI rect =
        ExportRect(shown, selectionFrame_.Rect, PictureRect(), client.width(), client.height());
    selectionFrame_.Visible = false;
    struct TShowAgain {
        TSimpleViewFrame& view;
        const bool shown;
        ~TShowAgain() {
            view.selectionFrame_.Visible = shown;
            if (shown) view.imgView_->viewport()->update();
        }
    };
    const TShowAgain showAgain{*this, shown};
    imgView_->PaintBuffer();
    CopyBuffer(rect, bitmap);
    DrawLegend(bitmap, caption);
    return shown;
}

void TSimpleViewFrame::SaveToFile(const std::string& fileName, const std::string& caption) {
    imgView_->PaintBuffer();
    switch (ViewFileKind(fileName)) {
    case TViewFileKind::Bmp: {
        const QSize size = imgView_->Buffer().size();
        TBitmap32 whole;
        CopyBuffer({0, 0, size.width(), size.height()}, whole);
        SavePicture(whole, fileName);
        break;
    }
    case TViewFileKind::Jpeg: {
        TBitmap32 picture;
        RenderToBitmap(caption, picture);
        SavePicture(picture, fileName);
        break;
    }
    case TViewFileKind::None:
        break;
    }
}

} // namespace tarvicon
