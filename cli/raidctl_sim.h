#pragma once
// The emulated machine behind --simulate.
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/disk.h"

namespace raid::cli {

// One enclosure per name of `scenario` (names joined by '+', e.g.
// "raid1+rebuild"; empty: "raid1") on disks 0, 1, ..., then a plain disk
// without a controller. The enclosures' bridges have the serials
// "SIM-BRIDGE-1", "SIM-BRIDGE-2", ... in that order. Null with `error` set for an unknown or empty
// name, or for more enclosures than disks can be numbered.
std::unique_ptr<platform::DiskSystem> MakeSimulatedDisks(const std::string& scenario,
                                                         platform::Clock& clock,
                                                         std::string& error);

}  // namespace raid::cli
