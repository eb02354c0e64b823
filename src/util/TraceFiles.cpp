#include "TraceFiles.h"

#include <cstdlib>

namespace tarvicon {

TTraceFile TTraceFile::FromEnvironment() {
    const char* path = std::getenv("TARVICON_TRACE");
    return TTraceFile(path ? path : "");
}

TTraceFile::TTraceFile(const std::string& path) {
    if (!path.empty()) file_.reset(std::fopen(path.c_str(), "a"));
}

void TTraceFile::Line(const std::string& text) const {
    if (!file_) return;
    const std::string line = OneLine(text);
    std::fwrite(line.data(), 1, line.size(), file_.get());
    std::fputc('\n', file_.get());
    std::fflush(file_.get());
}

std::string OneLine(const std::string& text) {
    std::string line;
    bool lineBreak = false;
    for (const char c : text) {
        if (c == '\n' || c == '\r') {
            lineBreak = true;
            continue;
        }
        if (lineBreak) line += ' ';
        lineBreak = false;
        line += c;
    }
    return line;
}

std::string ChangeLine(const std::string& path, const std::string& text) {
    return "Change " + path + " = " + text.substr(0, 32);
}

} // namespace tarvicon
