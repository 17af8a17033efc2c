#include "app/unit6.h"

namespace raid::app {

void RaidDispatch(AppState& state, const RaidHandlers& handlers) {
    auto& requests = state.shell.PollRequestFlags;
    auto& inProgress = state.monitor.RequestInProgress;
    const std::uint8_t due = requests.load();

    // Bits 0 and 1: a running handler pumps messages, so the worker may hand
    // the dispatcher over again meanwhile; the in-progress bit turns that
    // second call away (lower bits wait too).
    for (const std::uint8_t bit : {poll::kStatusPoll, poll::kPendingCommand}) {
        if ((due & bit) == 0) continue;
        if ((inProgress & bit) != 0) return;
        inProgress |= bit;
        if (bit == poll::kStatusPoll) {
            if (handlers.StatusPoll) handlers.StatusPoll();
        } else if (handlers.ApplyPendingCommand) {
            handlers.ApplyPendingCommand();
        }
        // A request kind without a handler yet is dropped here, so that it
        // does not wake the worker forever.
        inProgress &= static_cast<std::uint8_t>(~bit);
        requests.fetch_and(static_cast<std::uint8_t>(~bit));
        return;
    }
    if ((due & poll::kSmartThresholds) != 0) {
        if (handlers.SmartThresholds) handlers.SmartThresholds();
        requests.fetch_and(static_cast<std::uint8_t>(~poll::kSmartThresholds));
        return;
    }
    if ((due & poll::kSmartData) != 0) {
        if (handlers.SmartData) handlers.SmartData();
        requests.fetch_and(static_cast<std::uint8_t>(~poll::kSmartData));
    }
}

TRaidThread::TRaidThread(std::shared_ptr<ShellContext> context, std::shared_ptr<HandOverGate> gate,
                         std::function<void()> dispatcher)
    : context_(std::move(context)), gate_(std::move(gate)), dispatcher_(std::move(dispatcher)) {}

bool TRaidThread::Pass(const ShellFlags& flags, HandOverGate& gate,
                       const std::function<void()>& dispatcher) {
    if (flags.DetectBusy.load()) return false;
    if ((flags.PollRequestFlags.load() & poll::kWakeMask) == 0) return false;
    return gate.Run(dispatcher);
}

void TRaidThread::Start() {
    context_->state.monitor.RequestInProgress = 0;
    thread_.Start([context = context_, gate = gate_,
                   dispatcher = dispatcher_](const std::atomic<bool>& stop) {
        while (!stop.load()) {
            Pass(context->state.shell, *gate, dispatcher);
            context->clock->SleepMs(50);
        }
    });
}

}  // namespace raid::app
