#include "catalogue/DicomObjects.h"

#include "config/XmlDocs.h"
#include "dicom/Dicoms.h"
#include "util/Errors.h"
#include "util/Host.h"
#include "util/NumberTexts.h"
#include "util/Progress.h"
#include "util/Utilities.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <limits>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace tarvicon {

namespace {

// Program-wide: every new object takes the next number, the first gets 1.
std::int32_t serialCounter = 1;

const std::vector<std::string> kNoElements;

constexpr std::int32_t kSingleSliceSpacing = 10000;

// The n-th backslash-separated value of a text, as micrometres.
std::int32_t MicrometresOfPart(const std::string& text, int n) {
    std::size_t begin = 0;
    for (int part = 0; part < n; ++part) {
        begin = text.find('\\', begin);
        if (begin == std::string::npos) return 0;
        ++begin;
    }
    const std::size_t end = text.find('\\', begin);
    return MillimetresToMicrometres(
        std::string_view(text).substr(begin, end == std::string::npos ? std::string::npos : end - begin));
}

// |p0 − p1| ÷ steps, rounded to the nearest, halves to even.
std::int32_t MeanDistance(std::int32_t p0, std::int32_t p1, std::int64_t steps) {
    const std::int64_t distance = p0 > p1 ? std::int64_t(p0) - p1 : std::int64_t(p1) - p0;
    std::int64_t quotient = distance / steps;
    const std::int64_t twice = 2 * (distance % steps);
    if (twice > steps || (twice == steps && quotient % 2 != 0)) ++quotient;
    return CheckedRange<std::int32_t>(quotient);
}

// Load kind of LoadSlices and voxel size for a pixel format; kind 0 for none.
struct TLoadKind {
    int Kind = 0;
    std::int32_t VoxelSize = 0;
    std::uint64_t SourceBytes = 0; // per pixel in the file's buffer
};

TLoadKind KindOf(TPixelFormat format) {
    switch (format) {
    case TPixelFormat::pf8bit:
        return {1, 1, 1};
    case TPixelFormat::pf16bit:
        return {2, 2, 2};
    case TPixelFormat::pf24bit:
        return {3, 4, 3};
    case TPixelFormat::pf32bit:
        break;
    }
    return {};
}

// Moves the file's frames into the cube from slice first on; the file's pixels are freed
// either way. A buffer too short for its frames (a read that failed) gives nothing rather than
// reading past its end.
void LoadFrames(TPixelCube& cube, const TLoadKind& kind, std::int64_t first, TDicomFile& file) {
    const std::uint64_t needed =
        kind.SourceBytes * file.Width() * std::uint64_t(file.Height()) * file.FrameCount();
    TByteBuffer pixels = file.TakePixelData();
    if (kind.Kind == 0 || pixels.size() < needed) return;
    cube.LoadSlices(TFrameKind(kind.Kind), first, std::move(pixels), file.FrameCount());
}

// Whole-value match of a regular expression, byte-wise and case-sensitive.
bool WholeMatch(const std::string& pattern, const std::string& value) {
    const std::string anchored = "^" + pattern + "$";
    int code = 0;
    PCRE2_SIZE offset = 0;
    const std::unique_ptr<pcre2_code, decltype(&pcre2_code_free)> compiled(
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(anchored.data()), anchored.size(), 0, &code, &offset,
                      nullptr),
        &pcre2_code_free);
    if (!compiled) {
        PCRE2_UCHAR reason[256];
        pcre2_get_error_message(code, reason, sizeof reason);
        RaiseError("Invalid regular expression \"" + pattern + "\": " + reinterpret_cast<char*>(reason));
    }
    const std::unique_ptr<pcre2_match_data, decltype(&pcre2_match_data_free)> data(
        pcre2_match_data_create_from_pattern(compiled.get(), nullptr), &pcre2_match_data_free);
    if (!data) throw std::bad_alloc();
    const int result = pcre2_match(compiled.get(), reinterpret_cast<PCRE2_SPTR>(value.data()), value.size(),
                                   0, 0, data.get(), nullptr);
    return result >= 0;
}

std::int32_t Clamped(std::int32_t value, std::uint32_t extent) {
    return std::clamp<std::int64_t>(value, 0, std::int64_t(extent) - 1);
}

} // namespace

// ---- TDicomObject ---------------------------------------------------------------------------

