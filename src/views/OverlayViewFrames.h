#pragma once
// The image view with a second picture burnt into the main one: after each build the descendant
// hands over an overlay picture, which is mapped into the main picture's frame through a
// projective transformation and fused by BlendPictures with the S-curve weight of the user's
// alpha and the sweep phase. This level also turns the finished picture by the extra rotation.

#include "views/SimpleViewFrames.h"
#include "volume/Bitmap32.h"

#include <QPointF>
#include <QRectF>
#include <QTransform>
#include <array>
#include <functional>
#include <optional>
#include <string>

namespace tarvicon {

// A projective transformation from a source rectangle onto four destination corners: 0 top
// left, 1 top right, 2 bottom right, 3 bottom left. Every change outside an update bracket, and
// the closing of the outermost bracket, tells OnChange.
class TProjectiveTransform {
public:
    // Told after each change.
    std::function<void()> OnChange;

    // Opens a batch of changes; OnChange waits for the outermost EndUpdate.
    void BeginUpdate() { ++updateCount_; }
    // Closes a batch; the outermost one tells OnChange, changed or not.
    void EndUpdate();

    const QRectF& SourceRect() const { return source_; }
    void SetSourceRect(const QRectF& source);
    const std::array<QPointF, 4>& Corners() const { return corners_; }
    void SetCorners(const std::array<QPointF, 4>& corners);
    // The matrix from source to destination points; none while either quadrangle is degenerate.
    std::optional<QTransform> Matrix() const;

private:
    void Changed();

    QRectF source_;
    std::array<QPointF, 4> corners_{};
    int updateCount_ = 0;
};

// Draws source through transform onto target, copying the 32-bit pixels as they stand (no alpha
// arithmetic: colour tables may carry any alpha byte); pixels the drawn source does not cover are
// left alone. smooth interpolates bilinearly, else the nearest source pixel is taken.
void DrawTransformed(TBitmap32& target, const TBitmap32& source, const QTransform& transform, bool smooth);

// The level between the image view and the overlay view; it adds nothing.
class TXformationViewFrame : public TSimpleViewFrame {
public:
    explicit TXformationViewFrame(QWidget* parent = nullptr) : TSimpleViewFrame(parent) {}
};

// The overlay picture a descendant hands over, and the resampler it is drawn with.
struct TOverlayPicture {
    TBitmap32 Bitmap;
    std::string Resampler = DefaultResamplerName;
};

class TOverlayViewFrame : public TXformationViewFrame {
public:
    explicit TOverlayViewFrame(QWidget* parent = nullptr);

    // 0 linear blend, 1 colour fusion, 2 external fusion routine.
    int FusionMode() const { return fusionMode_; }
    void SetFusionMode(int mode);
    // The user's overlay weight 0..255 (limited).
    int OverlayAlpha() const { return overlayAlpha_; }
    void SetOverlayAlpha(int alpha);
    // The sweep phase in degrees.
    int OverlayPhase() const { return overlayPhase_; }
    void SetOverlayPhase(int degrees);
    // The weight the fusion uses: the S-curve of alpha and phase.
    int MasterAlpha() const { return masterAlpha_; }

    // Maps overlay picture coordinates to main picture coordinates; a change rebuilds the overlay.
    TProjectiveTransform& OverlayTransform() { return overlayTransform_; }
    // The overlay as last drawn into the main picture's frame (never shown itself).
    const TBitmap32& OverlayLayer() const { return overlayLayer_; }

    // The extra rotation of the finished picture: on, by degrees (counter-clockwise on the
    // screen for positive ones) about a picture point.
    void SetExtraRotation(bool on, double degrees, QPointF pivot);
    bool ExtraRotationOn() const { return extraOn_; }

    // The overlay level's build: the overlay transformation (and with it the overlay), the base
    // build, then the extra rotation. Descendants build the main picture first.
    void Build() override;

protected:
    // The overlay picture; false for none (this level has none).
    virtual bool CreateOverlayBitmap(TOverlayPicture& overlay);
    // Sets the corners of OverlayTransform inside one update bracket; the descendant knows them.
    virtual void UpdateOverlayTransform() {}

private:
    // Draws the overlay through the transformation into the layer and fuses it into the picture.
    void RebuildOverlay();

    TBitmap32 overlayLayer_;
    TProjectiveTransform overlayTransform_;
    int fusionMode_ = 0;
    int overlayAlpha_ = 0;
    int overlayPhase_ = 0;
    int masterAlpha_ = 0;
    bool extraOn_ = false;
    QTransform extraTransform_;
};

} // namespace tarvicon
