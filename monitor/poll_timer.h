#pragma once
// The poll timer: the five-second tick that arms and requests the status poll.
#include <cstdint>

#include "common/state.h"

namespace raid::monitor {

inline constexpr std::uint32_t kPollTickMs = 5000;

// The 5 s status-poll tick (main thread). While nothing blocks the poll, an armed timer
// (bit 4) requests a poll (bit 0); an unarmed one sets PollRequestFlags to
// exactly 0x10, dropping whatever else was queued. The blockers are the
// device-change countdown, Detecting, StatusPollActive, an exclusive
// operation and Closing; under an exclusive operation the timer is disarmed.
void OnPollTick(AppState& state);

}  // namespace raid::monitor
