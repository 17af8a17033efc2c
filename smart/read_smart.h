#pragma once
// Reading the member disks' SMART data or thresholds (and, with the data,
// IDENTIFY word 106) through the enclosure controller's disk command
// channel into a SmartState.
//
// Only devices 0 and 1 are read: the tables and the window hold those two,
// and a third or later enclosure gets no SMART traffic at all (its
// controller sees no command), rather than reads whose results would have
// nowhere to go.
#include <cstdint>

#include "common/state.h"
#include "device/channel.h"
#include "smart/smart_host.h"
#include "smart/smart_state.h"

namespace raid::smart {

// Attempts per disk command and per data page before giving up.
inline constexpr int kSmartAttempts = 4;

// One SMART read with `feature` kFeatureReadData (0xD0) or
// kFeatureReadThresholds (0xD1), on the main thread (the monitoring
// dispatcher's bits 5 and 3). Blocking; pumps the window through the
// channel between reads.
//
// Does nothing and returns false for any other feature, while an exclusive
// operation holds a device, while the status page switches devices, with no
// device, or with no device selector ticked. Otherwise, for each present
// member of devices 0 and 1 (port order as discovery found it), sends the
// command at most four times and fetches its four pages at most four times
// each; for the data read it first reads IDENTIFY for word 106 (again before
// each retry). A command or page whose reply echoes another command counts
// as failed. Absent members get a zero block and Word106Code 0xFFFF; a page
// that never arrives keeps its old bytes. Stops sending at the next command
// when Closing is set or an exclusive operation starts meanwhile (counted as
// a failed read). Afterwards: the data read redraws a shown SMART page, the
// threshold read sets thresholdsRead and the data read dataRead when every
// disk answered in full, and the current device is the status page's device
// again. Returns true.
bool ReadSmart(AppState& state, SmartState& smart, device::CommandChannel& ch, SmartHost& host,
               std::uint8_t feature);

}  // namespace raid::smart
