#pragma once
// What `tarvicon-cli --help` and `tarvicon-cli COMMAND --help` print: the whole usage of the
// program or of one command, each with an example.

#include <optional>
#include <string>

namespace tarvicon::cli {

// The help of a command ("dump", "params", "lut", "render", "tree"), or of the program for an
// empty name; none for an unknown command.
std::optional<std::string> HelpText(const std::string& command);

// True when the arguments ask for help: "--help" or "-h" anywhere.
bool AsksForHelp(int argc, char** argv);

} // namespace tarvicon::cli
