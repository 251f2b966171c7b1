#pragma once
// Threads that own database connections. A Qt SQL connection may only be used
// by the thread that opened it, while requests arrive on the HTTP server's
// worker threads and on the caller's thread; every piece of database work is
// therefore handed to one of these threads and the caller waits for its
// result. With one thread (the writer) work runs one piece at a time, in
// arrival order; with several (the readers) pieces run side by side, each
// thread on its own connection.
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace taxsim {

class DbThread {
public:
    // `onExit` runs on each thread just before it ends (to close what the
    // thread opened).
    explicit DbThread(int threads = 1, std::function<void()> onExit = {});
    ~DbThread();
    DbThread(const DbThread&) = delete;
    DbThread& operator=(const DbThread&) = delete;

    // Runs `f` on one of the threads and returns its result (exceptions are
    // rethrown here). Called from one of the threads itself, `f` runs at once.
    template <class F>
    auto call(F&& f) -> std::invoke_result_t<F> {
        using R = std::invoke_result_t<F>;
        if (isOwnThread()) return f();
        std::packaged_task<R()> task(std::forward<F>(f));
        std::future<R> result = task.get_future();
        enqueue([&task] { task(); });
        return result.get();
    }

    // Queues `job` for one of the threads and returns at once.
    void post(std::function<void()> job) { enqueue(std::move(job)); }

    bool isOwnThread() const;

private:
    void enqueue(std::function<void()> job);
    void loop();

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::function<void()> onExit_;
    std::vector<std::thread> threads_;
};

} // namespace taxsim
