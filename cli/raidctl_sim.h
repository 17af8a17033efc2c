#pragma once
// The emulated machine behind --simulate.
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/disk.h"

namespace raid::cli {

// Disk 0: an enclosure in `scenario` (empty: "raid1"); disk 1: a plain disk
// without a controller. Null with `error` set for an unknown scenario.
std::unique_ptr<platform::DiskSystem> MakeSimulatedDisks(const std::string& scenario,
                                                         platform::Clock& clock,
                                                         std::string& error);

}  // namespace raid::cli
