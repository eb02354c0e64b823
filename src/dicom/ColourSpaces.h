#pragma once
// The colour conversions the reader applies to decoded or native frames of three 8-bit or 16-bit
// samples, so that every colour frame it keeps is RGB, interleaved (R, G, B per pixel).

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarvicon {

// Bytes of one native YBR_FULL_422 frame: each row in groups of two pixels (Y, Y, Cb, Cr), the
// last group of an odd row carrying one Y that no pixel uses. A frame whose pairs run on across
// rows is one row of columns × rows pixels.
std::size_t Ybr422FrameBytes(int columns, int rows);

// A native YBR_FULL_422 frame of Ybr422FrameBytes(columns, rows) into RGB, columns × rows × 3
// bytes; both pixels of a pair take the pair's Cb and Cr. Raises when a size differs.
void Ybr422ToRgb(std::span<const std::uint8_t> packed, int columns, int rows, std::span<std::uint8_t> rgb);

// 8-bit YBR_FULL pixels (Y, Cb, Cr) into RGB in place, rounded and clamped; every whole pixel of
// the span is converted.
void YbrFullToRgb(std::span<std::uint8_t> pixels);

// A frame stored as planes (all R, then all G, then all B) into interleaved pixels, samples of
// bytesPerSample (1 or 2) bytes copied as they are. Raises when the sizes differ or are no whole
// number of pixels.
void PlanarToInterleaved(std::span<const std::uint8_t> planar, int bytesPerSample,
                         std::span<std::uint8_t> interleaved);

// The same in place.
void PlanarToInterleaved(std::span<std::uint8_t> frame, int bytesPerSample);

} // namespace tarvicon
