#include "dicom/JpegLs.h"

#include "dicom/JpegLsApi.h"
#include "dicom/JpegLsInternals.h"
#include "util/Errors.h"
#include "util/Folders.h"
#include "util/Strings.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <dlfcn.h>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

namespace tarvicon {

namespace {

constexpr const char* kTermsOfUse = "The JPEG-LS codec is CharLS; its terms of use: "
                                    "https://github.com/team-charls/charls/blob/main/LICENSE.md";

// The library and its entry points, program-wide; loaded once and kept until the program ends.
struct TCodecLibrary {
    std::mutex Lock;
    void* Handle = nullptr;
    int LiveDecoders = 0;
    JPEGLS_Create_t Create = nullptr;
    JPEGLS_Destroy_t Destroy = nullptr;
    JPEGLS_SetMessageCallback_t SetMessageCallback = nullptr;
    JPEGLS_StartDecode_t StartDecode = nullptr;
    JPEGLS_GetInfo_t GetInfo = nullptr;
    JPEGLS_DecodeToCB_t DecodeToCB = nullptr;
    JPEGLS_CheckOk_t CheckOk = nullptr;
};

TCodecLibrary& Library() {
    static TCodecLibrary library;
    return library;
}

template <typename F>
void Resolve(void* handle, const char* name, F& entry) {
    entry = reinterpret_cast<F>(dlsym(handle, name));
    if (!entry) RaiseError(std::string("The library ") + kJpegLsLibrary + " has no entry point " + name);
}

void LoadLibrary(TCodecLibrary& library) {
    void* handle = dlopen((ExeDir() + kJpegLsLibrary).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) handle = dlopen(kJpegLsLibrary, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* error = dlerror();
        RaiseError(std::string("Cannont load library ") + kJpegLsLibrary + "(" + (error ? error : "") +
                   ")\r\n" + kTermsOfUse);
    }
    try {
        Resolve(handle, "JPEGLS_Create", library.Create);
        Resolve(handle, "JPEGLS_Destroy", library.Destroy);
        Resolve(handle, "JPEGLS_SetMessageCallback", library.SetMessageCallback);
        Resolve(handle, "JPEGLS_StartDecode", library.StartDecode);
        Resolve(handle, "JPEGLS_GetInfo", library.GetInfo);
        Resolve(handle, "JPEGLS_DecodeToCB", library.DecodeToCB);
        Resolve(handle, "JPEGLS_CheckOk", library.CheckOk);
    } catch (...) {
        dlclose(handle);
        throw;
    }
    library.Handle = handle;
}

} // namespace

TJpegLsDecoder::TJpegLsDecoder() {
    TCodecLibrary& library = Library();
    const std::lock_guard guard(library.Lock);
    if (++library.LiveDecoders == 1 && !library.Handle) {
        try {
            LoadLibrary(library);
        } catch (...) {
            --library.LiveDecoders;
            throw;
        }
    }
    handle_ = library.Handle ? library.Create() : nullptr;
    if (handle_) library.SetMessageCallback(handle_, &TJpegLsCallbacks::Message, this);
}

TJpegLsDecoder::~TJpegLsDecoder() {
    TCodecLibrary& library = Library();
    const std::lock_guard guard(library.Lock);
    if (handle_) library.Destroy(handle_);
    --library.LiveDecoders;
}

void TJpegLsCallbacks::SetInput(TJpegLsDecoder& decoder, std::span<const std::uint8_t> input) {
    decoder.input_ = input.data();
    decoder.inputLength_ = input.size();
    decoder.position_ = 0;
}

std::optional<std::uint64_t> JpegLsFrameBytes(std::string_view info) {
    std::uint64_t width = 0, height = 0, bits = 0, components = 0;
    std::uint64_t found = 0;
    while (!info.empty()) {
        const std::size_t end = std::min(info.find('\n'), info.size());
        const std::string_view line = info.substr(0, end);
        info.remove_prefix(std::min(end + 1, info.size()));
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view key = line.substr(0, equals), text = line.substr(equals + 1);
        const auto number = ParseWholeNumber(text);
        if (!number || *number < 0 || *number > UINT32_MAX) continue;
        const auto value = std::uint64_t(*number);
        for (auto [name, field, bit] :
             {std::tuple{"width", &width, 1}, std::tuple{"height", &height, 2}, std::tuple{"bits", &bits, 4},
              std::tuple{"components", &components, 8}})
            if (key == name) {
                *field = value;
                found |= bit;
            }
    }
    if (found != 15) return std::nullopt;
    // At most 2^32 per factor, so the product of the first two cannot overflow; saturate after.
    const std::uint64_t samples = width * height;
    const std::uint64_t perSample = components * (bits > 8 ? 2 : 1);
    if (perSample != 0 && samples > std::numeric_limits<std::uint64_t>::max() / perSample)
        return std::numeric_limits<std::uint64_t>::max();
    return samples * perSample;
}

std::vector<std::uint8_t> TJpegLsDecoder::Decode(std::span<const std::uint8_t> input, std::uint64_t limit) {
    TJpegLsCallbacks::SetInput(*this, input);
    output_.clear();
    if (!handle_) return {};
    const TCodecLibrary& library = Library();
    // The codec reports failures through CheckOk; a failed decode simply leaves a short output.
    library.StartDecode(handle_, &TJpegLsCallbacks::Read, this);
    library.CheckOk(handle_);
    std::vector<char> info(JPEGLS_INFO_SIZE);
    library.GetInfo(handle_, info.data());
    library.CheckOk(handle_);
    // A frame header can ask for gigabytes in a few bytes; never let the codec size its output
    // beyond what the image will keep.
    info.back() = '\0';
    const std::optional<std::uint64_t> frameBytes = JpegLsFrameBytes(info.data());
    if (frameBytes && *frameBytes > limit) return {};
    library.DecodeToCB(handle_, &TJpegLsCallbacks::Write, this);
    library.CheckOk(handle_);
    return std::exchange(output_, {});
}

std::size_t TJpegLsCallbacks::Read(void* user, void* buffer, std::size_t size) {
    auto& self = *static_cast<TJpegLsDecoder*>(user);
    if (size == 0) return 0;
    const std::size_t count = std::min(size, self.inputLength_ - self.position_);
    if (count > 0) std::memcpy(buffer, self.input_ + self.position_, count);
    self.position_ += count;
    return count;
}

int TJpegLsCallbacks::Write(void* user, const void* bytes, std::size_t size) {
    auto& self = *static_cast<TJpegLsDecoder*>(user);
    const auto* first = static_cast<const std::uint8_t*>(bytes);
    self.output_.insert(self.output_.end(), first, first + size);
    return 1;
}

void TJpegLsCallbacks::Message(void*, const char*) {}

std::vector<std::uint8_t> DecodeJpegLs(std::span<const std::uint8_t> stream, int bytesPerPixel, int columns,
                                       int rows, int frames) {
    const auto limit = static_cast<std::uint64_t>(std::max(bytesPerPixel, 0)) *
                       static_cast<std::uint64_t>(std::max(columns, 0)) *
                       static_cast<std::uint64_t>(std::max(rows, 0)) *
                       static_cast<std::uint64_t>(std::max(frames, 0));
    TJpegLsDecoder decoder;
    return decoder.Decode(stream, limit);
}

void* JpegLsLibraryHandle() {
    TCodecLibrary& library = Library();
    const std::lock_guard guard(library.Lock);
    return library.Handle;
}

int JpegLsLiveDecoders() {
    TCodecLibrary& library = Library();
    const std::lock_guard guard(library.Lock);
    return library.LiveDecoders;
}

} // namespace tarvicon
