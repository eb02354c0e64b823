// TDicomFile::LoadFromString over arbitrary bytes, through both the viewing and the owning overload.

#include "dicom/Dicoms.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        tarvicon::TDicomFile file;
        file.LoadFromString(bytes);
        (void)file.BytesPerPixel();
    } catch (const std::exception&) {
    }
    try {
        tarvicon::TDicomFile file;
        file.LoadFromString(std::string(bytes));
        (void)file.Value("Rows");
        file.FreePixelData();
    } catch (const std::exception&) {
    }
    return 0;
}
