#include "app/hand_over.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace raid::app {

struct HandOverQueue {
    struct Item {
        const std::function<void()>* work;
        bool done = false;
    };

    // Main thread: runs every queued work in order, or only lets its worker
    // go once the gate is shut.
    void Serve() {
        for (;;) {
            Item* item = nullptr;
            {
                std::lock_guard lock(mutex);
                if (pending.empty()) return;
                item = pending.front();
                pending.pop_front();
            }
            if (open.load()) {
                running.fetch_add(1);
                (*item->work)();
                running.fetch_sub(1);
            }
            // The worker may return and drop `item` as soon as the lock is
            // let go: nothing touches it after this.
            {
                std::lock_guard lock(mutex);
                item->done = true;
            }
            served.notify_all();
        }
    }

    std::atomic<bool> open{true};
    std::atomic<int> inFlight{0};
    std::atomic<int> running{0};  // hand-overs whose work has started
    std::mutex mutex;
    std::condition_variable served;
    std::deque<Item*> pending;
};

// Lives on the main thread as the receiver's child and serves the queue
// when a worker wakes it. A posted call would do, but Qt allocates its event
// on the worker and frees it on the main thread, ordered by a lock the
// sanitizer cannot see; an eventfd passes no memory.
class HandOverServer : public QObject {
    Q_OBJECT
public:
    HandOverServer(std::shared_ptr<HandOverQueue> queue, QObject* parent)
        : QObject(parent), queue_(std::move(queue)), wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
        if (wake_ >= 0) {
            notifier_ = new QSocketNotifier(wake_, QSocketNotifier::Read, this);
            connect(notifier_, &QSocketNotifier::activated, this, &HandOverServer::serve);
        }
    }
    // The receiver is going: a worker still waiting is let go unserved.
    ~HandOverServer() override {
        queue_->open.store(false);
        queue_->Serve();
        delete notifier_;
        if (wake_ >= 0) ::close(wake_);
    }

    // Any thread.
    void Wake() {
        const std::uint64_t one = 1;
        if (wake_ < 0 || ::write(wake_, &one, sizeof one) != sizeof one) {
            // Without the eventfd (or with its counter full) a posted call
            // still wakes the main thread.
            QMetaObject::invokeMethod(this, "serve", Qt::QueuedConnection);
        }
    }

public Q_SLOTS:
    void serve() {
        std::uint64_t count = 0;
        if (wake_ >= 0) (void)!::read(wake_, &count, sizeof count);
        queue_->Serve();
    }

private:
    std::shared_ptr<HandOverQueue> queue_;
    int wake_;
    QSocketNotifier* notifier_ = nullptr;
};

HandOverGate::HandOverGate(QObject* receiver)
    : queue_(std::make_shared<HandOverQueue>()),
      server_(new HandOverServer(queue_, receiver)),
      mainThread_(std::this_thread::get_id()) {}

bool HandOverGate::IsOpen() const { return queue_->open.load(); }

bool HandOverGate::Run(const std::function<void()>& work) {
    HandOverQueue& q = *queue_;
    if (std::this_thread::get_id() == mainThread_) {
        if (!q.open.load()) return false;
        work();
        return true;
    }
    // Announce first, then look at the gate: Close() stores the gate before
    // it reads the count, so either it sees this worker or the worker sees
    // the closed gate.
    q.inFlight.fetch_add(1);
    if (!q.open.load()) {
        q.inFlight.fetch_sub(1);
        return false;
    }
    HandOverQueue::Item item{&work};
    {
        std::lock_guard lock(q.mutex);
        q.pending.push_back(&item);
    }
    server_->Wake();
    {
        std::unique_lock lock(q.mutex);
        q.served.wait(lock, [&] { return item.done; });
    }
    q.inFlight.fetch_sub(1);
    return true;
}

bool HandOverGate::Close(std::chrono::milliseconds limit) {
    HandOverQueue& q = *queue_;
    q.open.store(false);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    // A hand-over whose work is running on this thread's stack (the close came
    // from a pump inside it) cannot end before this returns: waiting for it
    // would only spin until the limit.
    while (q.inFlight.load() > q.running.load()) {
        // Serve what the workers have queued; the shut gate makes each one a
        // no-op, and the worker wakes up and sees it.
        q.Serve();
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::yield();
    }
    return q.inFlight.load() == 0;
}

}  // namespace raid::app

#include "hand_over.moc"
