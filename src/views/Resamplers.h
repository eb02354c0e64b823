#pragma once
// Scaled drawing of 32-bit pictures over pixman, in the resampling modes that the views name by
// class name: "TNearestResampler", "TLinearResampler", "TDraftResampler" and "TKernelResampler",
// whose kernel is always "TLanczosKernel".

#include "volume/Bitmap32.h"

#include <QImage>
#include <QRect>
#include <string>

namespace tarvicon {

// How a picture is resampled when it is drawn scaled.
enum class TResampler {
    Nearest, // the nearest source pixel
    Linear,  // bilinear interpolation
    Draft,   // bilinear when enlarging, an area average along an axis that shrinks
    Kernel,  // the separable Lanczos3 kernel: sharp and slow, for the quality passes
};

// The kernel class name of the kernel resampler.
inline constexpr const char* LanczosKernelName = "TLanczosKernel";

// The mode that a resampler class name stands for; raises "Cannot find resampler " + name.
TResampler ResamplerByName(const std::string& className);

// The class name of a mode.
std::string ResamplerClassName(TResampler resampler);

// Where a picture lands in the target: target point = picture point × scale + offset, in target
// pixels, with separate X and Y scales.
struct TPlacement {
    double ScaleX = 1;
    double ScaleY = 1;
    double OffsetX = 0;
    double OffsetY = 0;
};

// Draws the picture resampled and opaque (its alpha is ignored, the drawn pixels get alpha 255)
// into the pixels of `clip` whose centres the placed picture covers, and returns those pixels'
// rectangle; the rest of the target is untouched. Edge pixels repeat outward, so interpolation
// never darkens the border. The target must be a 32-bit RGB or ARGB image. Raises on scales that
// are not finite or lie outside 1/8192..8192, on non-finite offsets and on pictures or targets
// wider or higher than 32767 pixels.
QRect DrawResampled(QImage& target, const QRect& clip, const TBitmap32& picture, const TPlacement& placement,
                    TResampler resampler);

// The same for a picture held in a QImage: 32-bit RGB and ARGB ones are read in place, their colour
// bytes as they stand; other formats are converted first.
QRect DrawResampled(QImage& target, const QRect& clip, const QImage& picture, const TPlacement& placement,
                    TResampler resampler);

} // namespace tarvicon
