// DecodeJpegLs through the real codec library (libjpegls.so beside this program); the first four
// bytes give bytes per pixel, columns, rows and frames as for the lossless JPEG target.

#include "FuzzInput.h"
#include "dicom/JpegLs.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tarvicon::fuzz::TInput input(data, size);
    const int bytesPerPixel = 1 + input.Pick(4);
    const int columns = 1 + input.Byte();
    const int rows = 1 + input.Byte();
    const int frames = 1 + input.Pick(4);
    try {
        const auto pixels = tarvicon::DecodeJpegLs(std::span(input.Rest(), input.RestSize()), bytesPerPixel,
                                                   columns, rows, frames);
        (void)pixels;
    } catch (const std::exception&) {
    }
    return 0;
}