TDicomObject::TDicomObject() : serialNumber_(serialCounter++) {}

TDicomObject::~TDicomObject() {
    if (originalFile_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove(originalFile_, ignored);
}

TColorTable& TDicomObject::ColorTable() {
    if (!colorTable_) colorTable_ = std::make_unique<TColorTable>();
    return *colorTable_;
}

const TColorTable& TDicomObject::ColorTable() const {
    static const TColorTable kBlank{};
    return colorTable_ ? *colorTable_ : kBlank;
}

std::string TDicomObject::GetValue(std::string_view) const {
    return {};
}

std::string TDicomObject::LossyMark() const {
    for (int i = 0; i < ImageCount(); ++i)
        if (std::string mark = LossyMarkText(LossyCompressionOf(ImageElements(i))); !mark.empty())
            return mark;
    return {};
}

void TDicomObject::ComputeGeometry() {
    position_ = {std::int32_t(cube_.Width() / 2), std::int32_t(cube_.Height() / 2),
                 std::int32_t(cube_.Depth() / 2)};
    const std::vector<std::string>& elements = ImageElements(0);

    std::string pixelSize = LookupValue(elements, "Pixel Size");
    if (pixelSize.empty()) pixelSize = LookupValue(elements, "0018.1164");
    std::int32_t x = MicrometresOfPart(pixelSize, 0);
    std::int32_t y = MicrometresOfPart(pixelSize, 1);

    std::int32_t z = 0;
    const std::string between = LookupValue(elements, "Spacing Between Slices");
    if (!between.empty()) {
        z = MicrometresOfPart(between, 0);
    } else {
        const int n = ImageCount();
        if (n == 0) {
            z = 1000;
        } else {
            const std::int32_t p0 = ImageSlicePosition(0);
            const std::int32_t p1 = ImageSlicePosition(n - 1);
            z = (p0 == -1 || p1 == -1 || n == 1) ? kSingleSliceSpacing : MeanDistance(p0, p1, n - 1);
            if (x == 0 && y == 0) {
                x = cube_.Metrics().X;
                y = cube_.Metrics().Y;
            }
        }
    }
    if (x == 0 && y == 0) x = y = 1000;
    if (z == 0) z = static_cast<std::int32_t>((std::int64_t(x) + y) / 2);

    if (onGetTradeOff_) {
        const pugi::xml_node metrics = onGetTradeOff_(*this).child("metrics");
        if (metrics) {
            for (auto [name, value] : {std::pair{"x", &x}, std::pair{"y", &y}, std::pair{"z", &z}}) {
                const auto replacement = static_cast<std::int32_t>(XmlInteger(metrics, name, 0));
                if (replacement != 0) *value = replacement;
            }
        }
    }

    cube_.SetMetrics({x, y, z});
    // The spacing the cube really uses, so that world (0, 0, 0) is the centre voxel even where a
    // value of 0 or less became 1 mm.
    const TCubePoint& m = cube_.Metrics();
    cube_.SetOrigin({CheckedRange<std::int32_t>(-std::int64_t(position_.X) * m.X),
                     CheckedRange<std::int32_t>(-std::int64_t(position_.Y) * m.Y),
                     CheckedRange<std::int32_t>(-std::int64_t(position_.Z) * m.Z)});
}

void TDicomObject::SetPosition(const TCubePoint& index) {
    if (cube_.Width() == 0 || cube_.Height() == 0 || cube_.Depth() == 0) {
        position_ = {};
        return;
    }
    position_ = {Clamped(index.X, cube_.Width()), Clamped(index.Y, cube_.Height()),
                 Clamped(index.Z, cube_.Depth())};
}

TCubePoint TDicomObject::GetWorldPosition() const {
    return cube_.IndexToWorld(position_);
}

void TDicomObject::SetWorldPosition(const TCubePoint& world) {
    SetPosition(cube_.WorldToIndex(world));
}

std::pair<std::int32_t, std::int32_t> TDicomObject::ViewSpacing(std::string_view path) const {
    return {cube_.MetricAlong(TPixelCube::PathLetter(path, 0)),
            cube_.MetricAlong(TPixelCube::PathLetter(path, 1))};
}

bool TDicomObject::Matches(const std::string& filter) const {
    const std::size_t equals = filter.find('=');
    if (equals == std::string::npos) return WholeMatch(filter, description_);
    return WholeMatch(filter.substr(equals + 1), GetValue(std::string_view(filter).substr(0, equals)));
}

bool TDicomObject::ConfirmMemory(const std::string& message) const {
    const std::uint64_t size = cube_.ByteSize();
    if (size <= kAskAboveBytes) return true;
    std::string question = message;
    const std::size_t percent = question.find('%');
    if (percent != std::string::npos) question.replace(percent, 1, std::to_string(size / 1048576));
    return Host().AskYesNo(question + " Continue?");
}

void TDicomObject::ReplaceCube(TPixelCube cube) {
    // The new cube may sample the body otherwise (an upscale, a revert after one): the position
    // stays at the same place in the body, not at the same voxel numbers.
    const TCubePoint world = GetWorldPosition();
    cube_ = std::move(cube);
    SetWorldPosition(world);
}

bool TDicomObject::Upscale(const char* message, TPixelCube (*operation)(const TPixelCube&)) {
    if (!ConfirmMemory(message)) return false;
    SaveOriginal();
    ReplaceCube(operation(cube_));
    return true;
}

bool TDicomObject::UpscaleX() {
    return Upscale(kUpscaleXMessage, &UpscaleCubeX);
}

bool TDicomObject::UpscaleY() {
    return Upscale(kUpscaleYMessage, &UpscaleCubeY);
}

bool TDicomObject::UpscaleZ() {
    return Upscale(kUpscaleZMessage, &UpscaleCubeZ);
}

void TDicomObject::UpscaleAuto() {
    SaveOriginal();
    for (;;) {
        const std::uint64_t before = cube_.ByteSize();
        const TCubePoint m = cube_.Metrics();
        bool changed = false;
        if (m.X < m.Z && m.Y < m.Z)
            changed = UpscaleZ();
        else if (m.Z < m.X && m.Y < m.X)
            changed = UpscaleX();
        else
            changed = UpscaleY();
        // A step that cannot grow the cube (an axis of one voxel everywhere) would repeat forever.
        if (!changed || cube_.ByteSize() <= before || cube_.ByteSize() > kAskAboveBytes) return;
    }
}

void TDicomObject::Rotate(const std::string& axis, double angle) {
    SaveOriginal();
    const TProgressRun run("Rotating cuboid " + FormatFixed(angle, 1) + "\xC2\xB0 along " + axis);
    ReplaceCube(RotateCube(cube_, axis, angle));
}

void TDicomObject::ApplyFilter(int number, TFilterKernel kernel) {
    SaveOriginal();
    ReplaceCube(FilterCube(cube_, number, kernel));
}

void TDicomObject::SaveOriginal() {
    if (!originalFile_.empty()) return;
    const std::string path = TempFileName("Tarvicon", ".cubetmp");
    try {
        cube_.SaveToFile(path);
    } catch (...) {
        // A partial copy would later revert to a broken cube: keep none and try again next time.
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        throw;
    }
    originalFile_ = path;
}

void TDicomObject::Revert() {
    if (originalFile_.empty()) return;
    TPixelCube original;
    original.LoadFromFile(originalFile_);
    ReplaceCube(std::move(original));
}

// ---- TDicomSingleImage ----------------------------------------------------------------------

TDicomSingleImage::TDicomSingleImage() : file_(std::make_unique<TDicomFile>()) {}

int TDicomSingleImage::ImageHeight(int) const {
    return file_ ? file_->Height() : 0;
}

int TDicomSingleImage::ImageWidth(int) const {
    return file_ ? file_->Width() : 0;
}

const std::vector<std::string>& TDicomSingleImage::ImageElements(int) const {
    return file_ ? file_->Elements() : kNoElements;
}

TPixelFormat TDicomSingleImage::ImagePixelFormat(int) const {
    return file_ ? file_->PixelFormat() : TPixelFormat::pf32bit;
}

std::int32_t TDicomSingleImage::ImageSlicePosition(int) const {
    return file_ ? file_->SlicePosition() : 0;
}

std::string TDicomSingleImage::GetValue(std::string_view key) const {
    return file_ ? file_->Value(key) : std::string();
}

TDicomFile& TDicomSingleImage::FileForReading() {
    if (!file_) file_ = std::make_unique<TDicomFile>();
    readComplete_ = false;
    return *file_;
}

void TDicomSingleImage::LoadFromFile(const std::string& path) {
    FileForReading().LoadFromFile(path);
    readComplete_ = true;
}

void TDicomSingleImage::LoadFromString(std::string_view bytes) {
    FileForReading().LoadFromString(bytes);
    readComplete_ = true;
}

void TDicomSingleImage::LoadFromString(std::string&& bytes) {
    FileForReading().LoadFromString(std::move(bytes));
    readComplete_ = true;
}

void TDicomSingleImage::LoadFromString(std::string&& bytes, TReadContext& context) {
    FileForReading().LoadFromString(std::move(bytes), context);
    readComplete_ = true;
}

void TDicomSingleImage::LoadFromBytes(TByteBuffer&& bytes, TReadContext& context) {
    FileForReading().LoadFromBytes(std::move(bytes), context);
    readComplete_ = true;
}

void TDicomSingleImage::BuildCube() {
    if (!file_) return;
    TPixelCube& cube = Cube();
    cube.Clear();
    cube.SetWidth(file_->Width());
    cube.SetHeight(file_->Height());
    cube.SetDepth(file_->FrameCount());
    const TLoadKind kind = readComplete_ ? KindOf(file_->PixelFormat()) : TLoadKind{};
    if (kind.Kind == 0) {
        file_->FreePixelData();
        return;
    }
    cube.SetPixelSize(kind.VoxelSize);
    LoadFrames(cube, kind, 0, *file_);
    file_->FreePixelData();
    ComputeGeometry();
}

void TDicomSingleImage::FreePixelData() {
    if (file_) file_->FreePixelData();
}

// ---- TDicomArrayImage -----------------------------------------------------------------------

const TDicomFile& TDicomArrayImage::FileAt(int i) const {
    if (i < 0 || std::size_t(i) >= files_.size()) RaiseRangeError();
    return *files_[std::size_t(i)];
}

int TDicomArrayImage::ImageHeight(int i) const {
    return FileAt(i).Height();
}

int TDicomArrayImage::ImageWidth(int i) const {
    return FileAt(i).Width();
}

const std::vector<std::string>& TDicomArrayImage::ImageElements(int i) const {
    if (files_.empty()) return kNoElements;
    return FileAt(std::min(i, ImageCount() - 1)).Elements();
}

TPixelFormat TDicomArrayImage::ImagePixelFormat(int i) const {
    return FileAt(i).PixelFormat();
}

std::int32_t TDicomArrayImage::ImageSlicePosition(int i) const {
    return FileAt(i).SlicePosition();
}

std::string TDicomArrayImage::GetValue(std::string_view key) const {
    return files_.empty() ? std::string() : files_.front()->Value(key);
}

void TDicomArrayImage::LoadFromFile(const std::string&) {
    RaiseError("Abstract Error");
}

void TDicomArrayImage::LoadFromString(std::string_view) {
    RaiseError("Abstract Error");
}

void TDicomArrayImage::AddFile(std::unique_ptr<TDicomFile> file) {
    if (file) files_.push_back(std::move(file));
}

void TDicomArrayImage::SortImages() {
    // Compared directly rather than by difference, which overflows for far-apart positions.
    std::sort(files_.begin(), files_.end(), [](const auto& a, const auto& b) {
        if (a->SlicePosition() != b->SlicePosition()) return a->SlicePosition() > b->SlicePosition();
        return a->ImageNumber() < b->ImageNumber();
    });
}

void TDicomArrayImage::BuildCube() {
    TPixelCube& cube = Cube();
    cube.Clear();
    // Each file's frames follow those of the files before it, so files with different frame
    // counts keep all their frames.
    std::uint64_t total = 0;
    for (const auto& file : files_) total += file->FrameCount();
    TLoadKind kind;
    std::int64_t first = 0;
    for (const auto& file : files_) {
        cube.SetWidth(file->Width());
        cube.SetHeight(file->Height());
        cube.SetDepth(CheckedRange<std::uint32_t>(total));
        const TLoadKind own = KindOf(file->PixelFormat());
        if (own.Kind != 0) {
            kind = own;
            cube.SetPixelSize(kind.VoxelSize);
        }
        LoadFrames(cube, kind, first, *file);
        file->FreePixelData();
        first += file->FrameCount();
    }
    ComputeGeometry();
}

void TDicomArrayImage::FreePixelData() {
    for (const auto& file : files_) file->FreePixelData();
}

} // namespace tarvicon
