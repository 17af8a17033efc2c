#pragma once
// The monitoring thread. It decides when a queued request is
// due (monitor::WorkerShouldDispatch) and hands the dispatcher to the main
// thread, where all controller commands except discovery's run.
#include <functional>
#include <memory>

#include "app/hand_over.h"
#include "app/shell_context.h"
#include "app/worker_thread.h"

namespace raid::app {

class MonitorThread {
public:
    // `dispatcher` serves one request (monitor::DispatchOnce) on the main
    // thread; it is handed over through `gate`.
    MonitorThread(std::shared_ptr<ShellContext> context, std::shared_ptr<HandOverGate> gate,
                  std::function<void()> dispatcher);

    // Clears RequestInProgress (on the calling, main, thread) and starts.
    void Start();
    void Halt() { thread_.Halt(); }
    bool Finish(std::chrono::milliseconds limit) { return thread_.Finish(limit); }
    bool Ended() const { return thread_.Ended(); }

    // One turn of the loop before its 50 ms sleep: true when the dispatcher
    // was handed over.
    static bool Pass(const AppState& state, HandOverGate& gate,
                     const std::function<void()>& dispatcher);

private:
    std::shared_ptr<ShellContext> context_;
    std::shared_ptr<HandOverGate> gate_;
    std::function<void()> dispatcher_;
    WorkerThread thread_;
};

}  // namespace raid::app
