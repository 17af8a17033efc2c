#pragma once
// TRaidThread: the monitoring worker. It decides when a queued request is
// due and hands the dispatcher to the main thread, where all controller
// commands except discovery's run.
#include <functional>
#include <memory>

#include "app/hand_over.h"
#include "app/shell_context.h"
#include "app/worker_thread.h"

namespace raid::app {

// The handlers the dispatcher calls; an empty one means the request kind has
// no handler yet and its bit is simply cleared.
struct RaidHandlers {
    std::function<void()> StatusPoll;
    std::function<bool()> ApplyPendingCommand;
    std::function<void()> SmartThresholds;  // SMART read with feature 0xD1
    std::function<void()> SmartData;        // SMART read with feature 0xD0
};

// Main thread: serves exactly one request, the first set bit of
// PollRequestFlags in the order 0, 1, 3, 5. Bits 0 and 1 are guarded by
// RequestInProgress against re-entry from the message pump inside their
// handlers.
void RaidDispatch(AppState& state, const RaidHandlers& handlers);

class TRaidThread {
public:
    // `dispatcher` runs RaidDispatch on the main thread; it is handed over
    // through `gate`.
    TRaidThread(std::shared_ptr<ShellContext> context, std::shared_ptr<HandOverGate> gate,
                std::function<void()> dispatcher);

    // Clears RequestInProgress (on the calling, main, thread) and starts.
    void Start();
    void Halt() { thread_.Halt(); }
    bool Finish(std::chrono::milliseconds limit) { return thread_.Finish(limit); }

    // One turn of the loop before its 50 ms sleep: true when the dispatcher
    // was handed over.
    static bool Pass(const ShellFlags& flags, HandOverGate& gate,
                     const std::function<void()>& dispatcher);

private:
    std::shared_ptr<ShellContext> context_;
    std::shared_ptr<HandOverGate> gate_;
    std::function<void()> dispatcher_;
    WorkerThread thread_;
};

}  // namespace raid::app
