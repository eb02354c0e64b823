#include "views/OverlayViewFrames.h"

#include "views/Fusions.h"

#include <QImage>
#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <span>

namespace tarvicon {

namespace {

// The bitmap's pixels as a Qt image without a copy. Premultiplied, so that Qt takes the bytes
// as they stand instead of converting them through their alpha.
QImage ImageOver(TBitmap32& bitmap) {
    return QImage(reinterpret_cast<uchar*>(bitmap.Bits()), bitmap.Width(), bitmap.Height(),
                  bitmap.Width() * 4, QImage::Format_ARGB32_Premultiplied);
}

QImage ImageOver(const TBitmap32& bitmap) {
    return QImage(reinterpret_cast<const uchar*>(bitmap.Bits()), bitmap.Width(), bitmap.Height(),
                  bitmap.Width() * 4, QImage::Format_ARGB32_Premultiplied);
}

bool Interpolates(const std::string& resampler) {
    return resampler != DefaultResamplerName;
}

} // namespace

// ---- TProjectiveTransform ----

void TProjectiveTransform::EndUpdate() {
    if (updateCount_ > 0) --updateCount_;
    Changed();
}

void TProjectiveTransform::SetSourceRect(const QRectF& source) {
    source_ = source;
    Changed();
}

void TProjectiveTransform::SetCorners(const std::array<QPointF, 4>& corners) {
    corners_ = corners;
    Changed();
}

std::optional<QTransform> TProjectiveTransform::Matrix() const {
    const QPolygonF from(
        {source_.topLeft(), source_.topRight(), source_.bottomRight(), source_.bottomLeft()});
    const QPolygonF to({corners_[0], corners_[1], corners_[2], corners_[3]});
    QTransform matrix;
    if (!QTransform::quadToQuad(from, to, matrix)) return std::nullopt;
    return matrix;
}

void TProjectiveTransform::Changed() {
    if (updateCount_ == 0 && OnChange) OnChange();
}

void DrawTransformed(TBitmap32& target, const TBitmap32& source, const QTransform& transform, bool smooth) {
    if (target.Width() <= 0 || target.Height() <= 0 || source.Width() <= 0 || source.Height() <= 0) return;
    QImage to = ImageOver(target);
    const QImage from = ImageOver(source);
    QPainter painter(&to);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    painter.setTransform(transform);
    painter.drawImage(QPointF(0, 0), from);
}

// ---- TOverlayViewFrame ----

TOverlayViewFrame::TOverlayViewFrame(QWidget* parent) : TXformationViewFrame(parent) {
    overlayTransform_.OnChange = [this] { RebuildOverlay(); };
    masterAlpha_ = OverlayMasterAlpha(overlayAlpha_, overlayPhase_);
}

void TOverlayViewFrame::SetFusionMode(int mode) {
    if (mode == fusionMode_) return;
    fusionMode_ = mode;
    Changed();
}

void TOverlayViewFrame::SetOverlayAlpha(int alpha) {
    overlayAlpha_ = std::clamp(alpha, 0, 255);
    masterAlpha_ = OverlayMasterAlpha(overlayAlpha_, overlayPhase_);
    InvalidateView();
}

void TOverlayViewFrame::SetOverlayPhase(int degrees) {
    if (degrees == overlayPhase_) return;
    overlayPhase_ = degrees;
    masterAlpha_ = OverlayMasterAlpha(overlayAlpha_, overlayPhase_);
    InvalidateView();
}

void TOverlayViewFrame::SetExtraRotation(bool on, double degrees, QPointF pivot) {
    extraOn_ = on;
    // Qt turns clockwise on a screen whose y axis points down; the extra rotation turns the other way.
    extraTransform_ =
        QTransform().translate(pivot.x(), pivot.y()).rotate(-degrees).translate(-pivot.x(), -pivot.y());
}

void TOverlayViewFrame::Build() {
    UpdateOverlayTransform();
    TXformationViewFrame::Build();
    if (!extraOn_) return;
    const TBitmap32 copy = Picture();
    DrawTransformed(Picture(), copy, extraTransform_, Interpolates(ResamplerName()));
}

bool TOverlayViewFrame::CreateOverlayBitmap(TOverlayPicture&) {
    return false;
}

void TOverlayViewFrame::RebuildOverlay() {
    // A picture cleared for want of an object has nothing to fuse into.
    if (UpdateCount() > 0 || Picture().Width() <= 0 || Picture().Height() <= 0) return;
    TOverlayPicture overlay;
    if (!CreateOverlayBitmap(overlay)) return;
    // A fresh layer each time: what the overlay does not cover is transparent black.
    overlayLayer_ = TBitmap32(Picture().Width(), Picture().Height());
    if (const std::optional<QTransform> matrix = overlayTransform_.Matrix())
        DrawTransformed(overlayLayer_, overlay.Bitmap, *matrix, Interpolates(overlay.Resampler));
    TBitmap32& picture = Picture();
    const std::size_t count = std::size_t(picture.Width()) * std::size_t(picture.Height());
    BlendPictures(std::span<std::uint32_t>(picture.Bits(), count),
                  std::span<const std::uint32_t>(overlayLayer_.Bits(), count), fusionMode_, masterAlpha_);
}

} // namespace tarvicon
