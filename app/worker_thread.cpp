#include "app/worker_thread.h"

namespace raid::app {

WorkerThread::~WorkerThread() { Finish(std::chrono::milliseconds(0)); }

void WorkerThread::Start(Body body) {
    if (thread_.joinable()) return;
    thread_ = std::thread([control = control_, body = std::move(body)] {
        body(control->stop);
        std::lock_guard lock(control->mutex);
        control->finished = true;
        control->ended.notify_all();
    });
}

void WorkerThread::Halt() { control_->stop.store(true); }

bool WorkerThread::Ended() const {
    if (!thread_.joinable()) return true;
    std::lock_guard lock(control_->mutex);
    return control_->finished;
}

bool WorkerThread::Finish(std::chrono::milliseconds limit) {
    Halt();
    if (!thread_.joinable()) return true;
    bool finished = false;
    {
        std::unique_lock lock(control_->mutex);
        finished = control_->ended.wait_for(lock, limit, [this] { return control_->finished; });
    }
    if (finished) {
        thread_.join();
    } else {
        thread_.detach();
    }
    return finished;
}

}  // namespace raid::app
