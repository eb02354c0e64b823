#include "cli/Movies.h"

#include "catalogue/AnimationFiles.h"
#include "config/ConfigNodes.h"
#include "util/Errors.h"
#include "util/NumberTexts.h"
#include "util/Progress.h"
#include "util/Strings.h"
#include "volume/MovieFiles.h"

#include <filesystem>
#include <memory>

namespace tarvicon::cli {

namespace {

constexpr int kRotationFrames = 72;
constexpr int kRotationStep = 5;

} // namespace

std::optional<TMovieKind> MovieKindOf(const std::string& word) {
    if (word == "rotate") return TMovieKind::Rotate;
    if (word == "slices") return TMovieKind::Slices;
    return std::nullopt;
}

bool IsMovieFileName(const std::string& path) {
    const std::string extension = std::filesystem::path(path).extension().string();
    return EqualNoCase(extension, ".gif") || IsMovieName(path);
}

int DefaultFramesPerSecond(TMovieKind kind) {
    return kind == TMovieKind::Rotate ? 10 : 25;
}

TMovieFrames RotationFrames(TConfigNode& angle) {
    const auto angleOf = [](int index) { return -180 + kRotationStep * index; };
    return {kRotationFrames, [&angle, angleOf](int index) { angle.SetAsFloat(angleOf(index)); },
            [angleOf](int index) { return FormatFixed(angleOf(index), 0) + "\u00B0"; }};
}

TMovieFrames SliceFrames(TDicomObject& object, const std::string& path) {
    return {object.Cube().ExtentAlong(path, 2),
            [&object, path](int index) {
                TCubePoint position = object.Position();
                object.Cube().SetCoordAlong(position, path, 2, index);
                object.SetPosition(position);
            },
            [](int index) { return "Slice " + FormatFixed(index + 1, 0); }};
}

bool WriteMovie(const std::string& path, const TMovieFrames& frames,
                const std::function<void(TBitmap32& picture)>& render, const TGifPalette& palette,
                int framesPerSecond) {
    if (frames.Count <= 0) RaiseError("The picture is empty");
    TAnimationWriter writer(path, palette, framesPerSecond);
    const TProgressRun run("Saving " + std::filesystem::path(path).filename().string() + "...");
    TBitmap32 picture;
    for (int i = 0; i < frames.Count; ++i) {
        if (!UpdateProgress(i, frames.Count, frames.Text(i))) return false;
        frames.Show(i);
        render(picture);
        writer.AddFrame(picture);
    }
    if (!UpdateProgress(frames.Count, frames.Count, "Optimizing image")) return false;
    writer.Save();
    return true;
}

} // namespace tarvicon::cli
