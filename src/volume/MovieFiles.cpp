#include "volume/MovieFiles.h"

#include "util/Errors.h"
#include "util/Modules.h"
#include "util/PendingFiles.h"
#include "util/Strings.h"
#include "volume/MovieEncoders.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace tarvicon {

namespace {

enum class TContainer { None, Mp4, WebM };

TContainer ContainerOf(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return TContainer::None;
    const std::string_view extension = std::string_view(path).substr(dot);
    if (EqualNoCase(extension, ".mp4")) return TContainer::Mp4;
    if (EqualNoCase(extension, ".webm")) return TContainer::WebM;
    return TContainer::None;
}

// The encoder module's entry, loaded once beside the program (or from the library path) and
// kept for the program's life; null with the loader's reason when it cannot be loaded.
TOpenMovieEncoder OpenMovieEncoder(std::string& reason) {
    static const TModuleEntry entry = LoadModuleEntry(kMovieModuleName, kOpenMovieEncoderName);
    reason = entry.Failure;
    return reinterpret_cast<TOpenMovieEncoder>(entry.Address);
}

} // namespace

bool IsMovieName(const std::string& path) {
    return ContainerOf(path) != TContainer::None;
}

struct TMovieWriter::TState {
    std::string path;
    // Declared first, so the file is closed (the encoder below) before the temporary is removed.
    std::optional<TPendingFile> pending;
    std::unique_ptr<IMovieEncoder> encoder;
    int width = 0, height = 0; // of the pictures; the frames may be one larger
    int frameWidth = 0, frameHeight = 0;
    std::vector<std::uint32_t> padded;
    int frames = 0;
    bool finished = false;

    [[noreturn]] void Raise(const std::string& reason) const {
        RaiseError("Cannot write file \"" + path + "\". " + reason);
    }
    void Check(const std::string& reason) const {
        if (!reason.empty()) Raise(reason);
    }
};

TMovieWriter::TMovieWriter(const std::string& path, int width, int height, int framesPerSecond)
    : state_(std::make_unique<TState>()) {
    const TContainer container = ContainerOf(path);
    if (container == TContainer::None) RaiseError("Unknown movie file extension: " + path);
    if (width <= 0 || height <= 0) RaiseError("The picture is empty");
    TState& s = *state_;
    s.path = path;
    s.width = width;
    s.height = height;
    // 4:2:0 colour needs even sizes: an odd picture gets one black column or row.
    s.frameWidth = width + (width & 1);
    s.frameHeight = height + (height & 1);
    std::string reason;
    const TOpenMovieEncoder open = OpenMovieEncoder(reason);
    if (!open) s.Raise("The video encoder cannot be loaded: " + reason);
    s.pending.emplace(path);
    s.encoder.reset(open(s.pending->TemporaryPath().c_str(), container == TContainer::Mp4, s.frameWidth,
                         s.frameHeight, std::max(1, framesPerSecond), &reason));
    if (!s.encoder) s.Raise(reason);
    if (s.frameWidth != width || s.frameHeight != height)
        s.padded.assign(std::size_t(s.frameWidth) * std::size_t(s.frameHeight), 0xFF000000u);
}

TMovieWriter::~TMovieWriter() = default;

int TMovieWriter::FrameCount() const {
    return state_->frames;
}

void TMovieWriter::AddFrame(const TBitmap32& picture) {
    TState& s = *state_;
    if (s.finished) s.Raise("The movie is finished");
    if (picture.Width() != s.width || picture.Height() != s.height) RaiseError("Movie frames differ in size");
    const std::uint32_t* source = picture.Bits();
    int stride = s.width * 4;
    if (!s.padded.empty()) {
        // The padding column and row stay black from the start.
        for (int y = 0; y < s.height; ++y)
            std::memcpy(s.padded.data() + std::size_t(y) * std::size_t(s.frameWidth),
                        picture.Bits() + std::size_t(y) * std::size_t(s.width), std::size_t(s.width) * 4);
        source = s.padded.data();
        stride = s.frameWidth * 4;
    }
    s.Check(s.encoder->AddFrame(source, stride));
    ++s.frames;
}

void TMovieWriter::Finish() {
    TState& s = *state_;
    if (s.finished) return;
    s.Check(s.encoder->Finish());
    s.pending->Commit();
    s.finished = true;
}

} // namespace tarvicon
