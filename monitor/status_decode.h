#pragma once
// Decoding of the controller's status replies into a DeviceStatusRecord.
// Pure functions over byte arrays; discovery and the status poll share them.
#include <cstdint>

#include "common/state.h"
#include "device/channel.h"

namespace raid::monitor {

// The DiskStateFlags class of one raw state code, in HDD1 position (low
// nibble); shift left by 4 for HDD2.
std::uint8_t ClassifyMemberState(std::uint8_t rawState);

// Array mode byte of the array status reply -> the record's mode code.
std::uint8_t ArrayModeCode(std::uint8_t replyByte);

// How member texts are taken from the array status reply.
enum class MemberFill {
    // Status poll: copied unless the member is absent (absent keeps the last).
    Poll,
    // Discovery: copied for present or failed members; others are blanked
    // (40/20 spaces, capacity 0) unless the record was already filled.
    DiscoveryFresh,
    DiscoveryAlreadyFilled,
};

// Array status reply (code 0x17) into `record`: mode, raw states, member
// texts, DiskStateFlags and RebuildFlags. `hdd1First` is bit 4 of identify
// byte 49.
void DecodeArrayStatus(Record512& record, const device::ReplySector& reply, bool hdd1First,
                       MemberFill fill);

// Rebuild percent from a rebuild progress reply (code 0x15); 0 when the total
// is 0.
std::uint8_t RebuildPercent(const device::ReplySector& reply);

// Information reply (code 0x11) into `record`: fan, temperature, buzzer bit
// (only with the buzzer capability) and the schedule-backup bytes.
void DecodeInformation(Record512& record, const device::ReplySector& reply, bool buzzerCapability);

// Big-endian number of `width` bytes at `offset`.
std::uint64_t ReadBigEndian(const device::ReplySector& reply, std::size_t offset,
                            std::size_t width);

}  // namespace raid::monitor
