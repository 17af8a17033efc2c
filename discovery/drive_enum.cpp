#include "discovery/drive_enum.h"

#include <algorithm>
#include <exception>

namespace raid::discovery {

int ListLogicalDrives(DiscoveryState& d, platform::DiskSystem& disks,
                      const platform::PumpHook& pump) {
    std::vector<platform::VolumeInfo> volumes;
    try {
        volumes = disks.ListVolumes();
    } catch (const std::exception&) {
        // An unreadable volume list counts as no volumes; the next device
        // change tries again.
    }
    d.driveLetterList.clear();
    for (auto& v : volumes) {
        if (pump) pump();
        if (v.diskNumber < 0) continue;  // not on a numbered disk
        d.driveLetterList.push_back(std::move(v));
        if (static_cast<int>(d.driveLetterList.size()) == kMaxDriveLetters) break;
    }
    return static_cast<int>(d.driveLetterList.size());
}

int CountPhysicalDisks(device::CommandChannel& ch) {
    int count = 0;
    for (int n = 0; n < kMaxDisks; ++n) {
        if (device::OpenDevice(ch, n)) ++count;  // the handle closes here
    }
    return count;
}

void TakeDriveBaselines(DiscoveryState& d, device::CommandChannel& ch) {
    d.logicalDriveCount = ListLogicalDrives(d, ch.disks, ch.pump);
    d.physicalDiskCount = CountPhysicalDisks(ch);
}

void BuildVolumeTable(DiscoveryState& d, const Notices& notices, const platform::PumpHook& pump) {
    d.volumeTable.clear();
    const int count = std::min(d.logicalDriveCount, static_cast<int>(d.driveLetterList.size()));
    for (int i = 0; i < count; ++i) {
        if (i == kMaxVolumeRecords) {
            notices.Message("Drive Count Must less than 20.", "");
            return;
        }
        if (pump) pump();
        const auto& v = d.driveLetterList[static_cast<std::size_t>(i)];
        VolumeRecord r;
        r.letterIndex = static_cast<std::uint8_t>(i);
        r.driveType = v.driveType;
        r.label = v.Label();
        // A volume the platform could not look into has no extent.
        if (v.driveType != platform::kDriveOpenFailed) {
            r.diskNumber = static_cast<std::uint8_t>(v.diskNumber & 0xFF);
            r.startBytes = v.startBytes;
            r.lengthBytes = v.lengthBytes;
        }
        d.volumeTable.push_back(std::move(r));
    }
}

}  // namespace raid::discovery
