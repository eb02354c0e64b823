// tarvicon-cli dump: the element list of one file, as stored.

#include "cli/Commands.h"
#include "dicom/Dicoms.h"

#include <cstdio>
#include <exception>
#include <fstream>

namespace tarvicon::cli {

namespace {

constexpr const char* kDumpUsage = "dump [--numbers] [--pixels OUT] FILE|http://...";

void PrintElements(const TDicomFile& file) {
    for (const std::string& line : file.Elements()) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
    }
}

void PrintNumbers(const TDicomFile& file) {
    std::printf("Width=%u\nHeight=%u\nPixelFormat=%s\nFrameCount=%u\nSlicePosition=%d\nImageNumber=%d\n"
                "PixelDataSize=%u\n",
                unsigned(file.Width()), unsigned(file.Height()), PixelFormatName(file.PixelFormat()),
                unsigned(file.FrameCount()), file.SlicePosition(), file.ImageNumber(), file.PixelDataSize());
}

bool WritePixels(const TDicomFile& file, const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.PixelData()), file.PixelDataSize());
    out.close();
    if (!out) std::fprintf(stderr, "Cannot create file \"%s\"\n", path.c_str());
    return static_cast<bool>(out);
}

} // namespace

int DumpCommand(const std::vector<std::string>& args) {
    bool numbers = false;
    std::string pixels;
    std::string source;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--numbers")
            numbers = true;
        else if (args[i] == "--pixels" && i + 1 < args.size())
            pixels = args[++i];
        else if (args[i].starts_with("--") || !source.empty())
            return Usage(kDumpUsage);
        else
            source = args[i];
    }
    if (source.empty()) return Usage(kDumpUsage);

    TDicomFile file;
    try {
        file.LoadFromFile(source);
    } catch (const std::exception& error) {
        PrintElements(file);
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    PrintElements(file);
    if (numbers) PrintNumbers(file);
    std::fflush(stdout);
    if (!pixels.empty() && !WritePixels(file, pixels)) return 1;
    return 0;
}

} // namespace tarvicon::cli
