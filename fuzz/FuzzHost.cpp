// Every target runs with a host that keeps notices to itself: a notice per input would drown
// libFuzzer's output and slow it down. Nothing in the core may ask the user anything here.

#include "util/Host.h"

#include <cstdint>
#include <string>

namespace {

class TQuietHost final : public tarvicon::IHost {
public:
    bool AskYesNo(const std::string&) override { return false; }
    void Notice(const std::string&) override {}
    bool ShiftHeld() override { return false; }
    bool CapsLockToggled() override { return false; }
    std::uint64_t TickCount() override { return headless_.TickCount(); }
    int ScreenWidth() override { return 1920; }

private:
    tarvicon::THeadlessHost headless_;
};

TQuietHost quietHost;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    tarvicon::SetHost(&quietHost);
    return 0;
}
