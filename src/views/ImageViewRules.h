#pragma once
// The image view's arithmetic without pixels: zoom and fit, scrolling, the selection frame, the
// mouse's drag modes, the timer's fade and hold, the lines of the navigation cross and the angle
// marker, the status texts. The Qt frame feeds these with events and paints their results.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvicon {

// A point in view or picture coordinates.
struct TPointD {
    double X = 0;
    double Y = 0;
};

// A line from A to B.
struct TSegment {
    TPointD A;
    TPointD B;
};

// A rectangle by its edges.
struct TRectD {
    double Left = 0;
    double Top = 0;
    double Right = 0;
    double Bottom = 0;
};

// A rectangle of whole pixels by its edges.
struct TRectI {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
};

// What ties picture pixels to the screen: micrometres per picture pixel (ImageMetrics) and
// screen pixels per millimetre (PixelsPerMm), each along X and Y.
struct TZoomMetrics {
    int MetricX = 0;
    int MetricY = 0;
    double PixelsPerMmX = 10.0;
    double PixelsPerMmY = 10.0;
};

// Screen pixels per picture pixel along X and Y.
struct TScale {
    double X = 1;
    double Y = 1;
};

// Zoom limits; zoom 1 shows one millimetre of the patient as one millimetre on the screen.
inline constexpr double MinZoom = 0.01;
inline constexpr double MaxZoom = 100;

// The scales of a zoom: metric / 1000 × pixels per mm × zoom on each axis.
TScale ScaleOfZoom(const TZoomMetrics& metrics, double zoom);
// The zoom that scales give (the mean of both axes); 1 when either metric is 0.
double ZoomOfScale(const TZoomMetrics& metrics, const TScale& scale);
// The zoom limited to MinZoom..MaxZoom.
double LimitZoom(double zoom);
// The fit mode after the user set a zoom: 3 (real size) for exactly 1, else 4 (custom);
// a running refit keeps the mode it fits.
int FitModeAfterZoom(int fitMode, double zoom, bool refitting);
// The zoom of a fit mode for a picture of pictureWidth × pictureHeight in a client area of
// clientWidth × clientHeight: 0 pixel to pixel, 1 fit both sides, 2 fit one side, 3 real size,
// 4 custom (currentZoom); another mode gives 1. An empty picture, or metrics or densities not
// above 0, give currentZoom.
double FitZoom(int mode, const TZoomMetrics& metrics, int pictureWidth, int pictureHeight, int clientWidth,
               int clientHeight, double currentZoom);

// The highest scroll position along one axis: content beyond the view, never below 0.
int ScrollMax(int contentSize, int viewSize);
// The scroll position along one axis that keeps picture coordinate `at` at the same view place
// when the scale changes from oldScale to newScale, limited to 0..scrollMax.
int ZoomScroll(double at, double oldScale, double newScale, int oldScroll, int scrollMax);

// Hit flags of the selection frame: which edges a drag moves.
inline constexpr std::uint8_t FrameLeft = 1;
inline constexpr std::uint8_t FrameTop = 2;
inline constexpr std::uint8_t FrameRight = 4;
inline constexpr std::uint8_t FrameBottom = 8;
// Distance in view pixels within which a point grabs an edge or a middle line.
inline constexpr double FrameGrip = 24;
// Smallest width and height a drag leaves to the frame.
inline constexpr double FrameMinSize = 10;

// The edges a press at (x, y) grabs: each edge closer than FrameGrip; near the vertical middle
// line both side edges (a horizontal move), near the horizontal one top and bottom.
std::uint8_t FrameHitTest(const TRectD& frame, double x, double y);

// Cursor shapes of the selection frame's hit flags.
enum class TFrameCursor { None, SizeWE, SizeNS, SizeNWSE, SizeNESW, HSplit, VSplit, SizeAll };
// The cursor that tells what a drag with these flags does.
TFrameCursor FrameCursor(std::uint8_t flags);

