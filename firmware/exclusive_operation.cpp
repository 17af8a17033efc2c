#include "firmware/exclusive_operation.h"

namespace raid::firmware {

bool BeginExclusiveOperation(ShellFlags& shell, UpgradeHost& host) {
    bool expected = false;
    if (!shell.exclusiveOperation.compare_exchange_strong(expected, true)) return false;
    host.SetSelectorsEnabled(false);
    return true;
}

void EndExclusiveOperation(ShellFlags& shell, UpgradeHost& host) {
    shell.operationDeviceIndex = kNoOperationDevice;
    host.SetSelectorsEnabled(true);
    shell.exclusiveOperation = false;
}

ExclusiveOperation::ExclusiveOperation(AppState& state, device::CommandChannel& ch,
                                       UpgradeHost& host)
    : state_(state), ch_(ch), host_(host), notices_(NoticesFor(host)) {
    held_ = BeginExclusiveOperation(state.shell, host);
    if (!held_) return;
    previousPump_ = ch.pump;
    ch.pump = [&host] { host.Pump(); };
    notices_.statusText = [this](const std::string& text) { SetStatus(text); };
}

ExclusiveOperation::~ExclusiveOperation() { End(); }

void ExclusiveOperation::End() {
    if (!held_) return;
    held_ = false;
    ch_.pump = previousPump_;
    EndExclusiveOperation(state_.shell, host_);
}

void ExclusiveOperation::SelectDevice(int deviceIndex) {
    state_.shell.operationDeviceIndex =
        deviceIndex < 0 ? kNoOperationDevice : static_cast<std::uint32_t>(deviceIndex);
}

void ExclusiveOperation::SetStatus(const std::string& text) {
    status_ = text;
    host_.SetStatusText(text);
}

}  // namespace raid::firmware
