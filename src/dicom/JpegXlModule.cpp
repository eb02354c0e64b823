// The libjxl side of JPEG XL frames, built as the module libtarvicon_jpegxl.so (JpegXlModules.h).

#include "dicom/JpegXlModules.h"

#include <cstring>
#include <exception>
#include <jxl/decode.h>
#include <jxl/decode_cxx.h>
#include <jxl/resizable_parallel_runner.h>
#include <jxl/resizable_parallel_runner_cxx.h>
#include <string>
#include <utility>

namespace tarvicon {

namespace {

std::string Size(std::uint64_t columns, std::uint64_t rows) {
    return std::to_string(columns) + " x " + std::to_string(rows);
}

// The codestream's own header against the image's layout, before any pixel is decoded.
std::string CheckBasicInfo(const JxlBasicInfo& info, const TJpegXlFrame& frame) {
    // The decoder applies the orientation: a transposing one swaps the output's sides.
    const bool transposed = info.orientation >= JXL_ORIENT_TRANSPOSE;
    const std::uint64_t columns = transposed ? info.ysize : info.xsize;
    const std::uint64_t rows = transposed ? info.xsize : info.ysize;
    if (columns != std::uint64_t(frame.Columns) || rows != std::uint64_t(frame.Rows))
        return "JPEG XL frame is " + Size(columns, rows) + " pixels; the image is " +
               Size(frame.Columns, frame.Rows);
    if (info.num_color_channels != std::uint32_t(frame.Samples))
        return "JPEG XL frame has " + std::to_string(info.num_color_channels) +
               " colour channels; the image has " + std::to_string(frame.Samples) + " samples per pixel";
    if (info.exponent_bits_per_sample != 0)
        return "JPEG XL frames of floating-point samples are not supported";
    if (info.bits_per_sample == 0 || info.bits_per_sample > 8 * std::uint32_t(frame.BytesPerSample))
        return "JPEG XL frame holds " + std::to_string(info.bits_per_sample) +
               "-bit samples; the image stores " + std::to_string(8 * frame.BytesPerSample);
    return {};
}

// libjxl spreads samples of fewer bits than the output type over the type's whole range (a 12-bit
// 4095 becomes 65535); this takes them back to the values the codestream holds.
template <typename T>
void NarrowToBits(std::uint8_t* out, std::size_t bytes, std::uint32_t bits) {
    constexpr std::uint32_t kFull = (1u << (8 * sizeof(T))) - 1;
    const std::uint32_t top = (1u << bits) - 1;
    for (std::size_t i = 0; i < bytes; i += sizeof(T)) {
        T value;
        std::memcpy(&value, out + i, sizeof(T));
        value = static_cast<T>((std::uint32_t(value) * top + kFull / 2) / kFull);
        std::memcpy(out + i, &value, sizeof(T));
    }
}

std::string Decode(const TJpegXlFrame& frame) {
    const JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    const JxlResizableParallelRunnerPtr runner = JxlResizableParallelRunnerMake(nullptr);
    if (!decoder || !runner) return "The JPEG XL decoder cannot start";
    JxlDecoder* const d = decoder.get();
    if (JxlDecoderSubscribeEvents(d, JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetParallelRunner(d, JxlResizableParallelRunner, runner.get()) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(d, frame.Stream, frame.StreamBytes) != JXL_DEC_SUCCESS)
        return "The JPEG XL decoder cannot start";
    // The input is left open: a stream cut short then asks for more input, which tells a
    // truncated frame from a damaged one (closed, both are only errors).

    const JxlPixelFormat format = {std::uint32_t(frame.Samples),
                                   frame.BytesPerSample == 1 ? JXL_TYPE_UINT8 : JXL_TYPE_UINT16,
                                   JXL_NATIVE_ENDIAN, 0};
    std::uint32_t bits = 0;
    bool outputSet = false;
    for (;;) {
        switch (const JxlDecoderStatus status = JxlDecoderProcessInput(d)) {
        case JXL_DEC_BASIC_INFO: {
            JxlBasicInfo info;
            if (JxlDecoderGetBasicInfo(d, &info) != JXL_DEC_SUCCESS)
                return "JPEG XL frame header cannot be read";
            if (std::string reason = CheckBasicInfo(info, frame); !reason.empty()) return reason;
            bits = info.bits_per_sample;
            JxlResizableParallelRunnerSetThreads(
                runner.get(), JxlResizableParallelRunnerSuggestThreads(info.xsize, info.ysize));
            break;
        }
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            std::size_t needed = 0;
            if (JxlDecoderImageOutBufferSize(d, &format, &needed) != JXL_DEC_SUCCESS ||
                needed != frame.OutBytes)
                return "JPEG XL frame needs " + std::to_string(needed) + " output bytes, not " +
                       std::to_string(frame.OutBytes);
            if (JxlDecoderSetImageOutBuffer(d, &format, frame.Out, frame.OutBytes) != JXL_DEC_SUCCESS)
                return "JPEG XL frame cannot be decoded into the image's layout";
            outputSet = true;
            break;
        }
        case JXL_DEC_FULL_IMAGE:
            // The first image is the frame; anything after it (an animation's further frames) is
            // not read.
            if (!outputSet) return "JPEG XL frame was decoded without its output";
            if (frame.BytesPerSample == 1 && bits < 8)
                NarrowToBits<std::uint8_t>(frame.Out, frame.OutBytes, bits);
            if (frame.BytesPerSample == 2 && bits < 16)
                NarrowToBits<std::uint16_t>(frame.Out, frame.OutBytes, bits);
            return {};
        case JXL_DEC_NEED_MORE_INPUT:
            return "JPEG XL frame ends before its image is complete";
        case JXL_DEC_SUCCESS:
            return "JPEG XL frame holds no image";
        case JXL_DEC_ERROR:
            return "JPEG XL frame cannot be decoded: the codestream is damaged or not JPEG XL";
        default:
            return "JPEG XL decoder stopped at an unexpected event " + std::to_string(int(status));
        }
    }
}

} // namespace

} // namespace tarvicon

extern "C" __attribute__((visibility("default"))) void
TarviconDecodeJpegXl(const tarvicon::TJpegXlFrame* frame, std::string* reason) {
    try {
        *reason = tarvicon::Decode(*frame);
    } catch (const std::exception& failure) {
        *reason = std::string("JPEG XL frame cannot be decoded: ") + failure.what();
    }
}
