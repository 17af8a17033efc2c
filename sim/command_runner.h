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
