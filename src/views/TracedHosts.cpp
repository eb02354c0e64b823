#include "views/TracedHosts.h"

namespace tarvicon {

bool TTracedHost::AskYesNo(const std::string& question) {
    if (!trace_.Enabled()) return qt_.AskYesNo(question);
    trace_.Line("Question " + question);
    return false;
}

void TTracedHost::Notice(const std::string& text) {
    if (OnNotice) OnNotice(text);
    if (trace_.Enabled())
        trace_.Line("Notice " + text);
    else
        qt_.Notice(text);
}

} // namespace tarvicon
