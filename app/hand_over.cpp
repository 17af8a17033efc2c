#include "app/hand_over.h"

#include <QCoreApplication>
#include <QEvent>

namespace raid::app {

HandOverGate::HandOverGate(QObject* receiver)
    : receiver_(receiver), mainThread_(std::this_thread::get_id()) {}

bool HandOverGate::Run(const std::function<void()>& work) {
    if (std::this_thread::get_id() == mainThread_) {
        if (!open_.load()) return false;
        work();
        return true;
    }
    // Announce first, then look at the gate: Close() stores the gate before
    // it reads the count, so either it sees this worker or the worker sees
    // the closed gate.
    inFlight_.fetch_add(1);
    if (!open_.load()) {
        inFlight_.fetch_sub(1);
        return false;
    }
    // The blocking call orders the two threads through Qt's own locks,
    // which ThreadSanitizer cannot see into (Qt is not built with it); this
    // release/acquire handshake states that order where it can: what the
    // work did is seen by this thread afterwards.
    std::atomic<int> handshake{0};
    handshake.store(1, std::memory_order_release);
    QMetaObject::invokeMethod(
        receiver_,
        [this, &work, &handshake] {
            (void)handshake.load(std::memory_order_acquire);
            if (open_.load()) {
                running_.fetch_add(1);
                work();
                running_.fetch_sub(1);
            }
            handshake.store(2, std::memory_order_release);
        },
        Qt::BlockingQueuedConnection);
    (void)handshake.load(std::memory_order_acquire);
    inFlight_.fetch_sub(1);
    return true;
}

bool HandOverGate::Close(std::chrono::milliseconds limit) {
    open_.store(false);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    // A hand-over whose work is running on this thread's stack (the close came
    // from a pump inside it) cannot end before this returns: waiting for it
    // would only spin until the limit.
    while (inFlight_.load() > running_.load()) {
        // Serve what the workers have posted; the gate makes each one a
        // no-op, and the worker wakes up and sees the gate shut.
        QCoreApplication::sendPostedEvents(receiver_, QEvent::MetaCall);
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::yield();
    }
    return inFlight_.load() == 0;
}

}  // namespace raid::app
