#include "discovery/device_change_debounce.h"

#include <algorithm>

#include "discovery/device_changes.h"

namespace raid::discovery {
namespace {

const char* const kDetectingText = "Drive detecting";

bool DeviceWorkUnderWay(const AppState& state) {
    return state.shell.statusPollActive.load() || state.monitor.serving.load();
}

// A: the countdown runs; at its end the drive counts decide whether a
// discovery is worth running.
void CountdownStep(AppState& state, DiscoveryHost& host) {
    auto& shell = state.shell;
    auto& d = state.discovery;
    const std::uint8_t countdown = shell.deviceChangeCountdown.load();
    if (countdown < kCountdownEnd) {
        shell.deviceChangeCountdown = static_cast<std::uint8_t>(countdown + 1);
        return;
    }
    // Next tick: counting drives and starting a discovery wait until no
    // device work is under way (a poll or command pumping events, or a
    // discovery still probing or not yet applied).
    if (DeviceWorkUnderWay(state) || shell.detectBusy.load() || shell.detectDone.load()) return;
    host.SetUpgradeButtonEnabled(false);
    if (shell.exclusiveOperation.load()) {
        // A firmware upgrade owns the device: keep the count and try later.
        host.SetUpgradeButtonEnabled(true);
        return;
    }
    shell.detecting = true;
    shell.deviceChangeCountdown = 0;
    const int logical = host.CountLogicalDrives();
    const int physical = host.CountPhysicalDisks();
    if (logical == d.logicalDriveCount && physical == d.physicalDiskCount) {
        host.SetUpgradeButtonEnabled(true);
        shell.detecting = false;
        return;
    }
    d.logicalDriveCount = logical;
    d.physicalDiskCount = physical;
    shell.detectBusy = true;
    shell.detectRequest = true;
    if (d.deviceCount == 0) host.SetDetectionNoticeText(kDetectingText);
}

// B: a discovery finished on the detection thread; make it the current one.
void ApplyDiscovery(AppState& state, DiscoveryHost& host) {
    auto& shell = state.shell;
    auto& d = state.discovery;
    shell.detectDone = false;
    host.SetStatusPanel(1, "Detected OK");
    host.SetStatusPanel(2, " ");
    const int newCount = std::clamp(d.newDeviceCount, 0, kDeviceTableSize);
    for (int i = 0; i < kShownDevices; ++i) {
        host.Pump();
        host.SetDeviceSelector(i, i < newCount);
    }
    const std::function<void()> pump = [&host] { host.Pump(); };
    UpdateIdentityChangedAt(d, host.Now(), pump);
    if (shell.firstStatusPending.load()) {
        if (newCount > 0) {
            const int disk = static_cast<int>(d.newDeviceTable[0] & kDeviceEntryDiskMask);
            host.SetStatusTimeReference(d.identityChangedAt[static_cast<std::size_t>(disk)]);
        }
    } else {
        LogDeviceChanges(
            d,
            [&host](int kind, int device, int member) {
                host.RaiseMailEvent(kind, device, member);
            },
            pump);
    }
    d.deviceTable = d.newDeviceTable;
    d.deviceCount = newCount;
    for (int disk = 0; disk < kMaxDisks; ++disk) {
        host.Pump();
        d.previousIdentifyRecord[static_cast<std::size_t>(disk)] =
            d.identifyRecord[static_cast<std::size_t>(disk)];
    }

    if (d.deviceCount > 0) {
        if (d.currentDevice >= d.deviceCount) d.currentDevice = d.deviceCount - 1;
        host.SetPageButtonsEnabled(true);
        host.ShowEventLogButton();
        host.RefreshDeviceSummary();
        if (d.deviceChangeRedraw) host.ShowStatusPage();
        shell.detecting = false;
        shell.pollRequestFlags |= kPollAfterDiscovery;
        host.EnablePollTimers();
        host.SetDetectionNoticeVisible(false);
        host.SetDetectionNoticeText(" ");
    } else {
        host.SetPageButtonsEnabled(false);
        host.StopSmartCountdown();
        shell.detecting = false;
        host.SetDetectionNoticeText(kNoDriveText);
        host.SetDetectionNoticeVisible(true);
    }
}

}  // namespace

void OnDeviceChangeMessage(AppState& state) { state.shell.deviceChangeCountdown = kCountdownStart; }

void UpdateIdentityChangedAt(DiscoveryState& d, TimePoint now, const std::function<void()>& pump) {
    const int count = std::clamp(d.newDeviceCount, 0, kDeviceTableSize);
    for (int i = 0; i < count; ++i) {
        if (pump) pump();
        const auto disk = static_cast<std::size_t>(d.newDeviceTable[static_cast<std::size_t>(i)] &
                                                   kDeviceEntryDiskMask);
        if (disk >= static_cast<std::size_t>(kMaxDisks)) continue;
        if (!SameIdentity(d.identifyRecord[disk], d.previousIdentifyRecord[disk]))
            d.identityChangedAt[disk] = now;
    }
}

void OnDeviceChangeTick(AppState& state, DiscoveryHost& host) {
    auto& shell = state.shell;
    const std::uint8_t countdown = shell.deviceChangeCountdown.load();
    // A finished discovery is applied before the countdown's end starts the
    // next one; neither happens in the middle of a poll or command.
    const bool applyFirst = countdown >= kCountdownEnd && shell.detectDone.load();
    if (countdown != 0 && !applyFirst) {
        CountdownStep(state, host);
    } else if (shell.detectDone.load()) {
        if (DeviceWorkUnderWay(state)) return;
        ApplyDiscovery(state, host);
    } else if (shell.detectBusy.load() && host.DetectionNoticeText() == kDetectingText) {
        host.SetDetectionNoticeVisible(!host.DetectionNoticeVisible());
    }
}

}  // namespace raid::discovery
