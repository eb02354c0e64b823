#include "TraceFiles.h"

#include "ViewerRules.h"

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

} // namespace tarvicon
