// tarvicon-cli render: one picture of a cuboid as a view would show it, after the parameter
// options and the cube operations given.

#include "catalogue/AutoLevels.h"
#include "catalogue/DicomObjects.h"
#include "cli/Commands.h"
#include "cli/ParameterSession.h"
#include "cli/StudyLoading.h"
#include "cli/TerminalProgress.h"
#include "config/ColorMappings.h"
#include "util/Errors.h"
#include "util/Host.h"
#include "util/Progress.h"
#include "util/Strings.h"
#include "volume/CubeOperations.h"
#include "volume/PictureFiles.h"
#include "volume/PictureRules.h"
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

const std::string kUsage = std::string("render --cuboid FILE ") + TParameterSession::Options() +
                           " [--view detail|coronar|sagital|transaxial] [--position X,Y,Z | --world X,Y,Z] "
                           "[--op OP]... [-o OUT.jpg|OUT.bmp]"
                           " [--autolevels COUNT] [--raw OUT] [--save-cuboid OUT] [--repeat N] [--yes]";

struct TRenderOptions {
    std::string cuboid;
    std::string view = "detail";
    std::optional<TCubePoint> position, world;
    std::vector<std::string> operations;
    std::string picture, raw, saveCuboid;
    int repeat = 0;
    bool yes = false;
    TStudySources sources;
    int series = 0;
    std::optional<int> autolevels;
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

// The series commands as the study tree runs them on the shown object.
void ApplyOperation(TDicomObject& object, const std::string& operation) {
    const auto mirror = [&object](void (*flip)(TPixelCube&)) {
        object.SaveOriginal();
        flip(object.Cube());
    };
    if (operation == "mirror-x") {
        mirror(MirrorX);
    } else if (operation == "mirror-y") {
        mirror(MirrorY);
    } else if (operation == "mirror-z") {
        mirror(MirrorZ);
    } else if (operation == "upscale-x" || operation == "upscale-y" || operation == "upscale-z") {
        const char axis = char(operation.back() - 'a' + 'A');
        const TProgressRun run(std::string("Upscaling ") + axis);
        if (axis == 'X')
            object.UpscaleX();
        else if (axis == 'Y')
            object.UpscaleY();
        else
            object.UpscaleZ();
    } else if (operation == "upscale-u") {
        const TProgressRun run("Upscaling");
        object.UpscaleAuto();
    } else if (operation == "filter") {
        const TProgressRun run("Filter #1");
        const auto kernel = SeriesFilterKernel();
        object.ApplyFilter(1, kernel);
    } else if (operation.rfind("rotate:", 0) == 0) {
        std::string rest = operation.substr(7);
        const std::string axes = SplitFirst(rest, ':');
        const auto degrees = ParseReal(rest);
        if (axes.empty() || !degrees) RaiseError("Invalid operation " + operation);
        object.Rotate(axes, *degrees);
    } else if (operation == "revert") {
        object.Revert();
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

int Render(TParameterSession& session, const TRenderOptions& options) {
    // A cuboid file is shown as an object of its own; DICOM inputs load as the viewer loads them.
    TDicomTree tree;
    TDicomSingleImage cuboid;
    TDicomObject* shown = &cuboid;
    if (!options.cuboid.empty()) {
        cuboid.Cube().LoadFromFile(options.cuboid);
    } else {
        ConnectTradeOff(tree, session);
        const std::string stopped = LoadStudy(tree, options.sources);
        if (!stopped.empty()) RaiseError(stopped);
        shown = tree.ObjectAt(options.series);
        if (!shown) RaiseError("There is no series " + std::to_string(options.series));
    }
    for (const std::string& operation : options.operations) ApplyOperation(*shown, operation);
    TPixelCube& cube = shown->Cube();
    if (!options.saveCuboid.empty()) cube.SaveToFile(options.saveCuboid);

    const bool detail = options.view == "detail";
    std::string path = options.view == "coronar" ? "RFT" : options.view == "sagital" ? "BFR" : "RBF";
    if (detail) {
        path = session.Existing("detail/path").GetText();
        if (path.empty()) path = "RBF";
    }
    if (!options.cuboid.empty())
        shown->SetPosition({std::int32_t(cube.Width() / 2), std::int32_t(cube.Height() / 2),
                            std::int32_t(cube.Depth() / 2)});
    if (options.world) shown->SetWorldPosition(*options.world);
    if (options.position) shown->SetPosition(*options.position);
    const TCubePoint position = shown->Position();
    if (cube.ByteSize() == 0) RaiseError("The series holds no picture");

    if (options.autolevels)
        Autolevels(*shown, NodeAt<TConfigNode>(session.Root(), "detail/colormapping/level"),
                   *options.autolevels);
    auto& mapping = NodeAt<TColorMapping>(session.Root(), "detail/colormapping");
    mapping.SetGamma(session.Existing("detail/gamma").GetAsFloat());
    auto& table = shown->ColorTable();
    mapping.FillTable(&table);

    TPictureInputs inputs;
    inputs.PictureWidth = cube.ExtentAlong(path, 0);
    inputs.PictureHeight = cube.ExtentAlong(path, 1);
    inputs.Depth = cube.ExtentAlong(path, 2);
    inputs.Thickness = detail ? session.Existing("detail/thickness").GetAsInteger() : 1;
    inputs.MipAllowed = detail;
    inputs.MipDetail = session.Existing("detail/mip-detail").GetAsInteger() != 0;
    inputs.MipNavi = session.Existing("detail/mip-navi").GetAsInteger() != 0;
    inputs.HasMapping = true;
    inputs.WindowLow = mapping.WindowLow();
    inputs.PhaseSplit = mapping.PhaseSplit();
    const TPictureRequest request = ChoosePictureRequest(inputs);
    const std::int32_t angle = detail ? session.Existing("detail/angle").GetAsInteger() : 0;
    const std::int32_t depthWeight = detail ? session.Existing("detail/light3d").GetAsInteger() : 0;

    TBitmap32 picture;
    TSliceCache cache;
    const auto renderOnce = [&] {
        cache.Clear();
        cube.RenderSlice({position, path, request.Mode, table, request.Thickness, angle, depthWeight,
                          request.Threshold},
                         picture, cache);
    };
    renderOnce();
    if (options.repeat > 0) {
        std::vector<double> times;
        for (int i = 0; i < options.repeat; ++i) {
            const auto start = std::chrono::steady_clock::now();
            renderOnce();
            times.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        }
        std::sort(times.begin(), times.end());
        std::printf("median_ms=%.3f\n", times[times.size() / 2]);
    }
    if (!options.picture.empty()) SavePicture(picture, options.picture);
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
            const auto taken = session.Take(args, i);
            if (taken == TParameterSession::TTake::Taken) continue;
            if (taken == TParameterSession::TTake::BadUsage) return Usage(kUsage);
            const std::string& option = args[i];
            if (option == "--yes") {
                options.yes = true;
                continue;
            }
            if (option.rfind("--", 0) != 0 && option != "-o" && TakeStudyArgument(option, options.sources))
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
        if (options.cuboid.empty() == options.sources.Paths.empty()) return Usage(kUsage);
        THeadlessHost host(options.yes);
        const TScopedHost scopedHost(host);
        const TTerminalProgress progress;
        return Render(session, options);
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}

} // namespace tarvicon::cli
