#pragma once
// What the emulated controller does with one command block: it changes the
// enclosure model where the command says so and builds the signed reply.
#include <array>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "device/protocol.h"
#include "sim/enclosure.h"

namespace raid::sim {

using Sector = std::array<std::uint8_t, device::kReplySize>;

// Status bytes for commands that fail; both are among the values the host
// passes through unchanged.
inline constexpr std::uint8_t kStatusCommandFailed = 0xC0;
inline constexpr std::uint8_t kStatusUnknownCommand = 0xE0;

// How an injected fault spoils a disk command or one of its data pages.
enum class DiskFaultKind {
    FailStatus,  // the controller answers a failure status
    NoReply,     // the controller drops the command: no reply ever comes
    WrongEcho,   // success, but the reply echoes parameter 0 instead of the ATA code
};

struct DiskFault {
    int member = 0;         // 0 = HDD1, whichever port it sits at
    std::uint8_t ata = 0;   // 0xEC, 0xD0 or 0xD1 (C1 of the command)
    std::uint8_t page = 0;  // 0 = the disk command (0xB1), 1..4 = that data page (0xB2)
    DiskFaultKind kind = DiskFaultKind::FailStatus;
    int remaining = 1;  // below 0: for good
};

// What the controller remembers from one command to the next.
struct ControllerMemory {
    // The 512 bytes of the last successful disk command (0xB1), served page
    // by page by 0xB2.
    bool diskDataValid = false;
    std::uint8_t diskDataAta = 0;
    std::uint8_t diskDataPort = 0;
    std::array<std::uint8_t, 512> diskData{};
    // Injected program failures: byte address, remaining count.
    std::vector<std::pair<std::uint32_t, int>> failSpiProgram;
    // Injected disk command faults, the first match applies.
    std::vector<DiskFault> diskFaults;
    // Set by a command that must go unanswered; the emulator clears it.
    bool withholdReply = false;
};

// Runs `block` (16 or 144 bytes whose CRC was checked) and returns the reply
// sector, signed for the model's controller type.
Sector RunCommand(Enclosure& model, ControllerMemory& memory, std::span<const std::uint8_t> block);

// Which member (0 = HDD1) sits at controller port `port` (0 or 1).
int MemberAtPort(const Enclosure& model, int port);

// Sets the backup period and restarts the countdown to the next backup.
void SetBackupPeriod(Enclosure& model, std::uint8_t period);

// The sectors that make `percent` of `total`, rounded up so that the host's
// truncating percent gives `percent` back.
std::uint64_t SectorsAtPercent(std::uint64_t total, unsigned percent);

// Moves a running rebuild forward by the model's step; a rebuild that
// reaches the end puts its members back to state 0.
void AdvanceRebuild(Enclosure& model);

}  // namespace raid::sim
