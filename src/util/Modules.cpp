#include "util/Modules.h"

#include "util/Folders.h"

#include <dlfcn.h>

namespace tarvicon {

TModuleEntry LoadModuleEntry(const std::string& file, const char* symbol) {
    TModuleEntry entry;
    void* module = nullptr;
    for (const std::string& candidate : {ExeDir() + file, ExeDir() + "../lib/tarvicon/" + file, file}) {
        module = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module) break;
        // The first place's reason says most: it is where the module belongs.
        if (entry.Failure.empty()) entry.Failure = dlerror();
    }
    if (!module) return entry;
    entry.Address = dlsym(module, symbol);
    entry.Failure = entry.Address ? "" : dlerror();
    return entry;
}

} // namespace tarvicon
