#pragma once
// Modules: libraries beside the programs that are loaded on first use, so that the libraries they
// pull in (FFmpeg, DCMTK, libjxl) cost a program's start nothing.

#include <string>

namespace tarvicon {

// One entry point of a module, or none with the loader's reason.
struct TModuleEntry {
    void* Address = nullptr;
    std::string Failure;
};

// Loads the module `file` from the program's folder, else its ../lib/tarvicon/, else the library
// path, and finds `symbol` in it. The module stays loaded for the program's life. Callers keep
// the result in a function-local static, so that a module is looked for once.
TModuleEntry LoadModuleEntry(const std::string& file, const char* symbol);

} // namespace tarvicon
