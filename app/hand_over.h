#pragma once
// The synchronous hand-over of work from a worker thread to the main thread,
// with a gate the main thread closes when the window closes.
//
// A worker inside Run() waits for the main thread, so the main thread must
// never wait for such a worker. Close() therefore does not wait for the
// workers: it shuts the gate (later hand-overs return at once without
// running anything) and itself serves the hand-overs already queued, as
// no-ops, until no worker is inside Run().
//
// The queue of hand-overs and the wait for them are a mutex and a condition
// variable of our own, not Qt's blocking queued call: Qt orders that through
// its own semaphore, which ThreadSanitizer cannot see into (Qt is not built
// with it). The main thread is woken through an eventfd it watches, so no
// memory passes between the threads outside that lock.
#include <QObject>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace raid::app {

struct HandOverQueue;
class HandOverServer;

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

    bool IsOpen() const;

private:
    // Shared with the receiver's child that serves the queue, so that
    // either may go first.
    std::shared_ptr<HandOverQueue> queue_;
    HandOverServer* server_;  // a child of the receiver
    std::thread::id mainThread_;
};

}  // namespace raid::app
