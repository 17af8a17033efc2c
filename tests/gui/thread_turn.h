#pragma once
// Work on a thread of its own while the test's thread serves the event loop.
// A plain thread rather than std::async: libstdc++ runs an async task inside
// pthread_once, where ThreadSanitizer does not see the task's locks, so it
// would both miss races and report ordered accesses as races.
#include <atomic>
#include <optional>
#include <thread>
#include <utility>

namespace raid::app::test {

template <class T>
class ThreadTurn {
public:
    template <class Body>
    explicit ThreadTurn(Body body)
        : thread_([this, body = std::move(body)]() mutable {
              result_.emplace(body());
              ended_.store(true);
          }) {}
    ~ThreadTurn() {
        if (thread_.joinable()) thread_.join();
    }
    ThreadTurn(const ThreadTurn&) = delete;
    ThreadTurn& operator=(const ThreadTurn&) = delete;

    bool Ended() const { return ended_.load(); }
    // Waits for the thread to end.
    T Get() {
        thread_.join();
        return std::move(*result_);
    }

private:
    std::optional<T> result_;
    std::atomic<bool> ended_{false};
    std::thread thread_;  // last: it starts once the rest is built
};

}  // namespace raid::app::test
