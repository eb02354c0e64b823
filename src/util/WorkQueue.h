#pragma once
// A few worker threads that run jobs in the background while their owner goes on; the owner
// collects each job's result through its future, in whatever order it needs. The threads live
// as long as the queue and are joined when it goes.

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace tarvicon {

class TWorkQueue {
public:
    // threads 0: one per core, at most four.
    explicit TWorkQueue(unsigned threads = 0);
    ~TWorkQueue();
    TWorkQueue(const TWorkQueue&) = delete;
    TWorkQueue& operator=(const TWorkQueue&) = delete;

    // Queues a job; its result (or its exception) arrives through the future.
    template <typename F>
    auto Submit(F job) -> std::future<decltype(job())> {
        using R = decltype(job());
        auto task = std::make_shared<std::packaged_task<R()>>(std::move(job));
        auto result = task->get_future();
        {
            const std::lock_guard lock(mutex_);
            jobs_.emplace_back([task] { (*task)(); });
        }
        ready_.notify_one();
        return result;
    }

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace tarvicon
