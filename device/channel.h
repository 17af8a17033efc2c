#pragma once
// The controller command operations. Every operation is blocking and pumps
// the user interface between reads. Each command holds its disk's command
// lock from the first knock read to the last reply read, so commands of
// other threads and processes wait their turn; a command started from a pump
// inside another command (same thread) is refused, never interleaved.
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "device/protocol.h"
#include "platform/clock.h"
#include "platform/disk.h"

namespace raid::device {

struct VendorRequest {
    std::array<std::uint8_t, kMaxKnockLength> block{};  // command block + CRC
    std::uint32_t payloadFlag = 0;
    std::array<std::uint32_t, kMaxKnockLength> lbaList{};
    std::uint32_t lbaCount = 0;
    std::array<std::uint8_t, kReplySize> reply{};
    std::uint8_t result = 0;
};

using ReplySector = std::array<std::uint8_t, kReplySize>;
using SpiBlock = std::array<std::uint8_t, kPayloadSize>;

// How long a command waits for its turn on a disk before it gives up, and
// after how long it says that it waits.
inline constexpr std::uint32_t kCommandLockLimitMs = 15000;
inline constexpr std::uint32_t kCommandLockNoticeMs = 1000;
inline constexpr std::uint32_t kCommandLockRetryMs = 5;

struct CommandChannel {
    CommandChannel(platform::DiskSystem& disks, platform::Clock& clock)
        : disks(disks), clock(clock) {}

    platform::DiskSystem& disks;
    platform::Clock& clock;
    platform::PumpHook pump;  // may be empty
    // Called once per command that has waited kCommandLockNoticeMs for its
    // turn on the disk; may be empty.
    std::function<void()> onLockWait;
    // Told of an exception that device I/O caught and turned into a failed
    // transfer; the same text twice in a row is told once. Empty: standard
    // error.
    std::function<void(const std::string& what)> onException;
    std::string lastException;

    VendorRequest request;
    std::uint8_t controllerType = kControllerRaidBridge;  // of the last recognised reply
    // Set by SetCommandParameters; used by codes 0x76..0x78.
    std::uint8_t paramCode = 0;
    std::uint8_t params[3] = {0, 0, 0};
    // Why the last OpenDevice failed, for messages.
    platform::OpenError lastOpenError = platform::OpenError::None;
    std::string lastOpenMessage;
};

// Opens physical disk `number`; null on failure (the reason is kept in the
// channel).
std::unique_ptr<platform::DiskHandle> OpenDevice(CommandChannel& ch, int number);

// One-sector read that turns an exception into a failed read (and tells
// ch.onException).
bool ReadOneSector(CommandChannel& ch, platform::DiskHandle& disk, std::uint32_t lba,
                   std::span<std::uint8_t> buffer);

// Tells ch.onException (or standard error) of a caught exception.
void ReportException(CommandChannel& ch, const std::string& what);

// Sends the knock sequence already in ch.request. 0, or 0xFF when a read failed.
std::uint8_t SendKnockSequence(CommandChannel& ch, platform::DiskHandle& disk);

// Polls block 17 for a signed reply. `limit` >= 10 is milliseconds, below 10
// a count of extra polls. 0 (ch.request.result holds the status), 0xF1 or 0xF2.
std::uint8_t AwaitReply(CommandChannel& ch, platform::DiskHandle& disk, std::uint32_t limit);

void SetCommandParameters(CommandChannel& ch, std::uint8_t code, std::uint8_t p1, std::uint8_t p2,
                          std::uint8_t p3);

// Opens disk `disk`, sends command `code`, and copies the reply sector to
// `out` (also when no signed reply came). Result code as in protocol.h.
std::uint8_t QueryController(CommandChannel& ch, int disk, std::uint8_t code, ReplySector& out);

// SPI flash commands on an open handle; `address` is a byte address.
std::uint8_t ReadSPI(CommandChannel& ch, platform::DiskHandle& disk, std::uint32_t address,
                     SpiBlock& out);
std::uint8_t WriteSPI(CommandChannel& ch, platform::DiskHandle& disk, std::uint32_t address,
                      const SpiBlock& data);
std::uint8_t EraseSPI(CommandChannel& ch, platform::DiskHandle& disk, std::uint32_t address);

// ATA command `ata` to member disk `member` (0 or 1) behind the controller
// on physical disk `disk`, and the reading of its data pages 1..4.
std::uint8_t IssueDiskCommand(CommandChannel& ch, int disk, std::uint8_t ata, std::uint8_t member,
                              ReplySector& out);
std::uint8_t ReadDiskCommandData(CommandChannel& ch, int disk, std::uint8_t ata,
                                 std::uint8_t member, std::uint8_t page, ReplySector& out);

// Text for a result code, for tools and status texts.
const char* ResultText(std::uint8_t result);

}  // namespace raid::device
