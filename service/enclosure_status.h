#pragma once
// One enclosure's status as the program tells it, to a person, a script or
// the metrics: identification from discovery, state from its status record.
#include <cstdint>
#include <string>
#include <vector>

#include "client/enclosure_records.h"
#include "common/state.h"
#include "platform/disk.h"
#include "smart/smart_state.h"

namespace raid::service {

using client::DeviceStatus;
using client::MemberStatus;

// Firmware from number 100126 on reports fan and temperature, whatever
// discovery concluded: true for a text of six decimal digits, ".", ... whose
// number is above 100125.
bool FirmwareImpliesSensors(const std::string& firmwareText);

// "<controller model> [<volumes>]": the labels (mount point or partition
// name) of the fixed-disk volumes on the device's disk, in VolumeTable order,
// separated by blanks.
std::string DeviceHint(const DiscoveryState& d, int deviceIndex);

// The SMART sectors of device `index` of `tables` (0 or 1), with the
// identification of device `index` of `state`.
client::SmartSectors SmartSectorsOf(const AppState& state, const smart::SmartState& tables,
                                    int index, const std::vector<platform::DiskInfo>& disks);

// What the platform knows of device `index`'s disk; null when it has gone.
const platform::DiskInfo* DiskInfoOf(const AppState& state, int index,
                                     const std::vector<platform::DiskInfo>& disks);

// The name device `index` keeps across replugging, renumbering and restarts,
// for metrics labels and journal fields. The controller reports no serial of
// its own, so: its bridge's serial; without one, the port it is plugged into;
// without either, its Device name. When another shown device has the same
// name (bridges of one make may share a serial), its port or else its Device
// name is appended after an '@'.
std::string EnclosureIdentity(const AppState& state, int index,
                              const std::vector<platform::DiskInfo>& disks);

// The status of device `index` from `state` (after discovery and a poll).
DeviceStatus DescribeDevice(const AppState& state, int index,
                            const std::vector<platform::DiskInfo>& disks);

}  // namespace raid::service
