#pragma once
// Bridge to the JPEG-LS codec library (libjpegls.so) for pixel data of transfer syntax
// 1.2.840.10008.1.2.4.80. The library is loaded on first use, from the program's folder first,
// then from the library path, and stays loaded.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tarvicon {

// File name of the codec library.
inline constexpr const char* kJpegLsLibrary = "libjpegls.so";

// One codec instance: feeds it the compressed bytes, collects what it writes.
class TJpegLsDecoder {
public:
    // Loads the library when this is the first live decoder and it is not loaded yet; raises
    // "Cannont load library ..." or names a missing entry point.
    TJpegLsDecoder();
    ~TJpegLsDecoder();
    TJpegLsDecoder(const TJpegLsDecoder&) = delete;
    TJpegLsDecoder& operator=(const TJpegLsDecoder&) = delete;

    // The bytes exactly as the codec wrote them; short or empty when it failed, and empty without
    // decoding when the codec's information names a frame of more than limit bytes.
    std::vector<std::uint8_t> Decode(std::span<const std::uint8_t> input, std::uint64_t limit = UINT64_MAX);

private:
    friend struct TJpegLsCallbacks; // what the codec calls back, in JpegLsInternals.h

    void* handle_ = nullptr;
    const std::uint8_t* input_ = nullptr;
    std::size_t inputLength_ = 0;
    std::size_t position_ = 0;
    std::vector<std::uint8_t> output_;
};

// Decodes with a new decoder object. The four numbers bound the frame the codec may decode: a
// stream whose header asks for more bytes than bytesPerPixel × columns × rows × frames gives
// the empty result, as an undecodable one does.
std::vector<std::uint8_t> DecodeJpegLs(std::span<const std::uint8_t> stream, int bytesPerPixel, int columns,
                                       int rows, int frames);

} // namespace tarvicon
