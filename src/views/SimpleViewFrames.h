#pragma once
// The base of every picture view: a frame holding one zoomable, scrollable image view of a
// 32-bit picture, with the navigation cross, the angle marker, the legend and the export
// selection frame drawn over it. It owns the zoom model (physical size, five fit modes), the
// mouse (pan, navigation point, hold, selection frame), the 20 ms timer (hold, cross fade),
// auto-scroll, the lazy build cycle and the export to BMP and JPEG files. It knows nothing of
// DICOM: descendants override Build to produce the picture.

#include "views/FrameLogs.h"
#include "views/ImageViewRules.h"
#include "volume/Bitmap32.h"

#include <QAbstractScrollArea>
#include <QCursor>
#include <QImage>
#include <QPoint>
#include <QSize>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>

class QPainter;

namespace tarvicon {

class TSimpleViewFrame;

// The image view: a scroll area (scroll bars hidden) whose viewport shows the frame's drawing
// buffer. Its scroll position is where the picture's top left lies left of and above the view.
class TSimpleImgView32 : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TSimpleImgView32(TSimpleViewFrame& frame);

    // The scroll position in view pixels.
    QPoint ScrollPosition() const;
    // Sets the scroll position, limited to the scroll range.
    void SetScrollPosition(QPoint position);
    // Scrolls by a distance (the picture moves the other way), limited to the scroll range.
    void Scroll(int dx, int dy);
    // The highest scroll position on each axis.
    QPoint ScrollMaximum() const;
    // How far the picture's top left lies left of and above the view: the scroll position, or,
    // when centred, on an axis where the picture is smaller than the view, minus the margin that
    // centres it.
    QPoint PictureOffset() const;
    // A picture smaller than the view sits in its middle (the default) or at its top left.
    bool Centered() const { return centered_; }
    void SetCentered(bool centered);
    // Sets the scroll range for content of that size in view pixels.
    void SetContentSize(QSize size);
    // The view's drawing buffer as the last paint left it (the viewport's size, ARGB32).
    const QImage& Buffer() const { return buffer_; }
    // Paints the picture and the overlay into the drawing buffer now, as a paint event does.
    TFrameTimes PaintBuffer();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    // The wheel and the keys belong to the owner (the main window routes them).
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    TSimpleViewFrame& frame_;
    QImage buffer_;
    QSize content_;
    bool centered_ = true;
};

// The export selection: where it lies in view pixels, its size and the edges a drag moves.
struct TSelectionFrame {
    bool Visible = false;
    TRectD Rect;
    int Width = 800;
    int Height = 800;
    std::uint8_t HitFlags = 0;
};

class TSimpleViewFrame : public QWidget {
    Q_OBJECT
public:
    explicit TSimpleViewFrame(QWidget* parent = nullptr);
    ~TSimpleViewFrame() override;

    // Events, set by the owner; each gets the view that fires it. None is fired from the
    // destructor.
    std::function<void(TSimpleViewFrame&)> OnViewDblClick;
    std::function<void(TSimpleViewFrame&)> OnZoomChanged;
    std::function<void(TSimpleViewFrame&)> OnGridChanged;
    std::function<void(TSimpleViewFrame&, const std::string&)> OnStatus;
    std::function<void(TSimpleViewFrame&)> OnChanged;
    std::function<void(TSimpleViewFrame&)> OnBuilt;
    std::function<void(TSimpleViewFrame&)> OnInvalidated;
    // A paint event ended; set it only when frames are timed (the clock reads cost little).
    std::function<void(TSimpleViewFrame&, const TFrameTimes&)> OnPainted;
    // The mouse moved over the view outside the selection frame (shift flags, view point).
    std::function<void(TSimpleViewFrame&, unsigned shift, int x, int y)> OnMouseMove;
    // Milliseconds of a monotonic clock (the hold); tests put their own clock here.
    std::function<std::uint64_t()> TickCount;

    // The image view, filling the frame.
    TSimpleImgView32& ImgView() { return *imgView_; }
    // The picture shown; descendants fill it in Build.
    TBitmap32& Picture() { return picture_; }
    const TBitmap32& Picture() const { return picture_; }

