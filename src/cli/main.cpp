// tarvicon-cli: the core without a window.

#include "cli/Commands.h"
#include "cli/HelpTexts.h"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

namespace tarvicon::cli {

int Usage(const std::string& text) {
    std::fprintf(stderr, "usage: tarvicon-cli %s\n", text.c_str());
    return 2;
}

} // namespace tarvicon::cli

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "C");
    using namespace tarvicon::cli;
    const std::vector<std::string> args(argv + std::min(argc, 2), argv + argc);
    const std::string command = argc > 1 ? argv[1] : "";
    if (AsksForHelp(argc, argv)) {
        const bool forCommand = command != "--help" && command != "-h";
        if (const auto help = HelpText(forCommand ? command : "")) {
            std::fputs(help->c_str(), stdout);
            return 0;
        }
    }
    if (command == "dump") return DumpCommand(args);
    if (command == "params") return ParamsCommand(args);
    if (command == "lut") return LutCommand(args);
    if (command == "render") return RenderCommand(args);
    if (command == "tree") return TreeCommand(args);
    if (command == "find") return FindCommand(args);
    if (!command.empty()) std::fprintf(stderr, "tarvicon-cli: no command \"%s\"\n\n", command.c_str());
    std::fputs(HelpText("")->c_str(), stderr);
    return 2;
}
