#pragma once
// The colour types that the colour mapping, the slice renderer and the objects owning a table
// share: one 32-bit colour, the table of one colour per unsigned 16-bit value, and the
// read-only view of such a table that a picture is mapped through.

#include <array>
#include <cstdint>
#include <span>

namespace tarvicon {

// 0xAARRGGBB: alpha 24..31, red 16..23, green 8..15, blue 0..7.
using TColor = std::uint32_t;

// One colour per unsigned 16-bit value.
using TColorTable = std::array<TColor, 65536>;

// The colour look-up table a picture is mapped through: a read-only view of a whole table.
using TLookupTable = std::span<const TColor, 65536>;

} // namespace tarvicon
