// TDicomTree::LoadIndex on an index document: parse and selection only. The queued instances
// point into a folder that does not exist, so the fetch threads find nothing; nothing is loaded.

#include "catalogue/DicomTrees.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::string IndexPath() {
    static const std::string path = (std::filesystem::temp_directory_path() /
                                     ("tarvicon-fuzz-index-" + std::to_string(getpid()) + ".xml"))
                                        .string();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = IndexPath();
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    try {
        tarvicon::TDicomTree tree;
        tree.LoadIndex("/nonexistent-tarvicon-fuzz-folder/", "", path);
    } catch (const std::exception&) {
    }
    std::remove(path.c_str());
    return 0;
}