// The frame after a drag step and its size in whole pixels.
struct TFrameDrag {
    TRectD Rect;
    int Width = 0;
    int Height = 0;
};
// Moves the grabbed edges by (dx, dy); the left edge stays FrameMinSize left of the right one,
// the top FrameMinSize above the bottom.
TFrameDrag DragFrame(const TRectD& frame, std::uint8_t flags, double dx, double dy);
// A frame of width × height centred in the client rectangle (integer halves, as pixels).
TRectD CentredFrame(const TRectI& client, int width, int height);

// Drag modes of the mouse.
inline constexpr int DragModeNone = 0;
inline constexpr int DragModePan = 1;
inline constexpr int DragModeFrame = 2;
inline constexpr int DragModeHold = 3;

// Keys and buttons held with a mouse event.
enum TShiftFlag : unsigned {
    ShiftKey = 1,
    AltKey = 2,
    CtrlKey = 4,
    LeftButton = 8,
    RightButton = 16,
    MiddleButton = 32,
    DoubleClick = 64,
};
// The drag mode a left press starts outside the selection frame: hold with Shift, pan with the
// left button alone, none with anything else (the press then starts the hold clock).
int PressDragMode(unsigned shift);
// True when a hold clock started at holdStart (ms, 0 = none) has run more than 499 ms at now.
bool HoldDue(std::uint64_t holdStart, std::uint64_t now);
// The highlighted cross's strength one timer tick later: 20 less, not below 0.
int CrossFadeStep(int crossFade);

// How far the view must still scroll along one axis so that content coordinate point lies in
// the view shrunk by marginPercent of viewSize on each side; 0 when it lies there.
int PendingScroll(int point, int scrollPosition, int viewSize, int marginPercent);
// One auto-scroll step along one axis.
struct TScrollStep {
    int Position = 0;
    int Pending = 0;
};
// Moves a third of the pending distance (d div 3 + sign d): the position goes back by the step,
// limited to 0..scrollMax, the pending distance shrinks by it.
TScrollStep AutoScrollStep(int pending, int scrollPosition, int scrollMax);

// The four arms of the navigation cross through p inside clip, leaving a gap of 20 pixels around
// p, sheared by the cross angle (degrees): left, right, top, bottom.
std::array<TSegment, 4> CrossSegments(const TPointD& p, const TRectD& clip, double crossAngle);
// The angle marker at p toward markerAngle (degrees) in a frame of width × height: two strokes
// from one tip; none for a negative angle.
std::vector<TSegment> MarkerSegments(const TPointD& p, double markerAngle, int width, int height);
// Pen alphas of the cross: the shadow pass and the light pass.
struct TCrossAlphas {
    int Shadow = 0;
    int Light = 0;
};
// The shadow takes the grid's opacity; the light follows the fade (or stays when permanent),
// never above the shadow.
TCrossAlphas CrossAlphas(double gridAlpha, int crossFade, bool permanentGrid);
// Top left of legend line `line` (from 0) in drawing pass `pass` (0 shadow, 1 light).
TPointD LegendLineOrigin(int pass, int line);
// The legend's lines (split at CR LF, LF or CR; no empty line after a last line break).
std::vector<std::string> LegendLines(const std::string& legend);
// The selection frame's size text: "W x H".
std::string FrameSizeText(int width, int height);

// The resampler a paint uses and what it reports when it switches.
struct TResamplerChoice {
    std::string Resampler;
    // Empty when the resampler stays.
    std::string Status;
};
// Quality passes pending: the Lanczos kernel; none: back to the configured resampler.
TResamplerChoice ChooseResampler(const std::string& current, const std::string& configured,
                                 int qualityPasses);
// The name of the kernel resampler that quality passes use.
inline constexpr const char* KernelResamplerName = "TKernelResampler";
// The resampler a view starts with.
inline constexpr const char* DefaultResamplerName = "TNearestResampler";

// Picture files a view writes.
enum class TViewFileKind { None, Bmp, Jpeg };
// By the extension, in any case: ".bmp" the whole view, ".jpg" the export picture, else none.
TViewFileKind ViewFileKind(const std::string& fileName);
// The view rectangle an export copies: the selection frame when shown (rounded), else the
// picture's place; left and top at least 0, right and bottom within the client area, never
// narrower than empty.
TRectI ExportRect(bool frameShown, const TRectD& frame, const TRectD& picture, int clientWidth,
                  int clientHeight);

} // namespace tarvicon
