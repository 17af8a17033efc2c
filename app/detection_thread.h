#pragma once
// DriveDetectThread: runs the discoveries that Timer4 (or the start of the
// program) requests, on its own thread; Timer4 applies their results.
#include <memory>

#include "app/shell_context.h"
#include "app/worker_thread.h"
#include "discovery/notices.h"

namespace raid::app {

class DriveDetectThread {
public:
    // `notices` may be called from this thread; they must hand their work
    // over to the main thread themselves.
    DriveDetectThread(std::shared_ptr<ShellContext> context, discovery::Notices notices);

    void Start();
    void Halt() { thread_.Halt(); }
    bool Finish(std::chrono::milliseconds limit) { return thread_.Finish(limit); }

private:
    std::shared_ptr<ShellContext> context_;
    discovery::Notices notices_;
    WorkerThread thread_;
};

}  // namespace raid::app
