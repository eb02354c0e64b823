#pragma once
// TDicomFile: one DICOM Part-10 file read into its element lines, its pixel samples and the
// numbers the viewer needs. A forgiving reader built for viewing: explicit and implicit VRs are
// told apart element by element, every element is kept as text.

#include "util/Bytes.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvicon {

enum class TPixelFormat : std::uint8_t { pf8bit, pf16bit, pf24bit, pf32bit };

// "pf8bit", "pf16bit", "pf24bit" or "pf32bit".
const char* PixelFormatName(TPixelFormat format);

// Whether an image lost information to its compression, so that a reader always sees it: from a
// lossy transfer syntax or Lossy Image Compression (0028,2110) "01"; with the ratio (0028,2112)
// and method (0028,2114) where the data set gives them, else the syntax's method.
struct TLossyCompression {
    bool Lossy = false;
    std::string Ratio;
    std::string Method;
};

// What a read needs from the user and has to say to them, for a read off the UI thread: the
// Shift state (the diagnostic dump) read before it starts, and the notices it raised, in order,
// for the UI thread to show.
struct TReadContext {
    bool DumpRequested = false;
    std::vector<std::string> Notices;
};

class TDicomFile {
public:
    // Reads a local file or, for a path beginning with "http://" in any letter case, one HTTP
    // GET of it. Errors of opening, reading or fetching pass through unchanged.
    void LoadFromFile(const std::string& path);

    // Parses the whole file's bytes. On failure the element list keeps what was read plus an
    // ERROR and a DUMP line, the pixel buffer is empty, and the error's message ends with
    // CR LF "Tag: " and the key of the element being read.
    void LoadFromString(std::string_view bytes);
    // The same for bytes handed over: uncompressed pixels then stay in them without a copy.
    void LoadFromString(std::string&& bytes);
    // The same without the host, for any thread: the dump follows context.DumpRequested and
    // notices are added to context.Notices. The two above ask the host and show its notices.
    void LoadFromString(std::string&& bytes, TReadContext& context);
    // The same for a buffer handed over: uncompressed pixels stay in it, and a buffer that ends
    // on a page (ReadFileBytes) can later move them into a volume without a copy.
    void LoadFromBytes(TByteBuffer&& bytes, TReadContext& context);

    // Frees the pixel data and empties the element list.
    void Clear();

    // Frees the pixel buffer only; the element list and numbers stay.
    void FreePixelData();
    // Hands the pixel buffer over (to a cube); the file then has none, as after FreePixelData.
    TByteBuffer TakePixelData() { return std::move(pixelData_); }

    // Value of the first line whose key matches without regard to letter case; empty if none.
    std::string Value(std::string_view key) const;

    // Bytes per pixel from the current element list; raises "Illegal pixel size 1".
    int BytesPerPixel() const;

    const std::vector<std::string>& Elements() const { return elements_; }
    const std::uint8_t* PixelData() const { return pixelData_.data(); }
    std::uint32_t PixelDataSize() const { return static_cast<std::uint32_t>(pixelData_.size()); }
    std::uint16_t Width() const { return width_; }
    std::uint16_t Height() const { return height_; }
    TPixelFormat PixelFormat() const { return pixelFormat_; }
    std::uint16_t FrameCount() const { return frameCount_; }
    std::int32_t SlicePosition() const { return slicePosition_; }
    std::int32_t ImageNumber() const { return imageNumber_; }
    const TLossyCompression& LossyCompression() const { return lossy_; }

private:
    class TFinisher;
    // A read on the UI thread: the host is asked for the Shift state and shown the notices.
    void LoadAsking(std::string_view bytes, TByteBuffer* owned);
    void Load(std::string_view bytes, TByteBuffer* owned, TReadContext& context);

    std::vector<std::string> elements_;
    TByteBuffer pixelData_;
    std::uint16_t width_ = 0;
    std::uint16_t height_ = 0;
    TPixelFormat pixelFormat_ = TPixelFormat::pf8bit;
    std::uint16_t frameCount_ = 1;
    std::int32_t slicePosition_ = 0;
    std::int32_t imageNumber_ = 0;
    TLossyCompression lossy_;
};

// The lossy compression an element list tells of: its transfer syntax and (0028,2110), (0028,2112),
// (0028,2114).
TLossyCompression LossyCompressionOf(const std::vector<std::string>& elements);

// "LOSSY", with the ratio as "R:1" (one decimal at most) and the method where known; empty for an
// image that is not lossy.
std::string LossyMarkText(const TLossyCompression& lossy);

// Value of the first line whose key equals key without regard to letter case; empty if none.
std::string LookupValue(const std::vector<std::string>& elements, std::string_view key);

// The slice position text of an element list: "Slice Location", else the part of
// "Image Position Patient" after its second backslash.
std::string SlicePositionText(const std::vector<std::string>& elements);

// Thousandths of a millimetre of a decimal text; 0 when it is not a number; raises a range
// error outside the signed 32-bit range.
std::int32_t MillimetresToMicrometres(std::string_view text);

} // namespace tarvicon
