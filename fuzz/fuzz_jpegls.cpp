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
    const auto shape = tarvicon::fuzz::ReadPictureShape(input);
    try {
        const auto pixels =
            tarvicon::DecodeJpegLs(std::span(input.Rest(), input.RestSize()), shape.BytesPerPixel,
                                   shape.Columns, shape.Rows, shape.Frames);
        (void)pixels;
    } catch (const std::exception&) {
    }
    return 0;
}
