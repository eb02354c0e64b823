#pragma once
// The program's trace: one line per event appended to the file that the environment variable
// TARVICON_TRACE names, each flushed at once, so that an end-to-end check can poll the file for
// what the window did. Without the variable nothing is written.

#include <cstdio>
#include <memory>
#include <string>

namespace tarvicon {

class TTraceFile {
public:
    // Opens the file TARVICON_TRACE names for appending; none when it is unset or empty.
    static TTraceFile FromEnvironment();
    // Appends to path; an empty path (or one that cannot be opened) writes nothing.
    explicit TTraceFile(const std::string& path);

    // True when lines go to a file: the program then never stops for a message box.
    bool Enabled() const { return file_ != nullptr; }
    // Appends text (its line breaks turned into spaces) and a line break, and flushes both.
    void Line(const std::string& text) const;

private:
    struct TCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, TCloser> file_;
};

// The text on one line: each run of line breaks becomes one space (a trace line, a status line).
std::string OneLine(const std::string& text);

// "Change PATH = TEXT" with the first 32 characters of the node's text.
std::string ChangeLine(const std::string& path, const std::string& text);

} // namespace tarvicon