    // Zoom relative to real size: the mean of both axes' zoom, 1 when a metric is 0.
    double CurrentZoom() const;
    // Sets the zoom (limited to 0.01..100) about the navigation point; a user's zoom switches
    // the fit mode to 0 (exactly 1) or 4 (custom).
    void SetZoom(double zoom);
    // Sets the zoom keeping the picture point `at` at its screen place.
    void ZoomAt(QPoint at, double zoom);
    // The zoom of a fit mode for the picture and the view's client size.
    double FitZoom(int mode) const;
    // 0 pixel to pixel, 1 fit both sides, 2 fit one side, 3 real size, 4 custom zoom.
    int FitMode() const { return fitMode_; }
    void SetFitMode(int mode);
    // Zooms to the fit mode's zoom again.
    void Refit();
    // True while Refit zooms for a fit mode below 4.
    bool Refitting() const { return refitting_; }
    // Screen pixels per picture pixel along X and Y.
    TScale Scale() const { return scale_; }

    // The navigation point in picture coordinates.
    QPoint Position() const { return position_; }
    // Opacity 0..1 of the navigation cross.
    double GridAlpha() const { return gridAlpha_; }
    void SetGridAlpha(double alpha);
    // Strength 0..255 of the highlighted cross; 255 after each position or zoom change.
    int CrossFade() const { return crossFade_; }
    // The highlighted cross stays at full strength.
    bool PermanentGrid() const { return permanentGrid_; }
    void SetPermanentGrid(bool permanent);
    // Tilt of the cross in degrees.
    double CrossAngle() const { return crossAngle_; }
    // Direction of the angle marker in degrees; negative: no marker.
    double MarkerAngle() const { return markerAngle_; }
    void SetMarkerAngle(double angle);
    // No cross is drawn.
    bool HideCross() const { return hideCross_; }
    void SetHideCross(bool hide);
    // Lines drawn at the top left.
    const std::string& Legend() const { return legend_; }
    void SetLegend(const std::string& legend);
    // A warning drawn at the top right over any picture, whatever else is hidden ("LOSSY …").
    const std::string& Mark() const { return mark_; }
    void SetMark(const std::string& mark);
    // Lines drawn in the middle while the view has no picture (what to do to get one).
    const std::string& EmptyText() const { return emptyText_; }
    void SetEmptyText(const std::string& text);

    // 0 none, 1 pan, 2 selection frame, 3 hold.
    int DragMode() const { return dragMode_; }
    // The last mouse point of a drag in picture coordinates.
    QPoint DragPoint() const;
    // Cursor numbers of drag modes 1 and 3 (0: the arrow).
    int PanCursor = 0;
    int HoldCursor = 0;
    // The view's own cursor number, shown when no drag shows another.
    int ViewCursorNumber() const { return viewCursor_; }
    void SetViewCursor(int number);
    // Tick of a left press that started no other mode; 0 = none.
    std::uint64_t HoldStart() const { return holdStart_; }

    // The export selection frame; its size is the owner's to set.
    TSelectionFrame& SelectionFrame() { return selectionFrame_; }
    // Shows or hides the selection frame.
    void ShowFrame(bool visible);

    // Micrometres per picture pixel along X and Y.
    QPoint ImageMetrics() const { return imageMetrics_; }
    void SetImageMetrics(int x, int y);
    // Screen pixels per millimetre along X and Y.
    TPointD PixelsPerMm() const { return pixelsPerMm_; }
    // Class name of the resampler of ordinary paints.
    const std::string& ResamplerName() const { return resamplerName_; }
    void SetResampler(const std::string& className);
    // The resampler the last paint used (the kernel during quality passes).
    const std::string& PictureResampler() const { return pictureResampler_; }
    // Coming builds painted with the Lanczos kernel.
    int QualityPasses() const { return qualityPasses_; }
    // Percent of the view kept free around the navigation point by auto-scroll.
    int ScrollMargin() const { return scrollMargin_; }
    void SetScrollMargin(int percent);
    // Scroll distance still to go along X and Y.
    QPoint PendingScroll() const { return pendingScroll_; }
    // Set by Changed, cleared by Build.
    bool NeedsBuild() const { return needsBuild_; }
    // Nesting depth of BeginUpdate.
    int UpdateCount() const { return updateCount_; }

    // The view point of a picture point, and the picture point under a view point.
    TPointD PictureToView(TPointD point) const;
    QPoint ViewToPicture(QPoint point) const;

