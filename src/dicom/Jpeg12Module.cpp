// The 12-bit JPEG decoder over DCMTK's IJG library, built as the module libtarvicon_jpeg12.so
// (Jpeg12Modules.h).

#include "dicom/Jpeg12Modules.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmjpeg/djcparam.h>
#include <dcmtk/dcmjpeg/djdijg12.h>
#include <dcmtk/dcmjpeg/djutils.h>
#include <exception>
#include <limits>
#include <new>

namespace tarvicon {

namespace {

// DCMTK's decoder sends the library's warnings and traces to its logger, which prints them;
// here they stay quiet. A stream that runs out still fails: the decoder then suspends.
class TQuietDecoder final : public DJDecompressIJG12Bit {
public:
    using DJDecompressIJG12Bit::DJDecompressIJG12Bit;
    void emitMessage(int) const override {}
};

std::string Decode(const TJpeg12Frame& frame) {
    if (frame.StreamSize > std::numeric_limits<Uint32>::max() ||
        frame.OutSize > std::numeric_limits<Uint32>::max())
        return "The frame is too large";
    // The caller decides the colour: with "photometric" conversion the decoder turns YCbCr into
    // RGB exactly when told the stream holds YCbCr, and leaves the samples alone otherwise.
    const DJCodecParameter parameters(ECC_lossyYCbCr, EDC_photometricInterpretation, EUC_never, EPC_default);
    TQuietDecoder decoder(parameters, frame.HoldsYCbCr);
    OFCondition result = decoder.init();
    if (result.good())
        // The decoder only reads the stream.
        result = decoder.decode(const_cast<Uint8*>(frame.Stream), Uint32(frame.StreamSize), frame.Out,
                                Uint32(frame.OutSize), frame.Signed);
    if (result == EJ_Suspension) return "The JPEG stream ends before its image is complete";
    return result.good() ? std::string() : std::string(result.text());
}

} // namespace

} // namespace tarvicon

extern "C" __attribute__((visibility("default"))) void
TarviconDecodeJpeg12Frame(const tarvicon::TJpeg12Frame& frame, std::string* reason) {
    try {
        *reason = tarvicon::Decode(frame);
    } catch (const std::bad_alloc&) {
        *reason = "Out of memory";
    } catch (const std::exception& error) {
        *reason = error.what();
    }
}
