#include "app/service_mirror.h"

#include <algorithm>

#include "client/status_wire.h"
#include "discovery/device_change_debounce.h"

namespace raid::app {
namespace {

void CopyRecord(const std::vector<std::uint8_t>& from, Record512& to) {
    to.fill(0);
    std::copy_n(from.begin(), std::min(from.size(), to.size()), to.begin());
}

std::size_t DiskOf(const client::DeviceStatus& device) {
    return static_cast<std::size_t>(device.tableEntry & kDeviceEntryDiskMask);
}

}  // namespace

std::vector<client::DeviceStatus> WindowDevices(const std::vector<client::DeviceStatus>& devices) {
    std::vector<const client::DeviceStatus*> byIndex;
    for (const auto& device : devices) byIndex.push_back(&device);
    std::sort(byIndex.begin(), byIndex.end(),
              [](const auto* a, const auto* b) { return a->index < b->index; });
    std::vector<client::DeviceStatus> numbered;
    for (const auto* device : byIndex) {
        if (numbered.size() == static_cast<std::size_t>(kDeviceTableSize)) break;
        if (DiskOf(*device) < static_cast<std::size_t>(kMaxDisks)) numbered.push_back(*device);
    }
    return numbered;
}

bool MirrorEnclosures(AppState& state, const std::vector<client::DeviceStatus>& devices,
                      discovery::DiscoveryHost& discovery, monitor::MonitorHost& monitor) {
    auto& d = state.discovery;
    auto& shell = state.shell;
    std::array<std::uint32_t, kDeviceTableSize> table{};
    int count = 0;
    for (const auto& device : WindowDevices(devices)) {
        const std::size_t disk = DiskOf(device);
        table[static_cast<std::size_t>(count)] = device.tableEntry;
        CopyRecord(device.identifyRecord, d.identifyRecord[disk]);
        CopyRecord(device.statusRecord, state.monitor.deviceStatusRecord[disk]);
        if (count < kDeviceSlots)
            d.deviceSlots[static_cast<std::size_t>(count)] = client::SlotOf(device.discoverySlot);
        ++count;
    }
    const bool changed = count != d.deviceCount || table != d.deviceTable;
    d.deviceTable = table;
    d.newDeviceTable = table;
    d.deviceCount = count;
    d.newDeviceCount = count;
    d.previousIdentifyRecord = d.identifyRecord;
    shell.detecting = false;
    shell.detectBusy = false;
    shell.detectDone = false;

    if (changed) {
        for (int i = 0; i < kShownDevices; ++i) discovery.SetDeviceSelector(i, i < count);
        if (count > 0) {
            if (d.currentDevice >= count) d.currentDevice = count - 1;
            discovery.SetPageButtonsEnabled(true);
            discovery.ShowEventLogButton();
            discovery.RefreshDeviceSummary();
            discovery.SetDetectionNoticeVisible(false);
            discovery.SetDetectionNoticeText(" ");
        } else {
            discovery.SetPageButtonsEnabled(false);
            discovery.StopSmartCountdown();
            discovery.SetDetectionNoticeText(discovery::kNoDriveText);
            discovery.SetDetectionNoticeVisible(true);
        }
    }
    if (count == 0) return changed;
    if (monitor.CurrentPage() == monitor::kPageStatus)
        monitor.RefreshStatusPage(shell.firstStatusPending.load() || changed);
    if (monitor.CurrentPage() == monitor::kPageSetup) monitor.RefreshSetupPage();
    return changed;
}

}  // namespace raid::app
