#include "volume/PixelCube.h"

#include "util/Errors.h"
#include "util/NumberTexts.h"
#include "util/PendingFiles.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <limits>
#include <ostream>

namespace tarvicon {

namespace {

std::uint64_t SaturatingProduct(std::initializer_list<std::uint64_t> factors) {
    std::uint64_t product = 1;
    for (const std::uint64_t f : factors) {
        if (f != 0 && product > std::numeric_limits<std::uint64_t>::max() / f)
            return std::numeric_limits<std::uint64_t>::max();
        product *= f;
    }
    return product;
}

char Upper(char letter) {
    return (letter >= 'a' && letter <= 'z') ? char(letter - 'a' + 'A') : letter;
}

[[noreturn]] void BadViewPath() {
    RaiseError("bad view path");
}

void WriteInt(std::ostream& stream, std::int64_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    const char bytes[4] = {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
    stream.write(bytes, 4);
}

std::uint32_t ReadWord(std::istream& stream) {
    unsigned char bytes[4];
    if (!stream.read(reinterpret_cast<char*>(bytes), 4)) RaiseError("Stream read error");
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
           std::uint32_t(bytes[3]) << 24;
}

std::int32_t ReadInt(std::istream& stream) {
    return static_cast<std::int32_t>(ReadWord(stream));
}

} // namespace

TPixelCube::TPixelCube(const TPixelCube& other)
    : height_(other.height_), width_(other.width_), depth_(other.depth_), pixelSize_(other.pixelSize_),
      metrics_(other.metrics_), origin_(other.origin_), allocated_(other.allocated_) {
    if (!other.store_.empty()) {
        store_ = TByteBuffer(other.store_.size());
        std::memcpy(store_.data(), other.store_.data(), other.store_.size());
    }
}

TPixelCube& TPixelCube::operator=(const TPixelCube& other) {
    if (this != &other) *this = TPixelCube(other);
    return *this;
}

void TPixelCube::SetExtent(std::uint32_t& field, std::uint32_t value) {
    if (field == value) return;
    FreeVoxels();
    field = value;
}

void TPixelCube::SetWidth(std::uint32_t width) {
    SetExtent(width_, width);
}
void TPixelCube::SetHeight(std::uint32_t height) {
    SetExtent(height_, height);
}
void TPixelCube::SetDepth(std::uint32_t depth) {
    SetExtent(depth_, depth);
}

void TPixelCube::SetPixelSize(std::int32_t pixelSize) {
    if (pixelSize_ == pixelSize) return;
    FreeVoxels();
    pixelSize_ = pixelSize;
}

void TPixelCube::Clear() {
    SetWidth(0);
    SetHeight(0);
    SetDepth(0);
}

void TPixelCube::SetMetrics(TCubePoint metrics) {
    metrics_.X = metrics.X > 0 ? metrics.X : 1000;
    metrics_.Y = metrics.Y > 0 ? metrics.Y : 1000;
    metrics_.Z = metrics.Z > 0 ? metrics.Z : 1000;
}

std::uint64_t TPixelCube::ByteSize() const {
    if (pixelSize_ <= 0) return 0;
    return SaturatingProduct({width_, height_, depth_, std::uint64_t(pixelSize_)});
}

void TPixelCube::FreeVoxels() {
    store_ = TByteBuffer();
    allocated_ = false;
}

void TPixelCube::EnsureVoxels(std::int32_t expected) {
    if (allocated_) return;
    if (expected != 0 && expected != pixelSize_) RaiseError("Invalid pixel size");
    const std::uint64_t size = ByteSize();
    if (size > std::numeric_limits<std::size_t>::max() / 2) throw std::bad_alloc();
    store_ = TByteBuffer(static_cast<std::size_t>(size));
    allocated_ = true;
}

std::uint64_t TPixelCube::Offset(std::int64_t x, std::int64_t y, std::int64_t z) const {
    if (x < 0 || y < 0 || z < 0 || x >= std::int64_t(width_) || y >= std::int64_t(height_) ||
        z >= std::int64_t(depth_))
        RaiseRangeError();
    return ((std::uint64_t(z) * height_ + std::uint64_t(y)) * width_ + std::uint64_t(x)) *
           std::uint64_t(std::max(pixelSize_, 0));
}

std::uint8_t* TPixelCube::SlicePtr(std::int64_t z) {
    EnsureVoxels(0);
    return store_.data() + Offset(0, 0, z);
}

std::uint8_t* TPixelCube::RowPtr(std::int64_t y, std::int64_t z) {
    EnsureVoxels(0);
    return store_.data() + Offset(0, y, z);
}

std::uint8_t* TPixelCube::VoxelPtr(std::int64_t x, std::int64_t y, std::int64_t z) {
    EnsureVoxels(pixelSize_);
    return store_.data() + Offset(x, y, z);
}

std::uint16_t TPixelCube::Voxel(std::int64_t x, std::int64_t y, std::int64_t z) {
    EnsureVoxels(2);
    if (pixelSize_ < 2) RaiseError("Invalid pixel size");
    const std::uint8_t* p = store_.data() + Offset(x, y, z);
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

void TPixelCube::LoadSlices(TFrameKind kind, std::int64_t first, const std::uint8_t* source,
                            std::int64_t count) {
    if (!source) return;
    std::int32_t voxelSize = 0;
    switch (kind) {
    case TFrameKind::Bytes:
        voxelSize = 1;
        break;
    case TFrameKind::Words:
        voxelSize = 2;
        break;
    case TFrameKind::Rgb:
        voxelSize = 4;
        break;
    default:
        return;
    }
    EnsureVoxels(voxelSize);
    if (first < 0 || count < 0 || first + count > std::int64_t(depth_)) RaiseRangeError();
    if (count == 0) return;
    const std::uint64_t pixels = std::uint64_t(width_) * height_ * std::uint64_t(count);
    std::uint8_t* target = SlicePtr(first);
    if (kind == TFrameKind::Rgb) {
        for (std::uint64_t i = 0; i < pixels; ++i, source += 3, target += 4) {
            target[0] = source[2];
            target[1] = source[1];
            target[2] = source[0];
            target[3] = 255;
        }
    } else {
        std::memcpy(target, source, pixels * std::uint64_t(voxelSize));
    }
}

void TPixelCube::LoadSlices(TFrameKind kind, std::int64_t first, TByteBuffer&& source, std::int64_t count) {
    TByteBuffer frames = std::move(source);
    if (kind != TFrameKind::Bytes && kind != TFrameKind::Words) {
        LoadSlices(kind, first, frames.data(), count);
        return;
    }
    const std::int32_t voxelSize = kind == TFrameKind::Bytes ? 1 : 2;
    EnsureVoxels(voxelSize);
    if (first < 0 || count < 0 || first + count > std::int64_t(depth_)) RaiseRangeError();
    const std::uint64_t bytes =
        std::uint64_t(width_) * height_ * std::uint64_t(count) * std::uint64_t(voxelSize);
    if (bytes > frames.size()) RaiseRangeError();
    if (bytes == 0) return;
    store_.TakePages(static_cast<std::size_t>(SlicePtr(first) - store_.data()), std::move(frames),
                     static_cast<std::size_t>(bytes));
}

std::int32_t TPixelCube::ExtentAlong(char letter) const {
    switch (Upper(letter)) {
    case 'R':
    case 'L':
        return std::int32_t(width_);
    case 'B':
    case 'T':
        return std::int32_t(height_);
    case 'F':
    case 'N':
        return std::int32_t(depth_);
    }
    BadViewPath();
}

std::int32_t TPixelCube::StrideAlong(char letter) const {
    const auto plane = CheckedRange<std::int32_t>(std::int64_t(width_) * height_);
    switch (Upper(letter)) {
    case 'R':
        return 1;
    case 'L':
        return -1;
    case 'B':
        return std::int32_t(width_);
    case 'T':
        return -std::int32_t(width_);
    case 'F':
        return plane;
    case 'N':
        return -plane;
    }
    BadViewPath();
}

std::int32_t TPixelCube::MetricAlong(char letter) const {
    std::int32_t metric = 0;
    switch (Upper(letter)) {
    case 'R':
    case 'L':
        metric = metrics_.X;
        break;
    case 'B':
    case 'T':
        metric = metrics_.Y;
        break;
    case 'F':
    case 'N':
        metric = metrics_.Z;
        break;
    default:
        BadViewPath();
    }
    return metric > 0 ? metric : 1000;
}

std::int32_t TPixelCube::CoordAlong(const TCubePoint& p, char letter) const {
    switch (Upper(letter)) {
    case 'R':
        return p.X;
    case 'L':
        return std::int32_t(width_) - 1 - p.X;
    case 'B':
        return p.Y;
    case 'T':
        return std::int32_t(height_) - 1 - p.Y;
    case 'F':
        return p.Z;
    case 'N':
        return std::int32_t(depth_) - 1 - p.Z;
    }
    BadViewPath();
}

void TPixelCube::SetCoordAlong(TCubePoint& p, char letter, std::int32_t v) const {
    switch (Upper(letter)) {
    case 'R':
        p.X = v;
        return;
    case 'L':
        p.X = std::int32_t(width_) - v - 1;
        return;
    case 'B':
        p.Y = v;
        return;
    case 'T':
        p.Y = std::int32_t(height_) - v - 1;
        return;
    case 'F':
        p.Z = v;
        return;
    case 'N':
        p.Z = std::int32_t(depth_) - v - 1;
        return;
    }
    BadViewPath();
}

char TPixelCube::PathLetter(std::string_view path, int which) {
    if (path.size() < 3 || which < 0 || which > 2) BadViewPath();
    for (int i = 0; i < 3; ++i)
        if (std::string_view("RLBTFN").find(Upper(path[std::size_t(i)])) == std::string_view::npos)
            BadViewPath();
    return Upper(path[std::size_t(which)]);
}

TCubePoint TPixelCube::IndexToWorld(const TCubePoint& index) const {
    const auto axis = [](std::int32_t i, std::int32_t metric, std::int32_t origin) {
        return CheckedRange<std::int32_t>(std::int64_t(i) * metric + origin);
    };
    return {axis(index.X, metrics_.X, origin_.X), axis(index.Y, metrics_.Y, origin_.Y),
            axis(index.Z, metrics_.Z, origin_.Z)};
}

TCubePoint TPixelCube::WorldToIndex(const TCubePoint& world) const {
    const auto axis = [](std::int32_t w, std::int32_t metric, std::int32_t origin) {
        // A spacing that was never set counts as 1 mm, as everywhere else in the cube.
        const double index = std::nearbyint((double(w) - origin) / (metric > 0 ? metric : 1000));
        return CheckedRange<std::int32_t>(index);
    };
    return {axis(world.X, metrics_.X, origin_.X), axis(world.Y, metrics_.Y, origin_.Y),
            axis(world.Z, metrics_.Z, origin_.Z)};
}

std::pair<std::int32_t, std::int32_t> TPixelCube::GetScreenOrigin(std::string_view path) const {
    const auto along = [this](char letter) -> std::int32_t {
        switch (letter) {
        case 'R':
            return origin_.X;
        case 'L':
            return -origin_.X;
        case 'T':
            return origin_.Y;
        case 'B':
            return -origin_.Y;
        case 'F':
            return origin_.Z;
        default: // N
            return -origin_.Z;
        }
    };
    return {along(PathLetter(path, 0)), along(PathLetter(path, 1))};
}

void TPixelCube::SetScreenOrigin(std::string_view path, std::int32_t first, std::int32_t second) {
    const auto set = [this](char letter, std::int32_t v) {
        switch (letter) {
        case 'R':
            origin_.X = v;
            break;
        case 'L':
            origin_.X = -v;
            break;
        case 'T':
            origin_.Y = v;
            break;
        case 'B':
            origin_.Y = -v;
            break;
        case 'F':
            origin_.Z = v;
            break;
        default: // N
            origin_.Z = -v;
            break;
        }
    };
    const char a = PathLetter(path, 0), b = PathLetter(path, 1);
    set(a, first);
    set(b, second);
}

void TPixelCube::Histogram(THistogram& counts, std::int32_t radius, std::int32_t x, std::int32_t y,
                           std::int32_t z) {
    EnsureVoxels(0);
    counts.fill(0);
    if (pixelSize_ != 2) return;
    std::uint32_t n = 0;
    const std::uint8_t* store = store_.data();
    if (radius <= 0) {
        const std::uint64_t count = ByteSize() / 2;
        for (std::uint64_t i = 0; i < count; ++i) ++counts[std::size_t(store[2 * i] | store[2 * i + 1] << 8)];
        n = static_cast<std::uint32_t>(count);
    } else {
        const auto range = [radius](std::int64_t c, std::uint32_t extent) {
            return std::pair<std::int64_t, std::int64_t>{
                std::max<std::int64_t>(0, c - radius),
                std::min<std::int64_t>(std::int64_t(extent) - 1, c + radius)};
        };
        const auto [x0, x1] = range(x, width_);
        const auto [y0, y1] = range(y, height_);
        const auto [z0, z1] = range(z, depth_);
        for (std::int64_t k = z0; k <= z1; ++k)
            for (std::int64_t j = y0; j <= y1; ++j) {
                const std::uint8_t* row = store + Offset(0, j, k);
                for (std::int64_t i = x0; i <= x1; ++i) {
                    ++counts[std::size_t(row[2 * i] | row[2 * i + 1] << 8)];
                    ++n;
                }
            }
    }
    std::uint32_t sum = n;
    for (std::uint32_t& entry : counts) {
        sum += entry;
        entry = sum;
    }
}

std::string TPixelCube::Describe() const {
    return std::to_string(width_) + " x " + std::to_string(height_) + " x " + std::to_string(depth_) + " = " +
           FormatFixed(double(ByteSize()) / 1024 / 1024, 1) + " MB";
}

void TPixelCube::SaveToStream(std::ostream& stream) {
    EnsureVoxels(0);
    for (const std::int64_t field :
         {std::int64_t(width_), std::int64_t(height_), std::int64_t(depth_), std::int64_t(pixelSize_),
          std::int64_t(metrics_.X), std::int64_t(metrics_.Y), std::int64_t(metrics_.Z),
          std::int64_t(origin_.X), std::int64_t(origin_.Y), std::int64_t(origin_.Z),
          std::int64_t(ByteSize() & 0xFFFFFFFFu)})
        WriteInt(stream, field);
    stream.write(reinterpret_cast<const char*>(store_.data()), std::streamsize(store_.size()));
    if (!stream) RaiseError("Stream write error");
}

void TPixelCube::LoadFromStream(std::istream& stream) {
    // Everything is read and checked before the cube changes: a refused stream leaves the cube
    // as it was, voxels included.
    TPixelCube loaded;
    loaded.width_ = ReadWord(stream);
    loaded.height_ = ReadWord(stream);
    loaded.depth_ = ReadWord(stream);
    loaded.pixelSize_ = ReadInt(stream);
    for (std::int32_t* m : {&loaded.metrics_.X, &loaded.metrics_.Y, &loaded.metrics_.Z}) {
        *m = ReadInt(stream);
        if (*m < 0) RaiseRangeError();
    }
    loaded.origin_.X = ReadInt(stream);
    loaded.origin_.Y = ReadInt(stream);
    loaded.origin_.Z = ReadInt(stream);
    const std::uint32_t count = ReadWord(stream);
    // Only whole 1-, 2- or 4-byte voxel stores are cubes; the byte count must match the
    // header, and all of it must be there (a short stream would leave a garbage volume).
    const int size = loaded.pixelSize_;
    if ((size != 1 && size != 2 && size != 4) || count != loaded.ByteSize())
        RaiseError("Cannot load pixelcube from stream");
    loaded.store_ = TByteBuffer(count);
    if (count != 0 && !stream.read(reinterpret_cast<char*>(loaded.store_.data()), std::streamsize(count)))
        RaiseError("Cannot load pixelcube from stream");
    loaded.allocated_ = true;
    *this = std::move(loaded);
}

void TPixelCube::SaveToFile(const std::string& path) {
    const auto write = [&](const std::string& name) {
        std::ofstream file(name, std::ios::binary | std::ios::trunc);
        if (!file) RaiseError("Cannot create file \"" + path + "\". " + std::strerror(errno));
        SaveToStream(file);
        file.close();
        if (!file) RaiseError("Cannot write file \"" + path + "\". " + std::strerror(errno));
    };
    // A device or a pipe is written in place: a rename would replace it.
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!error && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
        return write(path);
    // Otherwise whole or not at all: a cut cuboid file would be refused on loading anyway.
    TPendingFile pending(path);
    write(pending.TemporaryPath());
    pending.Commit();
}

void TPixelCube::LoadFromFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) RaiseError("Cannot open file \"" + path + "\". " + std::strerror(errno));
    LoadFromStream(file);
}

} // namespace tarvicon
