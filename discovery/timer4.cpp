#include "discovery/timer4.h"

#include <algorithm>

#include "discovery/device_changes.h"

namespace raid::discovery {
namespace {

const char* const kDetectingText = "Drive detecting";
const char* const kNoDriveText = "No Drive found! ";

// A: the countdown runs; at its end the drive counts decide whether a
// discovery is worth running.
void CountdownStep(AppState& state, DiscoveryHost& host) {
    auto& shell = state.shell;
    auto& d = state.discovery;
    const std::uint8_t countdown = shell.DeviceChangeCountdown.load();
    if (countdown < kCountdownEnd) {
        shell.DeviceChangeCountdown = static_cast<std::uint8_t>(countdown + 1);
        return;
    }
    if (shell.StatusPollActive.load()) return;  // next tick
    host.SetUpgradeImageEnabled(false);
    if (shell.ExclusiveOperation.load()) {
        // A firmware upgrade owns the device: keep the count and try later.
        host.SetUpgradeImageEnabled(true);
        return;
    }
    shell.Detecting = true;
    shell.DeviceChangeCountdown = 0;
    const int logical = host.CountLogicalDrives();
    const int physical = host.CountPhysicalDisks();
    if (logical == d.LogicalDriveCount && physical == d.PhysicalDiskCount) {
        host.SetUpgradeImageEnabled(true);
        shell.Detecting = false;
        return;
    }
    d.LogicalDriveCount = logical;
    d.PhysicalDiskCount = physical;
    shell.DetectBusy = true;
    shell.DetectRequest = true;
    if (d.DeviceCount == 0) host.SetStaticText1Text(kDetectingText);
}

// B: a discovery finished on the detection thread; make it the current one.
void ApplyDiscovery(AppState& state, DiscoveryHost& host) {
    auto& shell = state.shell;
    auto& d = state.discovery;
    shell.DetectDone = false;
    host.SetStatusPanel(1, "Detected OK");
    host.SetStatusPanel(2, " ");
    const int newCount = std::clamp(d.NewDeviceCount, 0, kDeviceTableSize);
    for (int i = 0; i < kShownDevices; ++i) {
        host.Pump();
        host.SetDeviceSelector(i, i < newCount);
    }
    const std::function<void()> pump = [&host] { host.Pump(); };
    UpdateIdentityChangedAt(d, host.Now(), pump);
    if (shell.FirstStatusPending.load()) {
        if (newCount > 0) {
            const int disk = static_cast<int>(d.NewDeviceTable[0] & kDeviceEntryDiskMask);
            host.SetStatusTimeReference(d.IdentityChangedAt[static_cast<std::size_t>(disk)]);
        }
    } else {
        LogDeviceChanges(
            d,
            [&host](int kind, int device, int member) {
                host.RaiseMailEvent(kind, device, member);
            },
            pump);
    }
    d.DeviceTable = d.NewDeviceTable;
    d.DeviceCount = newCount;
    for (int disk = 0; disk < kMaxDisks; ++disk) {
        host.Pump();
        d.PreviousIdentifyRecord[static_cast<std::size_t>(disk)] =
            d.IdentifyRecord[static_cast<std::size_t>(disk)];
    }

    if (d.DeviceCount > 0) {
        if (d.currentDevice >= d.DeviceCount) d.currentDevice = d.DeviceCount - 1;
        host.SetPageImagesEnabled(true);
        host.ShowLogImage();
        host.RefreshDeviceSummary();
        if (d.deviceChangeRedraw) host.ShowStatusPage();
        shell.Detecting = false;
        shell.PollRequestFlags |= kPollAfterDiscovery;
        host.EnablePollTimers();
        host.SetStaticText1Visible(false);
        host.SetStaticText1Text(" ");
    } else {
        host.SetPageImagesEnabled(false);
        host.DisableTimer3();
        shell.Detecting = false;
        host.SetStaticText1Text(kNoDriveText);
        host.SetStaticText1Visible(true);
    }
}

}  // namespace

void OnDeviceChangeMessage(AppState& state) { state.shell.DeviceChangeCountdown = kCountdownStart; }

void UpdateIdentityChangedAt(DiscoveryState& d, TimePoint now, const std::function<void()>& pump) {
    const int count = std::clamp(d.NewDeviceCount, 0, kDeviceTableSize);
    for (int i = 0; i < count; ++i) {
        if (pump) pump();
        const auto disk = static_cast<std::size_t>(d.NewDeviceTable[static_cast<std::size_t>(i)] &
                                                   kDeviceEntryDiskMask);
        if (disk >= static_cast<std::size_t>(kMaxDisks)) continue;
        if (d.IdentifyRecord[disk] != d.PreviousIdentifyRecord[disk])
            d.IdentityChangedAt[disk] = now;
    }
}

void Timer4Tick(AppState& state, DiscoveryHost& host) {
    auto& shell = state.shell;
    if (shell.DeviceChangeCountdown.load() != 0) {
        CountdownStep(state, host);
    } else if (shell.DetectDone.load()) {
        ApplyDiscovery(state, host);
    } else if (shell.DetectBusy.load() && host.StaticText1Text() == kDetectingText) {
        host.SetStaticText1Visible(!host.StaticText1Visible());
    }
}

}  // namespace raid::discovery
