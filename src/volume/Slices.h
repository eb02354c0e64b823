#pragma once
// Slice extraction: TSlice precomputes the byte steps of every picture row and column for one
// render (the oblique turn, the clipping against the cube, the slab rays), so that cutting a
// picture is pointer arithmetic. TSliceCache keeps the raw 16-bit results of the last
// whole-cube projection, so that a new colour table only re-maps them.

#include "util/Colors.h"
#include "volume/PixelCube.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tarvicon {

// How the samples along a pixel's ray become its value.
enum class TRenderMode : std::uint8_t {
    Average = 0, // the average mode: the thick slab mean
    Maximum = 1, // the maximum mode: the maximum intensity projection
};

// One picture to cut from a cube: where, seen along which view path, and how each pixel's ray
// through the slab is reduced and coloured. The table has no default: every request names one.
struct TSliceRequest {
    TCubePoint Position{};                   // voxel indices; letters 1 and 3 give the pivot column and slice
    std::string Path;                        // three letters: across the picture, down it, the slicing axis
    TRenderMode Mode = TRenderMode::Average; // how a ray becomes one value
    TLookupTable Table;                      // colours of the raw 16-bit results
    std::int32_t Thickness = 1;              // samples in the slab; 0: rays through the whole cube
    std::int32_t Angle = 0;                  // oblique turn in degrees about the axis of letter 2
    std::int32_t DepthWeight = 0;            // maximum mode: added per ray step of the winning sample
    std::uint16_t Threshold = 0;             // average mode: ray samples below it stay out of the mean
};

class TSliceCache {
public:
    // Empties the cache: no values, all keys 0.
    void Clear();
    // Clear, then room for n values (not yet written).
    void Allocate(std::size_t n);
    // target pixel i = table[value i] for i below n (at most Count()).
    void Apply(TLookupTable table, std::uint32_t* target, std::size_t n) const;

    std::size_t Count() const { return count_; }
    std::uint16_t* Values() { return values_.get(); }
    const std::uint16_t* Values() const { return values_.get(); }

    // The keys of the cached picture.
    const TPixelCube* Cube = nullptr;
    std::string Path;
    std::int32_t ThicknessKey = 0;
    std::int32_t AngleKey = 0;

private:
    std::unique_ptr<std::uint16_t[]> values_;
    std::size_t count_ = 0;
};

// One picture column: where its centre sample lies relative to the row address, and how many
// of the slice's shared ray steps it may take on either side before the ray leaves the cube.
struct TAddressColumn {
    std::int64_t Start = 0; // bytes; kOutsideColumn when the column misses the cube
    std::int32_t NearCount = 0;
    std::int32_t FarCount = 0;
};

inline constexpr std::int64_t kOutsideColumn = 0x7FFFFFFF;

// Cuts one picture from a cube. All offsets are 64-bit bytes relative to the start of the
// cube's store, so no extent or spacing can wrap them.
class TSlice {
public:
    void SetCube(TPixelCube* cube) { cube_ = cube; }
    void SetPath(std::string path) { path_ = std::move(path); }
    void SetPosition(const TCubePoint& position) { position_ = position; }

    // Both tables to length 0.
    void ClearTables();
    // The row and column tables and the ray steps for a slab of this thickness (0: the whole
    // cube) turned by angle degrees about the axis of letter 2. Raises "bad view path".
    void BuildTables(std::int32_t thickness, std::int32_t angle);
    // Renders the request's picture (its path and position replace those set before) into
    // target, one 32-bit pixel per picture pixel; targetSize is the size the caller claims in
    // bytes, PixelSize × width × height. 16-bit results go through the cache. Errors after the
    // cache test are dropped: the cache stays empty.
    void Extract(std::span<std::uint32_t> target, std::int64_t targetSize, const TSliceRequest& request,
                 TSliceCache& cache);

    // The tables of the last BuildTables.
    std::int64_t SliceBase() const { return sliceBase_; }
    const std::vector<std::int64_t>& Rows() const { return rows_; }
    const std::vector<TAddressColumn>& Columns() const { return columns_; }
    // Column j's ray steps (bytes from its centre sample), nearest first. Every column walks
    // the same steps; only where its ray leaves the cube differs.
    std::span<const std::int64_t> FarSteps(std::size_t column) const {
        return {farSteps_.data(), std::size_t(columns_[column].FarCount)};
    }
    std::span<const std::int64_t> NearSteps(std::size_t column) const {
        return {nearSteps_.data(), std::size_t(columns_[column].NearCount)};
    }

private:
    struct TStep {
        std::int64_t Across = 0; // du, along letter 1
        std::int64_t Depth = 0;  // dv, along letter 3
    };
    void Walk16(std::uint16_t* values, TRenderMode mode, std::int32_t depthWeight, std::uint16_t threshold,
                TLookupTable table, std::uint32_t* target) const;
    void Walk32(std::uint32_t* target) const;

    TPixelCube* cube_ = nullptr;
    std::string path_;
    TCubePoint position_{};

    std::int64_t sliceBase_ = 0;
    std::vector<std::int64_t> rows_;
    std::vector<TAddressColumn> columns_;
    std::vector<std::int64_t> farSteps_;
    std::vector<std::int64_t> nearSteps_;
    std::vector<TStep> farGeometry_;
    std::vector<TStep> nearGeometry_;
    // The geometry of the last BuildTables.
    std::int64_t e1_ = 0, e2_ = 0, e3_ = 0;
    std::int64_t s1_ = 0, s2_ = 0, s3_ = 0;
    std::int64_t sine_ = 0, cosine_ = 0;
    bool distinctAxes_ = false;
};

} // namespace tarvicon
