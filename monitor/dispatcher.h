#pragma once
// The monitoring worker's dispatcher: which queued request runs next.
#include <functional>

#include "common/state.h"

namespace raid::monitor {

// The request handlers. An empty one means its request kind has no handler
// (yet): its bit is cleared without running anything, so that it does not
// wake the worker forever.
struct MonitorHandlers {
    std::function<void()> StatusPoll;           // bit 0
    std::function<bool()> ApplyPendingCommand;  // bit 1
    std::function<void()> SmartThresholds;      // bit 3: SMART read with feature 0xD1
    std::function<void()> SmartData;            // bit 5: SMART read with feature 0xD0
};

// Worker thread: true when the dispatcher is due (DetectBusy clear and any of
// bits 0, 1, 3, 5 of PollRequestFlags set). Reads only atomics.
bool WorkerShouldDispatch(const AppState& state);

// Main thread: serves exactly one request, the first set bit in the order 0,
// 1, 3, 5, and clears its bit afterwards. Bits 0 and 1 are guarded by
// RequestInProgress: their handlers pump window events, so the worker may
// hand the dispatcher over again meanwhile; such a call returns at once
// without looking at later bits.
void DispatchOnce(AppState& state, MonitorHandlers& handlers);

}  // namespace raid::monitor
