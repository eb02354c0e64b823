// JPEG XL frames (FrameCodecs.h): the bridge to the module libtarvicon_jpegxl.so
// (JpegXlModules.h), loaded on the first frame and kept for the program's life.

#include "dicom/FrameCodecs.h"
#include "dicom/JpegXlModules.h"
#include "util/Errors.h"
#include "util/Modules.h"

namespace tarvicon {

namespace {

// The module's entry, loaded once from the program's folder, its ../lib/tarvicon/, or the library
// path; null with the loader's reason when it cannot be loaded.
TDecodeJpegXl JpegXlDecoder(std::string& reason) {
    static const TModuleEntry entry = LoadModuleEntry(kJpegXlModuleName, kDecodeJpegXlName);
    reason = entry.Failure;
    return reinterpret_cast<TDecodeJpegXl>(entry.Address);
}

} // namespace

void DecodeJpegXlFrame(std::span<const std::uint8_t> stream, const TFrameLayout& layout,
                       std::span<std::uint8_t> out) {
    if (layout.Samples != 1 && layout.Samples != 3)
        RaiseError("JPEG XL frames of " + std::to_string(layout.Samples) +
                   " samples per pixel are not supported");
    if (layout.BytesPerSample != 1 && layout.BytesPerSample != 2)
        RaiseError("JPEG XL frames of " + std::to_string(8 * layout.BytesPerSample) +
                   "-bit samples are not supported");
    if (layout.Columns <= 0 || layout.Rows <= 0) RaiseError("JPEG XL frame has no pixels");
    if (out.size() != layout.FrameBytes())
        RaiseError("JPEG XL frame needs " + std::to_string(layout.FrameBytes()) + " output bytes, not " +
                   std::to_string(out.size()));
    if (stream.empty()) RaiseError("JPEG XL frame is empty");
    std::string reason;
    const TDecodeJpegXl decode = JpegXlDecoder(reason);
    if (!decode) RaiseError("The JPEG XL decoder cannot be loaded: " + reason);
    const TJpegXlFrame frame{stream.data(),  stream.size(),         layout.Columns, layout.Rows,
                             layout.Samples, layout.BytesPerSample, out.data(),     out.size()};
    decode(&frame, &reason);
    if (!reason.empty()) RaiseError(reason);
}

} // namespace tarvicon
