#pragma once
// DICOM objects: what the study tree holds and the views show. A single image owns one read
// file, a series owns the sorted files of its slices; both stack their samples into one cuboid,
// work out its spacing and origin from the elements, keep the 3-D position and the colour table
// of the views, and wrap the cube operations with a memory question and a saved first cube.

#include "dicom/Dicoms.h"
#include "util/Colors.h"
#include "volume/CubeOperations.h"
#include "volume/PixelCube.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvicon {

class TDicomObject;

// The configuration's trade-off element for an object; an empty node for none.
using TTradeOffHandler = std::function<pugi::xml_node(const TDicomObject& object)>;

// The three upscale questions; "%" stands for the cube's size in MB.
inline constexpr const char* kUpscaleXMessage =
    "Additional memory of %MB required to upscale cuboid sagittaly. ";
inline constexpr const char* kUpscaleYMessage =
    "Additional memory of %MB required to upscale cuboid coronary. ";
inline constexpr const char* kUpscaleZMessage =
    "Additional memory of %MB required to upscale cuboid transversaly";

// Cube sizes above this many bytes are asked about before an upscale; UpscaleAuto stops one
// above it.
inline constexpr std::uint64_t kAskAboveBytes = 33554431;

class TDicomObject {
public:
    TDicomObject();
    // Deletes the file that keeps the first cube.
    virtual ~TDicomObject();
    TDicomObject(const TDicomObject&) = delete;
    TDicomObject& operator=(const TDicomObject&) = delete;

    // The images behind the object; i counts from 0 in sorted order.
    virtual int ImageCount() const = 0;
    virtual int ImageHeight(int i) const = 0;
    virtual int ImageWidth(int i) const = 0;
    virtual const std::vector<std::string>& ImageElements(int i) const = 0;
    virtual TPixelFormat ImagePixelFormat(int i) const = 0;
    virtual std::int32_t ImageSlicePosition(int i) const = 0;
    // Value of the first element line of the (first) image whose key matches in any letter case.
    virtual std::string GetValue(std::string_view key) const;
    // The LOSSY mark of the first image that lost information to its compression (LossyMarkText);
    // empty when none did.
    std::string LossyMark() const;

    // Reading; read failures pass through as the reader raises them.
    virtual void LoadFromFile(const std::string& path) = 0;
    virtual void LoadFromString(std::string_view bytes) = 0;

    // Stacks the samples into the cube, frees every pixel buffer, then ComputeGeometry.
    virtual void BuildCube() = 0;
    // Spacing and origin from image 0's elements; Position to the centre voxel.
    virtual void ComputeGeometry();
    virtual void FreePixelData() {}

    TPixelCube& Cube() { return cube_; }
    const TPixelCube& Cube() const { return cube_; }

    const TCubePoint& Position() const { return position_; }
    // Clamps each component into the cube; a cube with an extent 0 gives (0, 0, 0).
    void SetPosition(const TCubePoint& index);
    TCubePoint GetWorldPosition() const;
    void SetWorldPosition(const TCubePoint& world);
    // Spacing along the first and second letter of a view path.
    std::pair<std::int32_t, std::int32_t> ViewSpacing(std::string_view path) const;

    std::int32_t SerialNumber() const { return serialNumber_; }
    const std::string& Description() const { return description_; }
    void SetDescription(std::string description) { description_ = std::move(description); }
    const std::string& ViewState() const { return viewState_; }
    void SetViewState(std::string state) { viewState_ = std::move(state); }
    bool MipNavi() const { return mipNavi_; }
    void SetMipNavi(bool on) { mipNavi_ = on; }
    bool MipDetail() const { return mipDetail_; }
    void SetMipDetail(bool on) { mipDetail_ = on; }
    bool IsVolume() const { return isVolume_; }
    void SetIsVolume(bool volume) { isVolume_ = volume; }
    // The views' colour table, all zero until first filled. It is made on first use: the
    // single images of a load never get one, which spares 256 KiB of fresh memory per file.
    TColorTable& ColorTable();
    const TColorTable& ColorTable() const;
    const TTradeOffHandler& OnGetTradeOff() const { return onGetTradeOff_; }
    void SetOnGetTradeOff(TTradeOffHandler handler) { onGetTradeOff_ = std::move(handler); }

    // A "match" filter: "KEY=PATTERN" tests GetValue(KEY), a bare pattern the Description; the
    // pattern must match the whole value. A pattern that does not compile raises an error.
    bool Matches(const std::string& filter) const;

    // Asks the host whether to go on when the cube is larger than kAskAboveBytes; true when
    // nothing needed asking or the answer was yes.
    bool ConfirmMemory(const std::string& message) const;

