#include "monitor/dispatcher.h"

namespace raid::monitor {

bool WorkerShouldDispatch(const AppState& state) {
    if (state.shell.detectBusy.load()) return false;
    return (state.shell.pollRequestFlags.load() & poll::kWakeMask) != 0;
}

namespace {

// Marks the device work of one request, also when it is nested in another's
// pump.
class Serving {
public:
    explicit Serving(std::atomic<bool>& flag) : flag_(flag), was_(flag.exchange(true)) {}
    ~Serving() { flag_.store(was_); }
    Serving(const Serving&) = delete;
    Serving& operator=(const Serving&) = delete;

private:
    std::atomic<bool>& flag_;
    bool was_;
};

}  // namespace

void DispatchOnce(AppState& state, MonitorHandlers& handlers) {
    Serving serving(state.monitor.serving);
    auto& requests = state.shell.pollRequestFlags;
    auto& inProgress = state.monitor.requestInProgress;
    const std::uint8_t due = requests.load();

    for (const std::uint8_t bit : {poll::kStatusPoll, poll::kPendingCommand}) {
        if ((due & bit) == 0) continue;
        if ((inProgress & bit) != 0) return;
        inProgress |= bit;
        if (bit == poll::kStatusPoll) {
            if (handlers.StatusPoll) handlers.StatusPoll();
        } else if (handlers.ApplyPendingCommand) {
            handlers.ApplyPendingCommand();
        }
        inProgress &= static_cast<std::uint8_t>(~bit);
        requests.fetch_and(static_cast<std::uint8_t>(~bit));
        return;
    }
    for (const std::uint8_t bit : {poll::kSmartThresholds, poll::kSmartData}) {
        if ((due & bit) == 0) continue;
        auto& handler =
            bit == poll::kSmartThresholds ? handlers.SmartThresholds : handlers.SmartData;
        if (handler) handler();
        requests.fetch_and(static_cast<std::uint8_t>(~bit));
        return;
    }
}

}  // namespace raid::monitor
