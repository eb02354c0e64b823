#pragma once
// TPixelCube: the cuboid, one block of voxels built from a series of parallel images, X fastest,
// then Y, then Z. Besides the store it knows its spacing and world origin in micrometres,
// answers questions about view paths (three letters: across the picture, down it, and the
// slicing axis), computes the cumulative histogram for automatic levels and reads and writes the
// cuboid stream (".cub" files).

#include "util/Bytes.h"

#include <array>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>

namespace tarvicon {

// A voxel index (column, row, slice) or a world position in micrometres.
struct TCubePoint {
    std::int32_t X = 0;
    std::int32_t Y = 0;
    std::int32_t Z = 0;
    friend bool operator==(const TCubePoint&, const TCubePoint&) = default;
};

class TBitmap32;
class TSliceCache;
struct TSliceRequest;

using THistogram = std::array<std::uint32_t, 65536>;

// How the frames handed to LoadSlices hold their pixels (the file reader's kinds 1 to 3).
enum class TFrameKind : std::uint8_t {
    None = 0,  // nothing to load
    Bytes = 1, // one byte per pixel, for a cube of pixel size 1
    Words = 2, // 16-bit samples, copied as they are, for pixel size 2
    Rgb = 3,   // R, G, B byte triples, stored as B, G, R, 255 in pixel size 4
};

class TPixelCube {
public:
    TPixelCube() = default;
    TPixelCube(const TPixelCube& other);
    TPixelCube& operator=(const TPixelCube& other);
    TPixelCube(TPixelCube&&) noexcept = default;
    TPixelCube& operator=(TPixelCube&&) noexcept = default;

    std::uint32_t Width() const { return width_; }
    std::uint32_t Height() const { return height_; }
    std::uint32_t Depth() const { return depth_; }
    std::int32_t PixelSize() const { return pixelSize_; }
    // A new value frees the store first; the same value keeps it.
    void SetWidth(std::uint32_t width);
    void SetHeight(std::uint32_t height);
    void SetDepth(std::uint32_t depth);
    void SetPixelSize(std::int32_t pixelSize);
    // All three extents to 0.
    void Clear();

    const TCubePoint& Metrics() const { return metrics_; }
    // Each spacing of 0 or less becomes 1000 (1 mm).
    void SetMetrics(TCubePoint metrics);
    const TCubePoint& Origin() const { return origin_; }
    void SetOrigin(TCubePoint origin) { origin_ = origin; }

    // Width × Height × Depth × PixelSize (saturating; no cube that large can be held).
    std::uint64_t ByteSize() const;
    bool HasVoxels() const { return allocated_; }
    void FreeVoxels();
    // Allocates the zero-filled store when there is none; expected (0 = any) must then match
    // the pixel size ("Invalid pixel size"). An existing store is kept without a check.
    void EnsureVoxels(std::int32_t expected);
    // The store, or null when there is none (no allocation).
    std::uint8_t* Voxels() { return store_.data(); }
    const std::uint8_t* Voxels() const { return store_.data(); }

    // Addresses inside the store (allocated on demand); an index outside the cube is a range error.
    std::uint8_t* SlicePtr(std::int64_t z);
    std::uint8_t* RowPtr(std::int64_t y, std::int64_t z);
    std::uint8_t* VoxelPtr(std::int64_t x, std::int64_t y, std::int64_t z);
    std::uint16_t Voxel(std::int64_t x, std::int64_t y, std::int64_t z);

    // Copies count frames of the given kind into the cube from slice first on; None (or any
    // other value) and a null source do nothing. Frames that would not fit are a range error.
    void LoadSlices(TFrameKind kind, std::int64_t first, const std::uint8_t* source, std::int64_t count);
    // The same for a buffer handed over, which is empty afterwards: 8- and 16-bit frames take its
    // whole pages where it and the store allow (TByteBuffer::TakePages) instead of copying them.
    // A buffer shorter than its frames is a range error.
    void LoadSlices(TFrameKind kind, std::int64_t first, TByteBuffer&& source, std::int64_t count);

    // Per letter of a view path (R L B T F N, either case); any other raises "bad view path".
    std::int32_t ExtentAlong(char letter) const;
    std::int32_t StrideAlong(char letter) const; // in voxels, signed
    std::int32_t MetricAlong(char letter) const; // spacing in µm, 1000 when not positive
    std::int32_t CoordAlong(const TCubePoint& point, char letter) const;
    void SetCoordAlong(TCubePoint& point, char letter, std::int32_t value) const;
    // The same for letter `which` (0, 1, 2) of a whole path; the path must be three valid letters.
    static char PathLetter(std::string_view path, int which);
    std::int32_t ExtentAlong(std::string_view path, int which) const {
        return ExtentAlong(PathLetter(path, which));
    }
    std::int32_t CoordAlong(const TCubePoint& point, std::string_view path, int which) const {
        return CoordAlong(point, PathLetter(path, which));
    }
    void SetCoordAlong(TCubePoint& point, std::string_view path, int which, std::int32_t value) const {
        SetCoordAlong(point, PathLetter(path, which), value);
    }

    // world = index × metric + origin (µm); a result outside 32 bits is a range error.
    TCubePoint IndexToWorld(const TCubePoint& index) const;
    // index = (world − origin) / metric, rounded to the nearest (ties to even).
    TCubePoint WorldToIndex(const TCubePoint& world) const;
    // The origin seen along letters 1 and 2 of the path (R +X, L −X, T +Y, B −Y, F +Z, N −Z).
    std::pair<std::int32_t, std::int32_t> GetScreenOrigin(std::string_view path) const;
    void SetScreenOrigin(std::string_view path, std::int32_t first, std::int32_t second);

    // Cumulative histogram of the 16-bit voxels (all of them when radius ≤ 0, else the box of
    // that radius around x, y, z): entry i = n + the number of visited voxels ≤ i, n the number
    // visited. All zeros for other pixel sizes.
    void Histogram(THistogram& counts, std::int32_t radius, std::int32_t x, std::int32_t y, std::int32_t z);

    // "W x H x D = 12.5 MB": megabytes with one decimal, "." as separator, halves away from zero.
    std::string Describe() const;

    // The cuboid stream: ten 32-bit little-endian header fields, the byte count, the voxels.
    // Loading replaces the whole cube or, when the stream is refused ("Stream read error",
    // "Cannot load pixelcube from stream", a negative metric), leaves it as it was.
    void SaveToStream(std::ostream& stream);
    void LoadFromStream(std::istream& stream);
    void SaveToFile(const std::string& path);
    void LoadFromFile(const std::string& path);

    // Cuts the requested picture into target (resized to the path's first two extents; true
    // when it was) through the request's colour table. A whole-cube projection like the last
    // one is served from the cache. "bad view path" reaches the caller; later errors only
    // leave the picture blank and the cache empty.
    bool RenderSlice(const TSliceRequest& request, TBitmap32& target, TSliceCache& cache);

private:
    void SetExtent(std::uint32_t& field, std::uint32_t value);
    std::uint64_t Offset(std::int64_t x, std::int64_t y, std::int64_t z) const;

    std::uint32_t height_ = 0;
    std::uint32_t width_ = 0;
    std::uint32_t depth_ = 0;
    std::int32_t pixelSize_ = 0;
    TCubePoint metrics_{1000, 1000, 1000};
    TCubePoint origin_{};
    TByteBuffer store_;
    bool allocated_ = false; // a store exists (possibly of 0 bytes)
};

} // namespace tarvicon
