#pragma once
// Which physical disk a controller command opens.
#include "common/state.h"

namespace raid::discovery {

// While Detecting is set, the disk under probe (ProbeEntry); otherwise the
// DeviceTable entry of the current device index. The result is a physical
// disk number 0..15 (the low four bits of the entry).
int TargetDisk(const AppState& state);

}  // namespace raid::discovery
