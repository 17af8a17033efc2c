#include "discovery/target_disk.h"

namespace raid::discovery {

int TargetDisk(const AppState& state) {
    const auto& d = state.discovery;
    if (state.shell.detecting.load())
        return d.probeEntry.load() & static_cast<int>(kDeviceEntryDiskMask);
    const int index = d.currentDevice;
    if (index < 0 || index >= kDeviceTableSize) return d.DiskOf(0);
    return d.DiskOf(index);
}

}  // namespace raid::discovery
