#pragma once
// The event-log lines for enclosures that appeared or vanished between two
// discoveries.
#include <functional>

#include "common/state.h"

namespace raid::discovery {

// RaiseMailEvent(kind, device, member).
using MailEventHook = std::function<void(int kind, int device, int member)>;

inline constexpr int kMailDeviceRemoved = 2;

// Bytes of the information reply that change while a device runs:
// temperature, fan speed, buzzer and the time to the next backup.
inline constexpr std::size_t kLiveBytesFirst = 127;
inline constexpr std::size_t kLiveBytesLast = 138;

// True when two information replies name the same device: equal everywhere
// but in the live bytes.
bool SameIdentity(const Record512& a, const Record512& b);

// Compares DeviceTable/DeviceCount (old) with NewDeviceTable/NewDeviceCount
// (new); two entries are the same device when the PreviousIdentifyRecord of
// the old entry's disk equals the IdentifyRecord of the new entry's disk.
// Appends "Dk New Device was found." / "Dk Device was removed." lines to
// DeviceChangeLines, then "    Device had changed." and sets the pending
// flag. Each removed device raises mail event 2 for its old index. Does
// nothing when the counts are equal. Call before DeviceTable is replaced.
void LogDeviceChanges(DiscoveryState& d, const MailEventHook& raiseMail,
                      const std::function<void()>& pump = {});

}  // namespace raid::discovery
