#pragma once
// The viewer's command line: "-c" names the configuration document, "-w" and "-k" the prefix
// and key of index documents (each recognised by its first two characters in any letter case,
// the value joined to it, the first one winning); every other argument names something to open.

#include "catalogue/DicomTrees.h"

#include <string>
#include <vector>

namespace tarvicon {

struct TCommandLine {
    std::string ConfigPath; // "-c"; empty: the program's path with the extension ".cfg"
    std::string Prefix;     // "-w": put before each instance key of an index document
    std::string Key;        // "-k": key of protected entries
    std::vector<std::string> Paths;
};

// Takes one argument into the command line; false for an option other than -c, -w and -k.
bool TakeCommandLineArgument(const std::string& argument, TCommandLine& commandLine);

// The configuration document's path: "-c", else the program's path with its extension
// replaced by ".cfg".
std::string ConfigurationPath(const TCommandLine& commandLine, const std::string& programPath);

// Queues what the command line names: the tree is cleared before the first path; a "dicomweb:"
// address is a study or series of a DICOMweb server; with a prefix or key a path is an index
// document, else an existing file's folder or the path as a folder.
// True when at least one path was handed over.
bool ProcessCommandLine(TDicomTree& tree, const TCommandLine& commandLine);

// Queues more paths into the tree as the viewer's Add folder does: nothing is cleared.
void AddPaths(TDicomTree& tree, const TCommandLine& commandLine);

// "No such file or folder: PATH" for the first local path that does not exist; empty when all
// exist (addresses are not checked: their fetch says what is wrong).
std::string MissingPath(const std::vector<std::string>& paths);
// Why paths gave nothing to load: MissingPath, else "No DICOM files found in PATH, …" (addresses
// shown without their login).
std::string NothingToLoad(const std::vector<std::string>& paths);

} // namespace tarvicon
