#include "views/Resamplers.h"

#include "util/Errors.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <pixman.h>
#include <utility>

namespace tarvicon {

namespace {

struct PixmanImageDeleter {
    void operator()(pixman_image_t* image) const { pixman_image_unref(image); }
};
using TPixmanImage = std::unique_ptr<pixman_image_t, PixmanImageDeleter>;

struct PixmanParamsDeleter {
    void operator()(pixman_fixed_t* params) const { std::free(params); }
};

struct TResamplerName {
    const char* ClassName;
    TResampler Resampler;
};

constexpr TResamplerName ResamplerNames[] = {
    {"TNearestResampler", TResampler::Nearest},
    {"TLinearResampler", TResampler::Linear},
    {"TDraftResampler", TResampler::Draft},
    {"TKernelResampler", TResampler::Kernel},
};

// pixman's coordinates are 16.16 fixed point: sides and inverse scales must stay below 2^15.
constexpr int MaxSide = 32767;
constexpr double MaxScale = 8192;

// Phases per pixel of the convolution filters: a sample lands at most 1/32 pixel off.
constexpr int SubsampleBits = 4;

// 32-bit pixels, bytes B, G, R, A, read as opaque.
struct TSourceBits {
    const std::uint32_t* Bits;
    int Width;
    int Height;
    int Stride; // bytes per row
};

// The filter of one axis: an axis that enlarges interpolates with the `enlarge` kernel; one that
// shrinks uses the shrink kernels, the sample kernel widened to the source pixels per target pixel
// so that it averages what a target pixel covers.
struct TAxisKernels {
    pixman_kernel_t Reconstruct;
    pixman_kernel_t Sample;
};

TAxisKernels AxisKernels(double sourcePerTarget, pixman_kernel_t enlarge, pixman_kernel_t shrinkReconstruct,
                         pixman_kernel_t shrinkSample) {
    if (sourcePerTarget > 1) return {shrinkReconstruct, shrinkSample};
    return {enlarge, PIXMAN_KERNEL_IMPULSE};
}

void SetConvolution(pixman_image_t* source, double sourcePerTargetX, double sourcePerTargetY,
                    const TAxisKernels& x, const TAxisKernels& y) {
    int count = 0;
    const std::unique_ptr<pixman_fixed_t, PixmanParamsDeleter> params(
        pixman_filter_create_separable_convolution(
            &count, pixman_double_to_fixed(sourcePerTargetX), pixman_double_to_fixed(sourcePerTargetY),
            x.Reconstruct, y.Reconstruct, x.Sample, y.Sample, SubsampleBits, SubsampleBits));
    if (!params || !pixman_image_set_filter(source, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params.get(), count))
        RaiseError("Cannot create the resampling filter");
}

void SetFilter(pixman_image_t* source, TResampler resampler, double sourcePerTargetX,
               double sourcePerTargetY) {
    switch (resampler) {
    case TResampler::Nearest:
        pixman_image_set_filter(source, PIXMAN_FILTER_NEAREST, nullptr, 0);
        return;
    case TResampler::Linear:
        pixman_image_set_filter(source, PIXMAN_FILTER_BILINEAR, nullptr, 0);
        return;
    case TResampler::Draft:
        // Enlarging is plain bilinear (fast paths); a box over box filter averages exactly the area
        // that a shrunken target pixel covers.
        if (sourcePerTargetX <= 1 && sourcePerTargetY <= 1) {
            pixman_image_set_filter(source, PIXMAN_FILTER_BILINEAR, nullptr, 0);
            return;
        }
        SetConvolution(
            source, sourcePerTargetX, sourcePerTargetY,
            AxisKernels(sourcePerTargetX, PIXMAN_KERNEL_LINEAR, PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX),
            AxisKernels(sourcePerTargetY, PIXMAN_KERNEL_LINEAR, PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX));
        return;
    case TResampler::Kernel:
        SetConvolution(source, sourcePerTargetX, sourcePerTargetY,
                       AxisKernels(sourcePerTargetX, PIXMAN_KERNEL_LANCZOS3, PIXMAN_KERNEL_IMPULSE,
                                   PIXMAN_KERNEL_LANCZOS3),
                       AxisKernels(sourcePerTargetY, PIXMAN_KERNEL_LANCZOS3, PIXMAN_KERNEL_IMPULSE,
                                   PIXMAN_KERNEL_LANCZOS3));
        return;
    }
}

bool ValidScale(double scale) {
    return std::isfinite(scale) && scale >= 1 / MaxScale && scale <= MaxScale;
}

// First and one-past-last target pixel whose centre lies on [offset, offset + side × scale),
// limited to [low, high).
std::pair<int, int> CoveredSpan(double offset, double scale, int side, int low, int high) {
    const auto limit = [&](double value) {
        return static_cast<int>(std::clamp(value, static_cast<double>(low), static_cast<double>(high)));
    };
    return {limit(std::ceil(offset - 0.5)), limit(std::ceil(offset + side * scale - 0.5))};
}

QRect Draw(QImage& target, const QRect& clip, const TSourceBits& picture, const TPlacement& placement,
           TResampler resampler) {
    if (!ValidScale(placement.ScaleX) || !ValidScale(placement.ScaleY))
        RaiseError("Invalid resampling scale");
    if (!std::isfinite(placement.OffsetX) || !std::isfinite(placement.OffsetY))
        RaiseError("Invalid resampling offset");
    if (picture.Width > MaxSide || picture.Height > MaxSide || target.width() > MaxSide ||
        target.height() > MaxSide)
        RaiseError("Picture too large to resample");
    switch (target.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        break;
    default:
        RaiseError("Cannot resample into this picture format");
    }

    const QRect area = clip.intersected(target.rect());
    if (area.isEmpty() || picture.Width <= 0 || picture.Height <= 0) return {};
    const auto [left, right] =
        CoveredSpan(placement.OffsetX, placement.ScaleX, picture.Width, area.left(), area.right() + 1);
    const auto [top, bottom] =
        CoveredSpan(placement.OffsetY, placement.ScaleY, picture.Height, area.top(), area.bottom() + 1);
    if (left >= right || top >= bottom) return {};
    const QRect drawn(left, top, right - left, bottom - top);

    // pixman only reads the source; it takes the bits without const all the same.
    const TPixmanImage source(pixman_image_create_bits(PIXMAN_x8r8g8b8, picture.Width, picture.Height,
                                                       const_cast<std::uint32_t*>(picture.Bits),
                                                       picture.Stride));
    // The destination starts at the drawn rectangle, so the transform's translation stays within the
    // picture however far the placement moves it.
    auto* firstPixel = reinterpret_cast<std::uint32_t*>(target.scanLine(top)) + left;
    const TPixmanImage destination(pixman_image_create_bits(
        PIXMAN_a8r8g8b8, drawn.width(), drawn.height(), firstPixel, static_cast<int>(target.bytesPerLine())));
    if (!source || !destination) RaiseError("Cannot create the resampling images");

    // The transform maps destination to source: source = (target - offset) / scale.
    const double sourcePerTargetX = 1 / placement.ScaleX;
    const double sourcePerTargetY = 1 / placement.ScaleY;
    pixman_f_transform_t inverse;
    pixman_f_transform_init_identity(&inverse);
    inverse.m[0][0] = sourcePerTargetX;
    inverse.m[0][2] = (left - placement.OffsetX) * sourcePerTargetX;
    inverse.m[1][1] = sourcePerTargetY;
    inverse.m[1][2] = (top - placement.OffsetY) * sourcePerTargetY;
    pixman_transform_t transform;
    if (!pixman_transform_from_pixman_f_transform(&transform, &inverse) ||
        !pixman_image_set_transform(source.get(), &transform))
        RaiseError("Invalid resampling scale");
    pixman_image_set_repeat(source.get(), PIXMAN_REPEAT_PAD);
    SetFilter(source.get(), resampler, sourcePerTargetX, sourcePerTargetY);

    pixman_image_composite32(PIXMAN_OP_SRC, source.get(), nullptr, destination.get(), 0, 0, 0, 0, 0, 0,
                             drawn.width(), drawn.height());
    return drawn;
}

} // namespace

TResampler ResamplerByName(const std::string& className) {
    for (const auto& entry : ResamplerNames)
        if (className == entry.ClassName) return entry.Resampler;
    RaiseError("Cannot find resampler " + className);
}

std::string ResamplerClassName(TResampler resampler) {
    for (const auto& entry : ResamplerNames)
        if (entry.Resampler == resampler) return entry.ClassName;
    return {};
}

QRect DrawResampled(QImage& target, const QRect& clip, const TBitmap32& picture, const TPlacement& placement,
                    TResampler resampler) {
    // A side beyond the limit is refused before its stride is used.
    const int stride = picture.Width() <= MaxSide ? picture.Width() * 4 : 0;
    return Draw(target, clip, {picture.Bits(), picture.Width(), picture.Height(), stride}, placement,
                resampler);
}

QRect DrawResampled(QImage& target, const QRect& clip, const QImage& picture, const TPlacement& placement,
                    TResampler resampler) {
    const QImage::Format format = picture.format();
    const bool inPlace = format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
                         format == QImage::Format_ARGB32_Premultiplied;
    const QImage bits = inPlace ? picture : picture.convertToFormat(QImage::Format_RGB32);
    return Draw(target, clip,
                {reinterpret_cast<const std::uint32_t*>(bits.constBits()), bits.width(), bits.height(),
                 static_cast<int>(bits.bytesPerLine())},
                placement, resampler);
}

} // namespace tarvicon
