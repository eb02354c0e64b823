#include "catalogue/CommandLines.h"

#include "dicom/DicomWeb.h"
#include "util/Strings.h"

#include <filesystem>

namespace tarvicon {

bool TakeCommandLineArgument(const std::string& argument, TCommandLine& commandLine) {
    if (argument.empty() || argument[0] != '-') {
        commandLine.Paths.push_back(argument);
        return true;
    }
    const std::string option = UpperCase(argument.substr(0, 2));
    const std::string value = argument.substr(std::min<std::size_t>(2, argument.size()));
    std::string* field = option == "-C"   ? &commandLine.ConfigPath
                         : option == "-W" ? &commandLine.Prefix
                         : option == "-K" ? &commandLine.Key
                                          : nullptr;
    if (!field) return false;
    if (field->empty()) *field = value;
    return true;
}

std::string ConfigurationPath(const TCommandLine& commandLine, const std::string& programPath) {
    if (!commandLine.ConfigPath.empty()) return commandLine.ConfigPath;
    return std::filesystem::path(programPath).replace_extension(".cfg").string();
}

void AddPaths(TDicomTree& tree, const TCommandLine& commandLine) {
    for (const std::string& path : commandLine.Paths) {
        std::error_code error;
        if (IsDicomWebAddress(path))
            tree.AddDicomWeb(path);
        else if (!commandLine.Prefix.empty() || !commandLine.Key.empty())
            tree.LoadIndex(commandLine.Prefix, commandLine.Key, path);
        else if (std::filesystem::is_regular_file(path, error))
            tree.AddFolder(std::filesystem::path(path).parent_path().string());
        else
            tree.AddFolder(path);
    }
}

std::string MissingPath(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        if (path.find("://") != std::string::npos) continue;
        std::error_code error;
        if (!std::filesystem::exists(path, error)) return "No such file or folder: " + path;
    }
    return {};
}

std::string NothingToLoad(const std::vector<std::string>& paths) {
    if (std::string missing = MissingPath(paths); !missing.empty()) return missing;
    std::string all;
    for (const std::string& path : paths) all += (all.empty() ? "" : ", ") + ShownAddress(path);
    return "No DICOM files found in " + all;
}

bool ProcessCommandLine(TDicomTree& tree, const TCommandLine& commandLine) {
    if (commandLine.Paths.empty()) return false;
    tree.Clear();
    AddPaths(tree, commandLine);
    return true;
}

} // namespace tarvicon
