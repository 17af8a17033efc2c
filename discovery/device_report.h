#pragma once
// The device table as a person or a script reads it (`raidctl list`).
#include <iosfwd>
#include <string>
#include <vector>

#include "common/state.h"
#include "platform/clock.h"
#include "platform/disk.h"

namespace raid::discovery {

struct DeviceRow {
    int device = 0;  // device index (0 = "Device1")
    int disk = 0;    // physical disk number
    std::string devicePath;
    std::string model;
    std::string firmware;
    std::uint8_t portMultiplier = 0;  // 1 = port-multiplier (hybrid) bridge
    std::uint8_t featureMask = 0;
    std::vector<std::string> driveLetters;  // labels of the volumes on the disk
};

// Identify bytes 54..93 in reading order, blanks and NULs trimmed at both
// ends; bytes that are not printable ASCII become '.'.
std::string ModelText(const Record512& identify);

// Identify bytes 46..53 in reading order when all eight are 0x20 or above,
// else bytes 46, 47, 48 as upper-case hex, ".", and the low nibble of 49.
std::string FirmwareText(const Record512& identify);

// "disk 2 (/dev/sdc)", or "disk 2" when `list` does not name it.
std::string DiskText(int number, const std::vector<platform::DiskInfo>& list);

// One row per entry of DeviceTable; `disks` names the device paths.
std::vector<DeviceRow> BuildDeviceReport(const DiscoveryState& d,
                                         const std::vector<platform::DiskInfo>& disks);

// A table with a header line, or "No Drive found! " when there are no rows.
void PrintDeviceReportText(const std::vector<DeviceRow>& rows, std::ostream& out);
}  // namespace raid::discovery
