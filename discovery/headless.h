#pragma once
// The one discovery of a headless run, and why it may have found nothing.
#include <string>

#include "common/state.h"
#include "device/channel.h"
#include "platform/disk.h"

namespace raid::discovery {

// Baselines, volume table and probe, applied as the device-change tick applies a finished
// discovery: DeviceTable and DeviceCount are the new ones and the detection
// flags are clear. FirstStatusPending is left as it was.
void DiscoverOnce(AppState& state, device::CommandChannel& ch);

// A sentence when disks exist but could not be opened for lack of rights;
// empty otherwise.
std::string PermissionProblem(platform::DiskSystem& disks);

}  // namespace raid::discovery
