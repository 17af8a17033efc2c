#include "discovery/headless.h"

#include <exception>

#include "discovery/drive_enum.h"
#include "discovery/probe.h"

namespace raid::discovery {

void DiscoverOnce(AppState& state, device::CommandChannel& ch) {
    state.shell.Detecting = true;
    TakeDriveBaselines(state.discovery, ch);
    RunDiscovery(state, ch);
    auto& d = state.discovery;
    d.DeviceTable = d.NewDeviceTable;
    d.DeviceCount = d.NewDeviceCount;
    d.PreviousIdentifyRecord = d.IdentifyRecord;
    state.shell.Detecting = false;
    state.shell.DetectBusy = false;
    state.shell.DetectRequest = false;
}

std::string PermissionProblem(platform::DiskSystem& disks) {
    std::vector<platform::DiskInfo> list;
    try {
        list = disks.ListDisks();
    } catch (const std::exception&) {
        return {};
    }
    for (const auto& info : list) {
        if (info.number < 0 || info.number >= kMaxDisks) continue;
        try {
            auto r = disks.OpenDisk(info.number);
            if (!r && r.error == platform::OpenError::PermissionDenied)
                return r.message.empty() ? "Raw disk access needs root or the disk group."
                                         : r.message;
        } catch (const std::exception&) {
            // A disk that cannot even be tried says nothing about rights.
        }
    }
    return {};
}

}  // namespace raid::discovery
