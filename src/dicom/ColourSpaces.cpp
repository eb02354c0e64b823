#include "dicom/ColourSpaces.h"

#include "util/Errors.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace tarvicon {

namespace {

// YBR_FULL to RGB, from a chroma sample's share in each colour, computed once at compile time:
//   R = Y + 1.402 (Cr - 128)
//   G = Y - 0.344136 (Cb - 128) - 0.714136 (Cr - 128)
//   B = Y + 1.772 (Cb - 128)
// R and B take their rounded share directly, so they are exact; G adds two shares in 16-bit fixed
// point and rounds once, so it is never more than one off the exact value.
constexpr int kFraction = 16;

// Halves round up, as floor(x + 0.5) does.
constexpr int Round(double x) {
    const double shifted = x + 0.5;
    const int truncated = int(shifted);
    return truncated > shifted ? truncated - 1 : truncated;
}

struct TChromaTables {
    std::array<int, 256> CrToR, CbToB, CbToG, CrToG;
};

constexpr TChromaTables MakeChromaTables() {
    TChromaTables t{};
    for (int c = 0; c < 256; ++c) {
        const double chroma = c - 128;
        t.CrToR[c] = Round(1.402 * chroma);
        t.CbToB[c] = Round(1.772 * chroma);
        t.CbToG[c] = Round(-0.344136 * chroma * (1 << kFraction));
        t.CrToG[c] = Round(-0.714136 * chroma * (1 << kFraction)) + (1 << (kFraction - 1));
    }
    return t;
}

constexpr TChromaTables kChroma = MakeChromaTables();

std::uint8_t Clamp(int value) {
    return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

void YbrPixelToRgb(int y, int cb, int cr, std::uint8_t* rgb) {
    rgb[0] = Clamp(y + kChroma.CrToR[cr]);
    rgb[1] = Clamp(y + ((kChroma.CbToG[cb] + kChroma.CrToG[cr]) >> kFraction));
    rgb[2] = Clamp(y + kChroma.CbToB[cb]);
}

// One pixel of Samples samples of type T at a time, so the copies are whole samples.
template <typename T>
void Interleave(const std::uint8_t* planar, std::size_t pixels, std::uint8_t* out) {
    constexpr std::size_t kSize = sizeof(T);
    const std::uint8_t* const planes[3] = {planar, planar + pixels * kSize, planar + 2 * pixels * kSize};
    for (std::size_t i = 0; i < pixels; ++i) {
        T samples[3];
        for (int s = 0; s < 3; ++s) std::memcpy(&samples[s], planes[s] + i * kSize, kSize);
        std::memcpy(out + i * 3 * kSize, samples, sizeof samples);
    }
}

} // namespace

std::size_t Ybr422FrameBytes(int columns, int rows) {
    if (columns <= 0 || rows <= 0) return 0;
    return (std::size_t(columns) + 1) / 2 * 4 * std::size_t(rows);
}

void Ybr422ToRgb(std::span<const std::uint8_t> packed, int columns, int rows, std::span<std::uint8_t> rgb) {
    const std::size_t packedBytes = Ybr422FrameBytes(columns, rows);
    const std::size_t rgbBytes = packedBytes == 0 ? 0 : std::size_t(columns) * std::size_t(rows) * 3;
    if (packed.size() != packedBytes || rgb.size() != rgbBytes)
        RaiseError("YBR_FULL_422 frame of " + std::to_string(packed.size()) + " bytes into " +
                   std::to_string(rgb.size()) + " does not fit " + std::to_string(columns) + " x " +
                   std::to_string(rows) + " pixels");
    const std::size_t pairs = std::size_t(columns) / 2;
    const bool odd = columns % 2 != 0;
    const std::uint8_t* in = packed.data();
    std::uint8_t* out = rgb.data();
    for (int row = 0; row < rows; ++row) {
        for (std::size_t pair = 0; pair < pairs; ++pair, in += 4, out += 6) {
            YbrPixelToRgb(in[0], in[2], in[3], out);
            YbrPixelToRgb(in[1], in[2], in[3], out + 3);
        }
        if (odd) {
            YbrPixelToRgb(in[0], in[2], in[3], out);
            in += 4;
            out += 3;
        }
    }
}

void YbrFullToRgb(std::span<std::uint8_t> pixels) {
    std::uint8_t* p = pixels.data();
    for (std::size_t i = 0, count = pixels.size() / 3; i < count; ++i, p += 3)
        YbrPixelToRgb(p[0], p[1], p[2], p);
}

void PlanarToInterleaved(std::span<const std::uint8_t> planar, int bytesPerSample,
                         std::span<std::uint8_t> interleaved) {
    if (bytesPerSample != 1 && bytesPerSample != 2)
        RaiseError("Planar colour frames of " + std::to_string(8 * bytesPerSample) +
                   "-bit samples are not supported");
    const std::size_t pixelBytes = 3 * std::size_t(bytesPerSample);
    if (planar.size() != interleaved.size() || planar.size() % pixelBytes != 0)
        RaiseError("Planar colour frame of " + std::to_string(planar.size()) + " bytes does not fit " +
                   std::to_string(interleaved.size()) + " bytes of " + std::to_string(8 * bytesPerSample) +
                   "-bit RGB pixels");
    const std::size_t pixels = planar.size() / pixelBytes;
    if (bytesPerSample == 1)
        Interleave<std::uint8_t>(planar.data(), pixels, interleaved.data());
    else
        Interleave<std::uint16_t>(planar.data(), pixels, interleaved.data());
}

void PlanarToInterleaved(std::span<std::uint8_t> frame, int bytesPerSample) {
    const std::vector<std::uint8_t> planar(frame.begin(), frame.end());
    PlanarToInterleaved(planar, bytesPerSample, frame);
}

} // namespace tarvicon
