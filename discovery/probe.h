#pragma once
// Finding the enclosures among the physical disks: the probe of disks 0..9
// and one discovery run as the detection thread performs it.
//
// Threading: these run on the detection thread while DetectBusy keeps the
// monitoring thread paused. ch.pump is called between transfers and must be
// a no-op there. Setting Closing makes the probe return before its next disk.
#include "common/state.h"
#include "device/channel.h"
#include "discovery/notices.h"

namespace raid::discovery {

// The pause before each controller query after the first.
inline constexpr std::uint32_t kQueryPauseMs = 200;

// The information reply (code 0x11) as discovery keeps it in
// IdentifyRecord: reply bytes 88..95 (firmware and product codes) copied to
// 46..53.
void TakeInformationReply(Record512& identify);

// Asks the controller on physical disk `disk` for its information reply now,
// up to 9 times, pumping before each, and amends it as TakeInformationReply
// does; `portMultiplier` takes the controller type of the reply. False (and
// `identify` zeroed) when no attempt was answered.
bool ReadControllerIdentity(device::CommandChannel& ch, int disk, Record512& identify,
                            std::uint8_t& portMultiplier);

// Probes physical disks 0..9 (stopping once PhysicalDiskCount disks were
// opened) and returns how many enclosures it found. Fills NewDeviceTable (not
// NewDeviceCount), IdentifyRecord, the per-device slots (first four devices)
// and the DeviceStatusRecord of each found disk. A device held by an
// exclusive operation is not touched: its entry, slot and identify record are
// carried over as they were.
int ProbeDisks(AppState& state, device::CommandChannel& ch, const Notices& notices = {});

// One discovery: BuildVolumeTable, then ProbeDisks, once more when the first
// probe found nothing. Sets and returns NewDeviceCount.
int RunDiscovery(AppState& state, device::CommandChannel& ch, const Notices& notices = {});

// One pass of the detection thread's loop: when DetectRequest is set, clears
// it, runs RunDiscovery, clears DetectBusy and sets DetectDone, and returns
// true. Returns false when nothing was requested (the caller sleeps 100 ms).
bool ServeDetectRequest(AppState& state, device::CommandChannel& ch, const Notices& notices = {});

}  // namespace raid::discovery
