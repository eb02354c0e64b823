#pragma once
// Sub-commands of tarvicon-cli. Each returns the process exit status: 0 done, 1 failed (the
// message on stderr as the viewer words it), 2 bad usage.

#include <string>
#include <vector>

namespace tarvicon::cli {

int DumpCommand(const std::vector<std::string>& args);
int ParamsCommand(const std::vector<std::string>& args);
int LutCommand(const std::vector<std::string>& args);
int RenderCommand(const std::vector<std::string>& args);
int TreeCommand(const std::vector<std::string>& args);
int FindCommand(const std::vector<std::string>& args);

// Prints "usage: tarvicon-cli " + text to stderr and returns 2.
int Usage(const std::string& text);

} // namespace tarvicon::cli
