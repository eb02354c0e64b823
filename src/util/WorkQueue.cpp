#include "util/WorkQueue.h"

#include <algorithm>

namespace tarvicon {

TWorkQueue::TWorkQueue(unsigned threads) {
    if (threads == 0) threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    for (unsigned t = 0; t < threads; ++t) threads_.emplace_back([this] { Run(); });
}

TWorkQueue::~TWorkQueue() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    ready_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

void TWorkQueue::Run() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) return; // stopping, and every job queued before has run
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

} // namespace tarvicon
