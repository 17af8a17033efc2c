#pragma once
// The enclosure a firmware image was checked against, so that the upgrade
// can tell, right before it erases, whether the enclosure it is about to
// flash is still that one.
#include <optional>
#include <string>

#include "common/state.h"
#include "firmware/firmware_image.h"
#include "platform/disk.h"

namespace raid::firmware {

struct CheckedDevice {
    std::string devicePath;  // the disk's node; empty when the disk is not listed
    Record512 identify{};    // its IdentifyRecord (information reply) when checked
    std::string name;        // "Device1 (SIM RAID1 ENCLOSURE on /dev/sdb)", for messages
};

// True when `deviceIndex` is one of the first devices of the table, on a disk.
bool IsDevice(const AppState& state, int deviceIndex);

// What a firmware file is checked against for device `deviceIndex`: its
// IdentifyRecord and port-multiplier flag as discovery found them; an empty
// target when there is no such device.
FirmwareTarget TargetOf(const AppState& state, int deviceIndex);

// Device `deviceIndex` as it stands in `state`, with `identify` in place of
// its IdentifyRecord when given (a fresh reading); none when there is no
// such device.
std::optional<CheckedDevice> CheckedDeviceOf(const AppState& state, int deviceIndex,
                                             platform::DiskSystem& disks,
                                             const Record512* identify = nullptr);

// The same enclosure: the same disk node, firmware and product codes and
// controller model text in the information reply. Fan, temperature and
// settings, which change by themselves, do not count.
bool SameEnclosure(const CheckedDevice& a, const CheckedDevice& b);

// Why an image checked for `checked` may not go onto `now`, which is about to
// be upgraded; empty when it is the same enclosure, or either is not known.
std::string OtherEnclosureRefusal(const std::optional<CheckedDevice>& checked,
                                  const std::optional<CheckedDevice>& now);

}  // namespace raid::firmware
