#pragma once
// The detection thread: runs the discoveries that the device-change tick (or
// the start of the program) requests, on its own thread; the tick applies
// their results.
#include <memory>

#include "app/shell_context.h"
#include "app/worker_thread.h"
#include "discovery/notices.h"

namespace raid::app {

class DetectionThread {
public:
    // `notices` may be called from this thread; they must hand their work
    // over to the main thread themselves.
    DetectionThread(std::shared_ptr<ShellContext> context, discovery::Notices notices);

    void Start();
    void Halt() { thread_.Halt(); }
    bool Finish(std::chrono::milliseconds limit) { return thread_.Finish(limit); }
    bool Ended() const { return thread_.Ended(); }

private:
    std::shared_ptr<ShellContext> context_;
    discovery::Notices notices_;
    WorkerThread thread_;
};

}  // namespace raid::app
