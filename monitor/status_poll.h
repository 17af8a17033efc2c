#pragma once
// The status poll: asks each monitored enclosure (the first two devices) for
// its state, folds the replies into its DeviceStatusRecord, and hands the
// changes to event detection and the status page.
#include <cstdint>
#include <string>

#include "common/state.h"
#include "device/channel.h"
#include "monitor/monitor_host.h"
#include "platform/clock.h"

namespace raid::monitor {

// The pause before every controller query of the poll.
inline constexpr std::uint32_t kPollQueryPauseMs = 200;
// After a failed poll a device is skipped every other poll; it is unticked
// when its failure count passes this.
inline constexpr std::uint8_t kMaxFailureCount = 10;
// While the rebuild progress reply and the array status reply disagree (a
// member in state 1 but no rebuild running) the query passes repeat. A
// controller that never makes up its mind must not hold the main thread and
// StatusPollActive forever: after this many passes the poll keeps the array
// status it read and moves on; rebuild tracking stays set for the next poll.
inline constexpr std::uint16_t kMaxQueryPasses = 32;

// One poll (main thread, from the dispatcher). Returns without event
// detection while discovery is pending or running, and aborts at its next
// check (decoded values stay) when an exclusive operation starts or Closing
// is set, also from inside host.Pump() or a query. Otherwise ends with
// host.DetectEvents(ChangedDeviceMask) and the page refreshes. Sets
// StatusPollActive while it runs; uses discovery.currentDevice as the
// device being polled.
void StatusPoll(AppState& state, device::CommandChannel& ch, platform::Clock& clock,
                MonitorHost& host);

// "%02X" and longer: a number in upper-case hexadecimal, at least two digits.
std::string Hex2(std::uint32_t value);

}  // namespace raid::monitor
