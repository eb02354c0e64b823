// TPixelCube::LoadFromStream over arbitrary bytes (ten header words, the count, the voxels).

#include "volume/PixelCube.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream stream(std::string(reinterpret_cast<const char*>(data), size));
    try {
        tarvicon::TPixelCube cube;
        cube.LoadFromStream(stream);
        (void)cube.Describe();
    } catch (const std::exception&) {
    }
    return 0;
}
