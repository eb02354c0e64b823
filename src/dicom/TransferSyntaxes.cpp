#include "dicom/TransferSyntaxes.h"

#include <algorithm>
#include <iterator>

namespace tarvicon {

namespace {

using enum TDataSetEncoding;
using enum TPixelCodec;
using enum TLossiness;

constexpr TTransferSyntax kSyntaxes[] = {
    {"1.2.840.10008.1.2", LittleEndian, Native, Never, ""},
    {"1.2.840.10008.1.2.1", LittleEndian, Native, Never, ""},
    {"1.2.840.10008.1.2.1.99", Deflated, Native, Never, ""},
    {"1.2.840.10008.1.2.2", BigEndian, Native, Never, ""},
    {"1.2.840.10008.1.2.4.50", LittleEndian, Jpeg, Always, "ISO_10918_1"},
    {"1.2.840.10008.1.2.4.51", LittleEndian, Jpeg, Always, "ISO_10918_1"},
    {"1.2.840.10008.1.2.4.55", LittleEndian, Jpeg, Always, "ISO_10918_1"},
    {"1.2.840.10008.1.2.4.57", LittleEndian, LosslessJpeg, Never, ""},
    {"1.2.840.10008.1.2.4.70", LittleEndian, LosslessJpeg, Never, ""},
    {"1.2.840.10008.1.2.4.80", LittleEndian, JpegLs, Never, ""},
    {"1.2.840.10008.1.2.4.81", LittleEndian, JpegLs, Always, "ISO_14495_1"},
    {"1.2.840.10008.1.2.4.90", LittleEndian, Jpeg2000, Never, ""},
    {"1.2.840.10008.1.2.4.91", LittleEndian, Jpeg2000, Possibly, "ISO_15444_1"},
    {"1.2.840.10008.1.2.4.92", LittleEndian, Jpeg2000, Never, ""},
    {"1.2.840.10008.1.2.4.93", LittleEndian, Jpeg2000, Possibly, "ISO_15444_2"},
    {"1.2.840.10008.1.2.4.110", LittleEndian, JpegXl, Never, ""},
    {"1.2.840.10008.1.2.4.111", LittleEndian, JpegXl, Always, "ISO_18181_1"},
    {"1.2.840.10008.1.2.4.112", LittleEndian, JpegXl, Possibly, "ISO_18181_1"},
    {"1.2.840.10008.1.2.4.201", LittleEndian, Htj2k, Never, ""},
    {"1.2.840.10008.1.2.4.202", LittleEndian, Htj2k, Never, ""},
    {"1.2.840.10008.1.2.4.203", LittleEndian, Htj2k, Possibly, "ISO_15444_15"},
    {"1.2.840.10008.1.2.5", LittleEndian, Rle, Never, ""},
};

} // namespace

const TTransferSyntax* FindTransferSyntax(std::string_view uid) {
    const auto at = std::find_if(std::begin(kSyntaxes), std::end(kSyntaxes),
                                 [uid](const TTransferSyntax& s) { return s.Uid == uid; });
    return at == std::end(kSyntaxes) ? nullptr : at;
}

} // namespace tarvicon
