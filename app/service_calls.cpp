#include "app/service_calls.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

namespace raid::app {
namespace {

// How long the end of the window waits for a call under way.
constexpr std::chrono::seconds kCallEndLimit{5};
// The longest the window's thread spends handing answers over in one turn.
constexpr std::chrono::milliseconds kDeliverySlice{10};

}  // namespace

std::string JoinedLines(const std::vector<std::string>& notes) {
    std::string text;
    for (const auto& note : notes) text += (text.empty() ? "" : "\n") + note;
    return text;
}

QString Joined(const std::vector<std::string>& notes) {
    return QString::fromStdString(JoinedLines(notes));
}

void Say(const std::string& text) { std::fprintf(stderr, "raidgui: %s\n", text.c_str()); }

// Shared with the calls' thread, which may outlive the window's object.
struct ServiceCallQueue {
    std::shared_ptr<client::EnclosureAccess> access;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable ended;  // a call ended
    std::deque<std::function<std::function<void()>(client::EnclosureAccess&)>> work;
    // What reaches the window: answers, each the end of a call, and what
    // calls tell before their answers.
    struct Delivery {
        std::function<void()> run;
        bool endsCall = true;
    };
    std::deque<Delivery> answers;
    ServiceCalls* receiver = nullptr;  // null once it is gone
    std::thread::id owner;             // the receiver's thread
    bool stop = false;
    bool running = false;  // a call is under way
    int pending = 0;
    std::thread thread;
};

ServiceCalls::ServiceCalls(std::shared_ptr<client::EnclosureAccess> access, bool runInline,
                           QObject* parent)
    : QObject(parent), queue_(std::make_shared<ServiceCallQueue>()), inline_(runInline) {
    queue_->access = std::move(access);
    queue_->receiver = this;
    queue_->owner = std::this_thread::get_id();
    if (inline_) return;
    queue_->thread = std::thread([queue = queue_] {
        std::unique_lock lock(queue->mutex);
        for (;;) {
            queue->wake.wait(lock, [&] { return queue->stop || !queue->work.empty(); });
            if (queue->stop) return;
            auto work = std::move(queue->work.front());
            queue->work.pop_front();
            queue->running = true;
            lock.unlock();
            auto answer = work(*queue->access);
            lock.lock();
            queue->running = false;
            queue->ended.notify_all();
            if (queue->receiver == nullptr) continue;
            queue->answers.push_back({std::move(answer), true});
            // No captures cross the threads: the answer waits under the lock.
            QMetaObject::invokeMethod(queue->receiver, &ServiceCalls::Deliver,
                                      Qt::QueuedConnection);
        }
    });
}

ServiceCalls::~ServiceCalls() {
    bool callUnderWay = false;
    {
        std::lock_guard lock(queue_->mutex);
        queue_->receiver = nullptr;
        queue_->stop = true;
        callUnderWay = queue_->running;
    }
    queue_->wake.notify_all();
    if (!queue_->thread.joinable()) return;
    // The window is gone by now: a call under way may end in its own time,
    // within the bus's answer time; one that waits longer (for a password)
    // is let go.
    if (callUnderWay) {
        std::unique_lock lock(queue_->mutex);
        callUnderWay =
            !queue_->ended.wait_for(lock, kCallEndLimit, [&] { return !queue_->running; });
    }
    if (callUnderWay) {
        queue_->thread.detach();
    } else {
        queue_->thread.join();
    }
}

void ServiceCalls::Messenger::operator()(std::function<void()> news) const {
    // Inline, what the call tells on its own thread (the engine's job tells
    // a flash's steps on a thread of its own) waits for the answer's turn.
    if (inline_ && std::this_thread::get_id() == queue_->owner) {
        news();
        return;
    }
    std::lock_guard lock(queue_->mutex);
    if (queue_->receiver == nullptr) return;
    queue_->answers.push_back({std::move(news), false});
    QMetaObject::invokeMethod(queue_->receiver, &ServiceCalls::Deliver, Qt::QueuedConnection);
}

ServiceCalls::Messenger ServiceCalls::messenger() const {
    Messenger messenger;
    messenger.queue_ = queue_;
    messenger.inline_ = inline_;
    return messenger;
}

int ServiceCalls::Pending() const {
    std::lock_guard lock(queue_->mutex);
    return queue_->pending;
}

void ServiceCalls::Post(Work work) {
    if (inline_) {
        {
            std::lock_guard lock(queue_->mutex);
            ++queue_->pending;
        }
        auto answer = work(*queue_->access);
        // What the call told from other threads comes first, in order.
        Deliver();
        {
            std::lock_guard lock(queue_->mutex);
            --queue_->pending;
        }
        answer();
        return;
    }
    {
        std::lock_guard lock(queue_->mutex);
        ++queue_->pending;
        queue_->work.push_back(std::move(work));
    }
    queue_->wake.notify_one();
}

void ServiceCalls::Deliver() {
    // A long backlog (a flash's steps while the window was busy) is handed
    // over in slices, so that the window's events get their turns between.
    const auto until = std::chrono::steady_clock::now() + kDeliverySlice;
    for (;;) {
        std::function<void()> delivery;
        {
            std::lock_guard lock(queue_->mutex);
            if (queue_->answers.empty()) return;
            if (!inline_ && std::chrono::steady_clock::now() > until) {
                QMetaObject::invokeMethod(this, &ServiceCalls::Deliver, Qt::QueuedConnection);
                return;
            }
            auto& front = queue_->answers.front();
            delivery = std::move(front.run);
            if (front.endsCall) --queue_->pending;
            queue_->answers.pop_front();
        }
        delivery();
    }
}

}  // namespace raid::app
