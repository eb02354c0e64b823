#include "util/Host.h"

#include <chrono>
#include <cstdio>

namespace tarvicon {

namespace {

THeadlessHost& DefaultHost() {
    static THeadlessHost host;
    return host;
}

IHost* installed = nullptr;

} // namespace

bool THeadlessHost::AskYesNo(const std::string& question) {
    std::fprintf(stderr, "%s %s\n", question.c_str(), answerYes_ ? "Yes" : "No");
    return answerYes_;
}

void THeadlessHost::Notice(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
}

std::uint64_t THeadlessHost::TickCount() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

IHost& Host() {
    return installed ? *installed : DefaultHost();
}

void SetHost(IHost* host) {
    installed = host;
}

TScopedHost::TScopedHost(IHost& host) : previous_(installed) {
    installed = &host;
}

TScopedHost::~TScopedHost() {
    installed = previous_;
}

} // namespace tarvicon
