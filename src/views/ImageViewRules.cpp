#include "views/ImageViewRules.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>

namespace tarvicon {

namespace {

std::string IntText(int value) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return std::string(digits, end);
}

double Radians(double degrees) {
    return degrees * std::numbers::pi / 180;
}

// Screen pixels per picture pixel at zoom 1 along one axis.
double RealScale(int metric, double pixelsPerMm) {
    return metric / 1000.0 * pixelsPerMm;
}

int Sign(int value) {
    return (value > 0) - (value < 0);
}

} // namespace

TScale ScaleOfZoom(const TZoomMetrics& metrics, double zoom) {
    return {RealScale(metrics.MetricX, metrics.PixelsPerMmX) * zoom,
            RealScale(metrics.MetricY, metrics.PixelsPerMmY) * zoom};
}

double ZoomOfScale(const TZoomMetrics& metrics, const TScale& scale) {
    if (metrics.MetricX == 0 || metrics.MetricY == 0) return 1;
    return (scale.X / RealScale(metrics.MetricX, metrics.PixelsPerMmX) +
            scale.Y / RealScale(metrics.MetricY, metrics.PixelsPerMmY)) /
           2;
}

double LimitZoom(double zoom) {
    return std::clamp(zoom, MinZoom, MaxZoom);
}

int FitModeAfterZoom(int fitMode, double zoom, bool refitting) {
    if (refitting) return fitMode;
    // Zoom 1 is real size: calling it pixel to pixel would refit it to another scale later.
    return zoom == 1 ? 3 : 4;
}

double FitZoom(int mode, const TZoomMetrics& metrics, int pictureWidth, int pictureHeight, int clientWidth,
               int clientHeight, double currentZoom) {
    // Nothing to fit: an empty picture, or metrics not set yet (they would divide by zero).
    if (pictureWidth <= 0 || pictureHeight <= 0 || metrics.MetricX <= 0 || metrics.MetricY <= 0 ||
        !(metrics.PixelsPerMmX > 0) || !(metrics.PixelsPerMmY > 0))
        return currentZoom;
    const double rx = clientWidth / metrics.PixelsPerMmX / (pictureWidth * metrics.MetricX / 1000.0);
    const double ry = clientHeight / metrics.PixelsPerMmY / (pictureHeight * metrics.MetricY / 1000.0);
    switch (mode) {
    case 0:
        return 2 / (RealScale(metrics.MetricX, metrics.PixelsPerMmX) +
                    RealScale(metrics.MetricY, metrics.PixelsPerMmY));
    case 1:
        return std::min(rx, ry);
    case 2:
        return std::max(rx, ry);
    case 3:
        return 1;
    case 4:
        return currentZoom;
    default:
        return 1;
    }
}

int ScrollMax(int contentSize, int viewSize) {
    return std::max(0, contentSize - viewSize);
}

int ZoomScroll(double at, double oldScale, double newScale, int oldScroll, int scrollMax) {
    const double place = at * oldScale - oldScroll;
    const double scroll = std::round(at * newScale - place);
    return int(std::clamp(scroll, 0.0, double(std::max(0, scrollMax))));
}

std::uint8_t FrameHitTest(const TRectD& frame, double x, double y) {
    std::uint8_t flags = 0;
    if (std::abs(x - frame.Left) < FrameGrip) flags |= FrameLeft;
    if (std::abs(y - frame.Top) < FrameGrip) flags |= FrameTop;
    if (std::abs(x - frame.Right) < FrameGrip) flags |= FrameRight;
    if (std::abs(y - frame.Bottom) < FrameGrip) flags |= FrameBottom;
    if (std::abs(x - (frame.Left + frame.Right) / 2) < FrameGrip) flags |= FrameLeft | FrameRight;
    if (std::abs(y - (frame.Top + frame.Bottom) / 2) < FrameGrip) flags |= FrameTop | FrameBottom;
    return flags;
}

TFrameCursor FrameCursor(std::uint8_t flags) {
    switch (flags) {
    case 1:
    case 4:
        return TFrameCursor::SizeWE;
    case 2:
    case 8:
        return TFrameCursor::SizeNS;
    case 3:
    case 12:
        return TFrameCursor::SizeNWSE;
    case 6:
    case 9:
        return TFrameCursor::SizeNESW;
    case 5:
        return TFrameCursor::HSplit;
    case 10:
        return TFrameCursor::VSplit;
    case 15:
        return TFrameCursor::SizeAll;
    default:
        return TFrameCursor::None;
    }
}

TFrameDrag DragFrame(const TRectD& frame, std::uint8_t flags, double dx, double dy) {
    TRectD r = frame;
    if (flags & FrameLeft) r.Left += dx;
    if (flags & FrameTop) r.Top += dy;
    if (flags & FrameRight) r.Right += dx;
    if (flags & FrameBottom) r.Bottom += dy;
    r.Left = std::min(r.Left, r.Right - FrameMinSize);
    r.Top = std::min(r.Top, r.Bottom - FrameMinSize);
    return {r, int(std::lround(r.Right - r.Left)), int(std::lround(r.Bottom - r.Top))};
}

