#include "taxsim/db_thread.h"

#include <algorithm>

namespace taxsim {

DbThread::DbThread(int threads, std::function<void()> onExit) : onExit_(std::move(onExit)) {
    for (int i = 0; i < std::max(1, threads); ++i) threads_.emplace_back([this] { loop(); });
}

DbThread::~DbThread() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    cv_.notify_all();
    for (std::thread& t : threads_) t.join();
}

bool DbThread::isOwnThread() const {
    const std::thread::id self = std::this_thread::get_id();
    return std::any_of(threads_.begin(), threads_.end(), [&](const std::thread& t) { return t.get_id() == self; });
}

void DbThread::enqueue(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    cv_.notify_one();
}

void DbThread::loop() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            cv_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) break; // stopping and nothing left to do
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
    if (onExit_) onExit_();
}

} // namespace taxsim
