// tarvicon-cli tree: the study tree of folders, files and index documents.

#include "cli/Commands.h"

namespace tarvicon::cli {

int TreeCommand(const std::vector<std::string>& args) {
    (void)args;
    return Usage("tree [-wPREFIX] [-kKEY] PATH...");
}

} // namespace tarvicon::cli
