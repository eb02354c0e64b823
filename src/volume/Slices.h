#pragma once
// Slice extraction: TSlice precomputes the byte steps of every picture row and column for one
// render (the oblique turn, the clipping against the cube, the slab rays), so that cutting a
// picture is pointer arithmetic. TSliceCache keeps the raw 16-bit results of the last
// whole-cube projection, so that a new colour table only re-maps them.

#include "volume/PixelCube.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarvicon {

class TSliceCache {
public:
    // Empties the cache: no values, all keys 0.
    void Clear();
    // Clear, then room for n values.
    void Allocate(std::size_t n);
    // target pixel i = table[value i] for i below n.
    void Apply(TLookupTable table, std::uint32_t* target, std::size_t n) const;

    std::size_t Count() const { return values_.size(); }
    std::uint16_t* Values() { return values_.data(); }
    const std::uint16_t* Values() const { return values_.data(); }

    // The keys of the cached picture.
    const TPixelCube* Cube = nullptr;
    std::string Path;
    std::int32_t ThicknessKey = 0;
    std::int32_t AngleKey = 0;

private:
    std::vector<std::uint16_t> values_;
};

} // namespace tarvicon
