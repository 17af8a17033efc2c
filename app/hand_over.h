#pragma once
// The synchronous hand-over of work from a worker thread to the main thread,
// with a gate the main thread closes when the window closes.
//
// A worker blocked in Qt::BlockingQueuedConnection waits for the main thread,
// so the main thread must never wait for such a worker. Close() therefore does
// not wait for the workers: it shuts the gate (later hand-overs return at once
// without running anything) and itself serves the hand-overs already posted,
// as no-ops, until no worker is inside Run().
#include <QObject>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace raid::app {

class HandOverGate {
public:
    // `receiver` lives on the main thread and must outlive every Run() that
    // got past the gate (Close() returning true guarantees there are none).
    explicit HandOverGate(QObject* receiver);

    // Worker side: runs `work` on the receiver's thread and waits for it.
    // Called on the receiver's own thread it runs `work` directly. False
    // when the gate is closed (then `work` does not run).
    bool Run(const std::function<void()>& work);

    // Main thread: no more hand-overs. True when no worker is left inside
    // Run(); false when one still is after `limit`, or at once when the only
    // ones left are running their work further down this thread's stack
    // (then the receiver must be kept alive).
    bool Close(std::chrono::milliseconds limit);

    bool IsOpen() const { return open_.load(); }

private:
    QObject* receiver_;
    std::thread::id mainThread_;
    std::atomic<bool> open_{true};
    std::atomic<int> inFlight_{0};
    std::atomic<int> running_{0};  // hand-overs whose work has started
};

}  // namespace raid::app
