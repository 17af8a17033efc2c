#pragma once
// A worker thread that can always be let go. Halting sets a flag the loop
// checks before each step; Finish() waits a bounded time and then detaches a
// thread still busy (for instance inside a discovery whose disk stopped
// answering). A detached thread only touches what its body captured by
// shared pointer, so nothing it uses is freed under it.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace raid::app {

class WorkerThread {
public:
    // The loop; it returns when `stop` becomes true.
    using Body = std::function<void(const std::atomic<bool>& stop)>;

    WorkerThread() = default;
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    void Start(Body body);
    bool Started() const { return thread_.joinable(); }
    // Asks the loop to end; does not wait.
    void Halt();
    // Halts, then waits up to `limit` for the loop to end. A thread that has
    // not ended by then is detached. True when it ended.
    bool Finish(std::chrono::milliseconds limit);
    // True once the loop has ended (or never started); never waits.
    bool Ended() const;

private:
    struct Control {
        std::atomic<bool> stop{false};
        std::mutex mutex;
        std::condition_variable ended;
        bool finished = false;
    };
    std::shared_ptr<Control> control_ = std::make_shared<Control>();
    std::thread thread_;
};

}  // namespace raid::app
