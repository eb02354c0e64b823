#pragma once
// How the overlay picture is burnt into the main picture: the S-curve weight of the user's alpha
// and the sweep phase, the linear blend, the colour fusion through the integer hue, saturation
// and lightness conversion, and the external fusion routine with its random dither stand-in.
// Plain 32-bit pixel buffers (0xAARRGGBB), no window system.

#include <cstdint>
#include <span>
#include <string>

namespace tarvicon {

// The external fusion routine's library and its export:
// extern "C" std::uint32_t FUSION(std::uint32_t base, std::uint32_t overlay, std::uint32_t weight).
inline constexpr char kFusionLibrary[] = "liblumafuse.so";
inline constexpr char kFusionExport[] = "FUSION";

// The fusion modes of BlendPictures.
inline constexpr int kFusionLinear = 0;
inline constexpr int kFusionColour = 1;
inline constexpr int kFusionExternal = 2;

// The overlay's effective weight 0..255: trunc((1 − cos θ) / 2 × 255) with θ = phase +
// alpha × 180 / 255 degrees, the alpha limited to 0..255.
int OverlayMasterAlpha(int overlayAlpha, int overlayPhase);

// Hue, saturation and lightness, each 0..255; a hue of 256 would be the full turn back to red.
struct THsl {
    std::uint8_t H = 0;
    std::uint8_t S = 0;
    std::uint8_t L = 0;
    friend bool operator==(const THsl&, const THsl&) = default;
};

// The colour's hue, saturation and lightness; the alpha byte is ignored.
THsl RgbToHsl(std::uint32_t color);

// The colour of that hue, saturation and lightness, with alpha byte 0.
std::uint32_t HslToRgb(THsl hsl);

// Where the external fusion finds its routine, and the dither's draws when it is missing.
struct TFusionSource {
    // A plain file name is looked for in the program's folder first, then on the library path;
    // a name with a "/" is opened as it stands.
    std::string Library = kFusionLibrary;
    // The same seed draws the same pattern, so a changing weight dissolves the picture instead
    // of making it flicker from one build to the next.
    std::uint64_t DitherSeed = 0x5DEECE66Dull;
};

// Burns overlay into base pixel by pixel with weight a (limited to 0..255). Mode 0: each byte
// (b × (255 − a) + o × a) div 256; 1: hue and saturation of o with lightness of b, blended
// linearly with weight a; 2: the external routine once per pixel, or without it the dither
// (b where a draw 0..255 is below a, else o); any other mode leaves base alone. Raises
// "Invalid bitmap size" when the buffers differ in size or are empty.
void BlendPictures(std::span<std::uint32_t> base, std::span<const std::uint32_t> overlay, int mode, int a,
                   const TFusionSource& source = {});

} // namespace tarvicon
