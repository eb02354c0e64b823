// tarvicon-cli render: one picture of a cuboid or a loaded series as a view shows it, after the
// parameter options and the series commands given; the rotation or the slice loop as a movie; the
// export legend on both.

#include "catalogue/AnimationFiles.h"
#include "catalogue/AutoLevels.h"
#include "catalogue/DicomObjects.h"
#include "catalogue/Exports.h"
#include "catalogue/ViewPictures.h"
#include "cli/Commands.h"
#include "cli/LegendFonts.h"
#include "cli/Movies.h"
#include "cli/ParameterOptions.h"
#include "cli/StudyLoading.h"
#include "cli/TerminalProgress.h"
#include "config/ColorMappings.h"
#include "util/Errors.h"
#include "util/Host.h"
#include "util/NumberTexts.h"
#include "util/Strings.h"
#include "volume/PictureFiles.h"
#include "volume/Slices.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <exception>
#include <fstream>
#include <optional>

namespace tarvicon::cli {

namespace {

const std::string kUsage =
    std::string("render (--cuboid FILE | [-wPREFIX] [-kKEY] PATH... [--add PATH...] [--series N]) ") +
    ParameterOptionsUsage() +
    " [--view detail|coronar|sagital|transaxial] [--position X,Y,Z | --world X,Y,Z] "
    "[--op OP]... [-o OUT.jpg|OUT.bmp] [--legend] [--movie rotate|slices OUT.gif|OUT.mp4|OUT.webm] [--fps N]"
    " [--autolevels COUNT] [--raw OUT] [--save-cuboid OUT] [--repeat N] [--yes]";

struct TRenderOptions {
    std::string cuboid;
    std::string view = "detail";
    std::optional<TCubePoint> position, world;
    std::vector<std::string> operations;
    std::string picture, raw, saveCuboid;
    int repeat = 0;
    bool yes = false;
    bool legend = false;
    std::optional<TMovieKind> movieKind;
    std::string movie;
    std::optional<int> framesPerSecond;
    TStudySources sources;
    int series = 0;
    std::optional<int> autolevels;
    // The parameter options after the configuration: they act once the series is shown, as a
    // user's changes do after the automatic set-up.
    std::vector<std::string> parameterOptions;
    bool configured = false;
};

std::optional<TCubePoint> ParsePoint(const std::string& text) {
    std::string rest = text;
    std::array<long long, 3> v{};
    for (long long& c : v) {
        const auto number = ParseInteger(SplitFirst(rest, ','));
        if (!number || *number < INT32_MIN || *number > INT32_MAX) return std::nullopt;
        c = *number;
    }
    if (!rest.empty()) return std::nullopt;
    return TCubePoint{std::int32_t(v[0]), std::int32_t(v[1]), std::int32_t(v[2])};
}

// The cube operations as the study tree's series commands on the shown series.
void ApplyOperation(TParameterSession& session, TDicomTree& tree, const std::string& operation) {
    static constexpr struct {
        const char* Operation;
        const char* Command;
    } kCommands[] = {
        {"mirror-x", "detail/series/xpose-left-right"}, {"mirror-y", "detail/series/xpose-top-bottom"},
        {"mirror-z", "detail/series/xpose-near-far"},   {"upscale-x", "detail/series/upscale-x"},
        {"upscale-y", "detail/series/upscale-y"},       {"upscale-z", "detail/series/upscale-z"},
        {"upscale-u", "detail/series/upscale-u"},       {"revert", "detail/series/revert"}};
    for (const auto& command : kCommands)
        if (operation == command.Operation) {
            session.Existing(command.Command).NotifyListeners();
            return;
        }
    if (operation == "filter") {
        session.Existing("detail/series/filter").SetAsInteger(1);
    } else if (operation.rfind("rotate:", 0) == 0) {
        std::string rest = operation.substr(7);
        const std::string axes = SplitFirst(rest, ':');
        const auto degrees = ParseReal(rest);
        if (axes.empty() || !degrees) RaiseError("Invalid operation " + operation);
        tree.RotateSelected(axes, *degrees, session.Existing("detail/twin").GetAsInteger() != 0);
    } else {
        RaiseError("Invalid operation " + operation);
    }
}

void WriteRaw(const TSliceCache& cache, const std::string& path) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    std::string bytes;
    bytes.reserve(cache.Count() * 2);
    for (std::size_t i = 0; i < cache.Count(); ++i) {
        bytes += char(cache.Values()[i] & 0xFF);
        bytes += char(cache.Values()[i] >> 8);
    }
    file.write(bytes.data(), std::streamsize(bytes.size()));
    if (!file) RaiseError("Cannot write file \"" + path + "\"");
}

TViewSettings ViewSettingsOf(TParameterSession& session, const std::string& view) {
    TViewSettings settings =
        view == "detail" ? DetailViewSettings(session.Root()) : NavigationViewSettings(view);
    settings.SmallestExtent = 0;
    return settings;
}

int Render(TParameterSession& session, const TRenderOptions& options, const TLegendFonts* fonts) {
    // A cuboid file is shown as an object of its own; DICOM inputs load as the viewer loads them.
    TDicomTree tree;
    tree.OperationPause = 0;
    session.BindTree(tree);
    TDicomObject* shown = nullptr;
    if (!options.cuboid.empty()) {
        shown = &tree.AddCuboidFile(options.cuboid);
    } else {
        if (const std::string missing = MissingSource(options.sources); !missing.empty()) RaiseError(missing);
        const std::string stopped = LoadStudy(tree, options.sources);
        if (!stopped.empty()) RaiseError(stopped);
        if (const std::string nothing = NothingFound(tree, options.sources); !nothing.empty())
            RaiseError(nothing);
        shown = tree.ObjectAt(options.series);
        if (!shown)
            RaiseError("There is no series " + std::to_string(options.series) + ": " + StudyContents(tree));
    }
    tree.SelectObject(shown);
    session.SetDetailObject(shown);
    if (options.configured) session.AutoSetup(shown, true);
    for (std::size_t i = 0; i < options.parameterOptions.size(); ++i)
        TakeParameterOption(session, options.parameterOptions, i);
    for (const std::string& operation : options.operations) ApplyOperation(session, tree, operation);
    TPixelCube& cube = shown->Cube();
    if (!options.saveCuboid.empty()) cube.SaveToFile(options.saveCuboid);

    if (options.world) shown->SetWorldPosition(*options.world);
    if (options.position) shown->SetPosition(*options.position);
    if (cube.ByteSize() == 0)
        RaiseError(options.cuboid.empty() ? "The series holds no picture: " + StudyContents(tree)
                                          : "The series holds no picture");
    if (options.autolevels)
        Autolevels(*shown, session.Existing("detail/colormapping/level"), *options.autolevels);
    // The main window hands the projection switches to the shown object.
    shown->SetMipDetail(session.Existing("detail/mip-detail").GetAsInteger() != 0);
    shown->SetMipNavi(session.Existing("detail/mip-navi").GetAsInteger() != 0);

    const TViewSettings settings = ViewSettingsOf(session, options.view);
    TColorMapping& mapping = session.DetailMapping();
    TBitmap32 picture;
    TSliceCache cache;
    BuildViewPicture(shown, &mapping, settings, picture, cache);
    if (options.repeat > 0) {
        std::vector<double> times;
        for (int i = 0; i < options.repeat; ++i) {
            const auto start = std::chrono::steady_clock::now();
            cache.Clear();
            BuildViewPicture(shown, &mapping, settings, picture, cache);
            times.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        }
        std::sort(times.begin(), times.end());
        std::printf("median_ms=%s\n", FormatFixed(times[times.size() / 2], 3).c_str());
    }
    const std::string legend = fonts ? ExportLegend(shown) : std::string();
    // The movie before the files of the single picture: a movie that fails writes nothing.
    if (options.movieKind) {
        const TMovieFrames frames = *options.movieKind == TMovieKind::Rotate
                                        ? RotationFrames(session.Existing("detail/angle"))
                                        : SliceFrames(*shown, settings.Path);
        TSliceCache frameCache;
        const auto render = [&](TBitmap32& frame) {
            BuildViewPicture(shown, &mapping, ViewSettingsOf(session, options.view), frame, frameCache);
            if (fonts) fonts->Draw(frame, legend);
        };
        if (!WriteMovie(options.movie, frames, render, GifPaletteOf(mapping),
                        options.framesPerSecond.value_or(DefaultFramesPerSecond(*options.movieKind))))
            return 1;
    }
    if (!options.picture.empty()) {
        if (fonts) fonts->Draw(picture, legend);
        SavePicture(picture, options.picture);
    }
    if (!options.raw.empty()) {
        if (cube.PixelSize() != 2) RaiseError("Raw values exist only for 16-bit cuboids");
        WriteRaw(cache, options.raw);
    }
    return 0;
}

} // namespace