    // The cube operations replace the cube and keep the first one for Revert. Upscales and the
    // filter report to a progress run the caller has opened; Rotate opens its own. The upscales
    // return false when the memory question was declined (the cube stays).
    bool UpscaleX();
    bool UpscaleY();
    bool UpscaleZ();
    // Upscales the axis of the coarsest spacing until the cube reaches 32 MiB, a question is
    // declined or a step no longer grows the cube.
    void UpscaleAuto();
    void Rotate(const std::string& axis, double angle);
    void ApplyFilter(int number, TFilterKernel kernel);

    // The first call saves the cube to a new temporary file; later calls do nothing.
    void SaveOriginal();
    // Back to the cube as first saved; nothing before the first operation.
    void Revert();
    const std::string& OriginalFile() const { return originalFile_; }

protected:
    // Replaces the cube by the result of an operation and keeps Position inside it.
    void ReplaceCube(TPixelCube cube);

private:
    bool Upscale(const char* message, TPixelCube (*operation)(const TPixelCube&));

    TPixelCube cube_;
    TCubePoint position_;
    std::string description_;
    std::string viewState_;
    std::unique_ptr<TColorTable> colorTable_;
    std::int32_t serialNumber_;
    bool mipNavi_ = false;
    bool mipDetail_ = false;
    bool isVolume_ = false;
    TTradeOffHandler onGetTradeOff_;
    std::string originalFile_;
};

// One image file and its cube.
class TDicomSingleImage : public TDicomObject {
public:
    TDicomSingleImage();

    // Without a file: extents 0, no elements, pf32bit (a format no cube is built from).
    int ImageCount() const override { return 1; }
    int ImageHeight(int i) const override;
    int ImageWidth(int i) const override;
    const std::vector<std::string>& ImageElements(int i) const override;
    TPixelFormat ImagePixelFormat(int i) const override;
    std::int32_t ImageSlicePosition(int i) const override;
    std::string GetValue(std::string_view key) const override;
    void LoadFromFile(const std::string& path) override;
    void LoadFromString(std::string_view bytes) override;
    // The same for bytes handed over (see TDicomFile).
    void LoadFromString(std::string&& bytes);
    // The same for any thread: the host is not asked (see TReadContext).
    void LoadFromString(std::string&& bytes, TReadContext& context);
    // The same for a buffer handed over (see TDicomFile::LoadFromBytes).
    void LoadFromBytes(TByteBuffer&& bytes, TReadContext& context);
    // Kinds by pixel format: 8-bit, 16-bit, RGB into 4-byte voxels; a 32-bit file or one whose
    // read failed gives a cube without voxels and without geometry.
    void BuildCube() override;
    void FreePixelData() override;

    // The file, or null once taken.
    TDicomFile* File() { return file_.get(); }
    const TDicomFile* File() const { return file_.get(); }
    // Hands the file over (to a series); the object then has none.
    std::unique_ptr<TDicomFile> TakeFile() { return std::move(file_); }
    // The file was read completely, so its pixel format stands.
    bool HasPixelFormat() const { return file_ && readComplete_; }

private:
    TDicomFile& FileForReading();

    std::unique_ptr<TDicomFile> file_;
    bool readComplete_ = false;
};

// The files of one series, stacked into one cube in sorted order.
class TDicomArrayImage : public TDicomObject {
public:
    int ImageCount() const override { return static_cast<int>(files_.size()); }
    // Image indices outside the list are a range error.
    int ImageHeight(int i) const override;
    int ImageWidth(int i) const override;
    // The last image's elements for indices beyond the list; an empty list without files.
    const std::vector<std::string>& ImageElements(int i) const override;
    TPixelFormat ImagePixelFormat(int i) const override;
    std::int32_t ImageSlicePosition(int i) const override;
    std::string GetValue(std::string_view key) const override;
    // A series is not read from bytes: both raise "Abstract Error".
    void LoadFromFile(const std::string& path) override;
    void LoadFromString(std::string_view bytes) override;
    // Frames of file 0 first, then those of file 1, …; each file's pixels are freed once they
    // are in the cube.
    void BuildCube() override;
    void FreePixelData() override;

    // Appends a file (null is ignored).
    void AddFile(std::unique_ptr<TDicomFile> file);
    const std::vector<std::unique_ptr<TDicomFile>>& Files() const { return files_; }
    // Descending slice position, equal positions by ascending image number.
    void SortImages();

private:
    const TDicomFile& FileAt(int i) const;

    std::vector<std::unique_ptr<TDicomFile>> files_;
};

} // namespace tarvicon
