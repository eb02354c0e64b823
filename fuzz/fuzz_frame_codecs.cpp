// The frame decoders of encapsulated pixel data, with the codec and the image's layout taken
// from the first four bytes: codec (JPEG, JPEG 2000, RLE, JPEG XL), samples 1 or 3 with bytes per
// sample 1 or 2 and signedness, columns and rows 1..256; the rest is the codestream.
//
// HTJ2K is left out: OpenJPEG's high-throughput block decoder, as Debian builds it, stops the
// process with an assertion on some damaged code-blocks, which is all a fuzzer would find there.

#include "FuzzInput.h"
#include "dicom/FrameCodecs.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tarvicon::fuzz::TInput input(data, size);
    const int codec = input.Pick(4);
    const int kind = input.Byte();
    tarvicon::TFrameLayout layout;
    layout.Samples = kind & 1 ? 3 : 1;
    layout.BytesPerSample = kind & 2 ? 2 : 1;
    layout.BitsStored = layout.BytesPerSample == 2 ? (kind & 4 ? 12 : 16) : 8;
    layout.Signed = (kind & 8) != 0;
    layout.Photometric = layout.Samples == 3 ? (kind & 16 ? "YBR_FULL_422" : "RGB") : "MONOCHROME2";
    layout.Columns = 1 + input.Byte();
    layout.Rows = 1 + input.Byte();
    std::vector<std::uint8_t> out(layout.FrameBytes());
    const std::span<const std::uint8_t> stream(input.Rest(), input.RestSize());
    try {
        switch (codec) {
        case 0:
            tarvicon::DecodeJpegFrame(stream, layout, out);
            break;
        case 1:
            tarvicon::DecodeJpeg2000Frame(stream, layout, out);
            break;
        case 2:
            tarvicon::DecodeRleFrame(stream, layout, out);
            break;
        default:
            tarvicon::DecodeJpegXlFrame(stream, layout, out);
            break;
        }
    } catch (const std::exception&) {
    }
    return 0;
}