int RenderCommand(const std::vector<std::string>& args) {
    try {
        TParameterSession session;
        TRenderOptions options;
        for (std::size_t i = 0; i < args.size(); ++i) {
            // The configuration is read at once; the other parameter options wait for the series.
            if (args[i] == "--config") {
                const auto taken = TakeParameterOption(session, args, i);
                if (taken != TTake::Taken) return Usage(kUsage);
                options.configured = true;
                continue;
            }
            if (args[i] == "--snapshot") {
                options.parameterOptions.push_back(args[i]);
                continue;
            }
            if (args[i] == "--apply" || args[i] == "--set" || args[i] == "--fire" || args[i] == "--get") {
                if (i + 1 >= args.size()) return Usage(kUsage);
                options.parameterOptions.push_back(args[i]);
                options.parameterOptions.push_back(args[++i]);
                continue;
            }
            const std::string& option = args[i];
            if (option == "--yes") {
                options.yes = true;
                continue;
            }
            if (option == "--legend") {
                options.legend = true;
                continue;
            }
            if ((option == "--add" || (option.rfind("--", 0) != 0 && option != "-o")) &&
                TakeStudyArgument(option, options.sources))
                continue;
            if (i + 1 >= args.size()) return Usage(kUsage);
            const std::string& value = args[++i];
            if (option == "--cuboid") {
                options.cuboid = value;
            } else if (option == "--view") {
                if (value != "detail" && value != "coronar" && value != "sagital" && value != "transaxial")
                    return Usage(kUsage);
                options.view = value;
            } else if (option == "--position" || option == "--world") {
                const auto point = ParsePoint(value);
                if (!point) return Usage(kUsage);
                (option == "--position" ? options.position : options.world) = point;
            } else if (option == "--op") {
                options.operations.push_back(value);
            } else if (option == "-o") {
                options.picture = value;
            } else if (option == "--movie") {
                options.movieKind = MovieKindOf(value);
                if (!options.movieKind || i + 1 >= args.size() || !IsMovieFileName(args[i + 1]))
                    return Usage(kUsage);
                options.movie = args[++i];
            } else if (option == "--fps") {
                const auto n = ParseInteger(value);
                if (!n || *n < 1 || *n > 240) return Usage(kUsage);
                options.framesPerSecond = int(*n);
            } else if (option == "--raw") {
                options.raw = value;
            } else if (option == "--save-cuboid") {
                options.saveCuboid = value;
            } else if (option == "--autolevels") {
                const auto n = ParseInteger(value);
                if (!n || *n < -100000 || *n > 100000) return Usage(kUsage);
                options.autolevels = int(*n);
            } else if (option == "--series") {
                const auto n = ParseInteger(value);
                if (!n || *n < 0 || *n > 1000000) return Usage(kUsage);
                options.series = int(*n);
            } else if (option == "--repeat") {
                const auto n = ParseInteger(value);
                if (!n || *n < 1 || *n > 100000) return Usage(kUsage);
                options.repeat = int(*n);
            } else {
                return Usage(kUsage);
            }
        }
        if (options.cuboid.empty() == options.sources.First.Paths.empty()) return Usage(kUsage);
        if (options.legend && !LegendUnavailable().empty()) {
            std::fprintf(stderr, "%s\n", LegendUnavailable().c_str());
            return 2;
        }
        THeadlessHost host(options.yes);
        const TScopedHost scopedHost(host);
        const TTerminalProgress progress;
        std::optional<TLegendFonts> fonts;
        if (options.legend) fonts.emplace();
        return Render(session, options, fonts ? &*fonts : nullptr);
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}

} // namespace tarvicon::cli
