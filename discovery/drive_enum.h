#pragma once
// The drive baselines of change detection and the volume table: which
// "drive letters" (partitions of the numbered disks) exist and where they lie.
#include "common/state.h"
#include "device/channel.h"
#include "discovery/notices.h"
#include "platform/clock.h"

namespace raid::discovery {

inline constexpr int kMaxDriveLetters = 24;
inline constexpr int kMaxVolumeRecords = 20;

// Fills DriveLetterList with the partitions of the numbered disks, in the
// platform's order, at most 24, pumping before each; returns its length.
int ListLogicalDrives(DiscoveryState& d, platform::DiskSystem& disks,
                      const platform::PumpHook& pump = {});

// How many of the physical disks 0..9 can be opened; each is closed at once.
int CountPhysicalDisks(device::CommandChannel& ch);

// Takes both baselines (LogicalDriveCount, PhysicalDiskCount) as the start
// of the program does.
void TakeDriveBaselines(DiscoveryState& d, device::CommandChannel& ch);

// Fills VolumeTable from the first LogicalDriveCount entries of
// DriveLetterList. At the 21st entry the message "Drive Count Must less than
// 20." (no caption) is given and the rest is left out.
void BuildVolumeTable(DiscoveryState& d, const Notices& notices = {},
                      const platform::PumpHook& pump = {});

}  // namespace raid::discovery
