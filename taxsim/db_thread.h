#pragma once
// One thread that owns the service's database connection. A Qt SQL connection
// may only be used by the thread that opened it, while requests arrive on the
// HTTP server's worker threads and on the caller's thread; every piece of work
// is therefore handed to this thread and the caller waits for its result. This
// also serialises all requests: one runs at a time, in arrival order.
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <type_traits>

namespace taxsim {

class DbThread {
public:
    DbThread();
    ~DbThread();
    DbThread(const DbThread&) = delete;
    DbThread& operator=(const DbThread&) = delete;

    // Runs `f` on the thread and returns its result (exceptions are rethrown
    // here). Called from the thread itself, `f` runs at once.
    template <class F>
    auto call(F&& f) -> std::invoke_result_t<F>
    {
        using R = std::invoke_result_t<F>;
        if (std::this_thread::get_id() == thread_.get_id())
            return f();
        std::packaged_task<R()> task(std::forward<F>(f));
        std::future<R> result = task.get_future();
        enqueue([&task] { task(); });
        return result.get();
    }

private:
    void enqueue(std::function<void()> job);
    void loop();

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace taxsim