TRectD CentredFrame(const TRectI& client, int width, int height) {
    const int left = (client.Left + client.Right - width) / 2;
    const int top = (client.Top + client.Bottom - height) / 2;
    return {double(left), double(top), double(left + width), double(top + height)};
}

int PressDragMode(unsigned shift) {
    if (shift & ShiftKey) return DragModeHold;
    if (shift == LeftButton) return DragModePan;
    return DragModeNone;
}

bool HoldDue(std::uint64_t holdStart, std::uint64_t now) {
    return holdStart != 0 && now - holdStart > 499;
}

int CrossFadeStep(int crossFade) {
    return std::max(0, crossFade - 20);
}

int PendingScroll(int point, int scrollPosition, int viewSize, int marginPercent) {
    const int margin = viewSize * marginPercent / 100;
    const int innerLeft = scrollPosition + margin;
    const int innerRight = scrollPosition + viewSize - margin;
    if (point < innerLeft) return innerLeft - point;
    if (point > innerRight) return innerRight - point;
    return 0;
}

TScrollStep AutoScrollStep(int pending, int scrollPosition, int scrollMax) {
    if (pending == 0) return {scrollPosition, 0};
    const int step = pending / 3 + Sign(pending);
    return {std::clamp(scrollPosition - step, 0, std::max(0, scrollMax)), pending - step};
}

std::array<TSegment, 4> CrossSegments(const TPointD& p, const TRectD& clip, double crossAngle) {
    const double s = std::sin(Radians(crossAngle));
    return {{
        {{clip.Left, p.Y - s * (p.X - clip.Left)}, {p.X - 20, p.Y - s * 20}},
        {{p.X + 20, p.Y + s * 20}, {clip.Right, p.Y + s * (clip.Right - p.X)}},
        {{p.X + s * (p.Y - clip.Top), clip.Top}, {p.X + s * 20, p.Y - 20}},
        {{p.X - s * 20, p.Y + 20}, {p.X - s * (clip.Bottom - p.Y), clip.Bottom}},
    }};
}

std::vector<TSegment> MarkerSegments(const TPointD& p, double markerAngle, int width, int height) {
    if (markerAngle < 0) return {};
    const double m = Radians(markerAngle);
    const double five = Radians(5);
    const TPointD tip{p.X + std::sin(m) * 4 * width / 8, p.Y - std::cos(m) * 4 * height / 8};
    const auto barb = [&](double angle) {
        return TPointD{p.X + std::sin(angle) * 2 * width / 8, p.Y - std::cos(angle) * 2 * height / 8};
    };
    return {{tip, barb(m - five)}, {tip, barb(m + five)}};
}

TCrossAlphas CrossAlphas(double gridAlpha, int crossFade, bool permanentGrid) {
    const int shadow = int(std::trunc(gridAlpha * 255));
    return {shadow, std::min(permanentGrid ? 255 : crossFade, shadow)};
}

TPointD LegendLineOrigin(int pass, int line) {
    return {double(5 - pass), double(5 - pass + line * (16 + 4))};
}

std::vector<std::string> LegendLines(const std::string& legend) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < legend.size()) {
        const std::size_t end = legend.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(legend.substr(start));
            break;
        }
        lines.push_back(legend.substr(start, end - start));
        start = end + 1;
        if (legend[end] == '\r' && start < legend.size() && legend[start] == '\n') ++start;
    }
    return lines;
}

std::string FrameSizeText(int width, int height) {
    return IntText(width) + " x " + IntText(height);
}

TResamplerChoice ChooseResampler(const std::string& current, const std::string& configured,
                                 int qualityPasses) {
    if (qualityPasses > 0 && current != KernelResamplerName)
        return {KernelResamplerName, "painting with LanczosKernel resampler " + IntText(qualityPasses)};
    if (qualityPasses == 0 && current != configured)
        return {configured, "painting with " + configured + " " + IntText(qualityPasses)};
    return {current, {}};
}

TViewFileKind ViewFileKind(const std::string& fileName) {
    const std::size_t dot = fileName.find_last_of('.');
    const std::size_t slash = fileName.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && slash > dot)) return TViewFileKind::None;
    std::string extension = fileName.substr(dot);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (extension == ".bmp") return TViewFileKind::Bmp;
    if (extension == ".jpg") return TViewFileKind::Jpeg;
    return TViewFileKind::None;
}

TRectI ExportRect(bool frameShown, const TRectD& frame, const TRectD& picture, int clientWidth,
                  int clientHeight) {
    const TRectD& source = frameShown ? frame : picture;
    TRectI r{int(std::lround(source.Left)), int(std::lround(source.Top)), int(std::lround(source.Right)),
             int(std::lround(source.Bottom))};
    // A frame dragged beyond the view's edge copies only what the view holds.
    r.Left = std::max(r.Left, 0);
    r.Top = std::max(r.Top, 0);
    r.Right = std::max(std::min(r.Right, clientWidth), r.Left);
    r.Bottom = std::max(std::min(r.Bottom, clientHeight), r.Top);
    return r;
}

} // namespace tarvicon
