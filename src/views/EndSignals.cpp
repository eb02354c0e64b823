#include "views/EndSignals.h"

#include <QSocketNotifier>
#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace tarvicon {

namespace {

sigset_t EndSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

} // namespace

TEndSignals::TEndSignals() {
    const sigset_t set = EndSignalSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    descriptor_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

TEndSignals::~TEndSignals() {
    if (descriptor_ >= 0) close(descriptor_);
}

void TEndSignals::Watch(QObject& owner, std::function<void()> onEnd) const {
    if (descriptor_ < 0) return;
    auto* notifier = new QSocketNotifier(descriptor_, QSocketNotifier::Read, &owner);
    const int descriptor = descriptor_;
    QObject::connect(notifier, &QSocketNotifier::activated, &owner, [descriptor, onEnd = std::move(onEnd)] {
        signalfd_siginfo info;
        while (read(descriptor, &info, sizeof info) == sizeof info) {
        }
        onEnd();
    });
}

} // namespace tarvicon