    // The view changed size: fit again.
    virtual void ViewResized();
    // A mouse button went down at a view point (left only: frame, position, pan, hold).
    virtual void ViewMouseDown(Qt::MouseButton button, unsigned shift, int x, int y);
    // A mouse button went up: the drag ends.
    virtual void ViewMouseUp(Qt::MouseButton button, unsigned shift, int x, int y);
    // The mouse moved over the view: the drag goes on.
    virtual void ViewMouseMove(unsigned shift, int x, int y);
    // Moves the navigation point (descendants move the cube position here).
    virtual void SetPosition(QPoint position);
    // Draws the selection frame, the cross, the marker and the legend over the view.
    virtual void PaintOverlay(QPainter& painter);
    // Reads the screen's density; descendants write their state back to their branch.
    virtual void UpdateGeometry();
    // Tilts the cross (degrees).
    virtual void SetCrossAngle(double angle);
    // Something shown changed: the next paint builds the picture again.
    virtual void Changed();
    // Produces the picture; the base ends the build cycle. Overrides build, then call it.
    virtual void Build();
    // Repaints the view.
    virtual void InvalidateView();
    // Opens a batch of changes: nothing is painted (the view shows dark grey) until it closes.
    virtual void BeginUpdate();
    // Closes a batch; the outermost one calls Changed.
    virtual void EndUpdate();
    // Closes a batch as EndUpdate does, except that the outermost one builds the picture again
    // only when something inside the batch changed it (Changed, or a nested batch closed);
    // otherwise the view just repaints.
    void EndUpdateIfChanged();
    // One scroll step toward the navigation point; the owner calls it when idle.
    virtual void AutoScroll();
    // true: the next two builds are painted with the Lanczos kernel.
    virtual void SetQuality(bool quality);
    // Reports a status text.
    virtual void Status(const std::string& text);

    // Copies what the view shows (the selection frame's area when shown, else the picture's)
    // into bitmap, with the caption written at the top left; true when the frame was shown.
    bool RenderToBitmap(const std::string& caption, TBitmap32& bitmap);
    // ".bmp": the whole view; ".jpg": RenderToBitmap with the caption; other names: nothing.
    void SaveToFile(const std::string& fileName, const std::string& caption);

    // One tick of the 20 ms timer: hold detection and the cross fade. Descendants add their
    // animations after the base tick.
    virtual void Timer1Timer();
    // The 20 ms timer, running only while TimerWanted says so.
    const QTimer& Timer1() const { return timer1_; }

protected:
    // True while the timer has work: a pending hold or a fading cross. Descendants add theirs.
    virtual bool TimerWanted() const;
    // Starts the timer if it sleeps; call when something starts that the timer drives.
    void WakeTimer();
    // Sets the screen density (UpdateGeometry does from the window's screen).
    void SetPixelsPerMm(double x, double y);

private:
    friend class TSimpleImgView32;

    // The paint of the image view: build when needed, choose the resampler, draw; the times
    // of its build and of the whole go into times.
    void PaintView(QImage& buffer, TFrameTimes& times);
    TZoomMetrics Metrics() const;
    // The picture's size in view pixels.
    QSize ContentSize() const;
    // Where the picture lies in the view.
    TRectD PictureRect() const;
    void StartDrag(int mode, const QCursor& cursor, int x, int y);
    void DragStep(int x, int y);
    void ShowCursor(const QCursor& cursor);
    void PlaceFrame();
    void Highlight();
    void PaintCross(QPainter& painter);
    void CopyBuffer(const TRectI& rect, TBitmap32& bitmap) const;

    TSimpleImgView32* imgView_ = nullptr;
    TBitmap32 picture_;
    QTimer timer1_;

    int fitMode_ = 2;
    bool refitting_ = false;
    TScale scale_;
    QPoint position_;
    double gridAlpha_ = 0.25;
    int crossFade_ = 0;
    bool permanentGrid_ = false;
    double crossAngle_ = 0;
    double markerAngle_ = -1;
    bool hideCross_ = false;
    std::string legend_;
    std::string mark_;
    int dragMode_ = DragModeNone;
    QPoint lastPoint_;
    QCursor dragCursor_;
    int viewCursor_ = 0;
    QCursor viewCursorShape_{Qt::ArrowCursor};
    std::uint64_t holdStart_ = 0;
    TSelectionFrame selectionFrame_;
    QPoint imageMetrics_;
    TPointD pixelsPerMm_{10.0, 10.0};
    std::string resamplerName_ = DefaultResamplerName;
    std::string pictureResampler_ = DefaultResamplerName;
    int qualityPasses_ = 0;
    int scrollMargin_ = 25;
    QPoint pendingScroll_;
    bool needsBuild_ = false;
    int updateCount_ = 0;
    // Something inside the open batch changed the picture; the closing one may skip the build.
    bool batchChanged_ = false;
    std::string emptyText_;
    bool quietEnd_ = false;
};

} // namespace tarvicon
