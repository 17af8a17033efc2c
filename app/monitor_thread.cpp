#include "app/monitor_thread.h"

#include "monitor/dispatcher.h"

namespace raid::app {

MonitorThread::MonitorThread(std::shared_ptr<ShellContext> context,
                             std::shared_ptr<HandOverGate> gate, std::function<void()> dispatcher)
    : context_(std::move(context)), gate_(std::move(gate)), dispatcher_(std::move(dispatcher)) {}

bool MonitorThread::Pass(const AppState& state, HandOverGate& gate,
                         const std::function<void()>& dispatcher) {
    if (!monitor::WorkerShouldDispatch(state)) return false;
    return gate.Run(dispatcher);
}

void MonitorThread::Start() {
    context_->state.monitor.requestInProgress = 0;
    thread_.Start([context = context_, gate = gate_,
                   dispatcher = dispatcher_](const std::atomic<bool>& stop) {
        while (!stop.load()) {
            Pass(context->state, *gate, dispatcher);
            context->clock->SleepMs(50);
        }
    });
}

}  // namespace raid::app
