#pragma once
// The device-change debounce: the 500 ms main-thread tick that debounces
// device-change messages, starts discovery runs and applies their results to
// the window.
#include <functional>

#include "common/state.h"
#include "discovery/discovery_host.h"

namespace raid::discovery {

inline constexpr std::uint32_t kDeviceChangeTickMs = 500;
// The detection notice when discovery found no enclosure.
inline constexpr const char* kNoDriveText = "No Drive found! ";
// A device-change message sets the countdown to 16; the tick counts it up to
// 26, so a run starts ten ticks (about 5 s) after the last message.
inline constexpr std::uint8_t kCountdownStart = 16;
inline constexpr std::uint8_t kCountdownEnd = 26;
inline constexpr std::uint8_t kPollAfterDiscovery = 0x29;  // status poll + both SMART reads

// The window's handler of a device-change message.
void OnDeviceChangeMessage(AppState& state);

// For each device of the new table whose IdentifyRecord differs from its
// PreviousIdentifyRecord, IdentityChangedAt of its disk := now.
void UpdateIdentityChangedAt(DiscoveryState& d, TimePoint now, const std::function<void()>& pump);

// The 500 ms device-change debounce tick (main thread). Does one of: advance the countdown;
// compare the drive counts and request a discovery (DetectRequest) when they
// changed; apply a finished discovery (DetectDone) to the tables and the
// window; blink "Drive detecting" while a discovery runs.
void OnDeviceChangeTick(AppState& state, DiscoveryHost& host);

}  // namespace raid::discovery
