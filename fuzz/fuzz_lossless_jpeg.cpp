// DecodeLosslessJpeg with the picture's shape taken from the first four bytes:
// bytes per pixel 1..4, columns and rows 1..256, frames 1..4; the rest is the stream.

#include "FuzzInput.h"
#include "dicom/LosslessJpeg.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tarvicon::fuzz::TInput input(data, size);
    const auto shape = tarvicon::fuzz::ReadPictureShape(input);
    try {
        const auto pixels =
            tarvicon::DecodeLosslessJpeg(std::span(input.Rest(), input.RestSize()), shape.BytesPerPixel,
                                         shape.Columns, shape.Rows, shape.Frames);
        (void)pixels;
    } catch (const std::exception&) {
    }
    return 0;
}
