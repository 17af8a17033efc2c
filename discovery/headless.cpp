#include "discovery/headless.h"

#include <exception>

#include "discovery/drive_enum.h"
#include "discovery/probe.h"

namespace raid::discovery {

void DiscoverOnce(AppState& state, device::CommandChannel& ch) {
    state.shell.detecting = true;
    TakeDriveBaselines(state.discovery, ch);
    RunDiscovery(state, ch);
    auto& d = state.discovery;
    d.deviceTable = d.newDeviceTable;
    d.deviceCount = d.newDeviceCount;
    d.previousIdentifyRecord = d.identifyRecord;
    state.shell.detecting = false;
    state.shell.detectBusy = false;
    state.shell.detectRequest = false;
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
