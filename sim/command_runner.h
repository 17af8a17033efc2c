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

// A status byte outside the set the host knows; the host makes it 0xF4.
inline constexpr std::uint8_t kStatusUnrecognised = 0x33;

enum class SpiOperation { Read, Program, Erase };

// How an injected fault spoils one flash command.
enum class SpiFaultKind {
    FailStatus,      // the controller answers its failure status; the flash is unchanged
    BadStatus,       // the reply carries kStatusUnrecognised; the flash is unchanged
    NoReply,         // the controller drops the command: no reply ever comes
    ReplyReadFails,  // the command runs, but the host's next read of block 17 fails
    FlipBit,         // the command runs with bit 0 of its block's first byte flipped: in the
                     // data read back, in the data programmed, or left programmed by the erase
    Vanish,          // the enclosure is unplugged before the command runs
};

struct SpiFault {
    SpiOperation operation = SpiOperation::Program;
    // Any byte address inside the 128-byte block (read, program) or the
    // 4096-byte erase unit the fault hits.
    std::uint32_t address = 0;
    SpiFaultKind kind = SpiFaultKind::FailStatus;
    int remaining = 1;  // below 0: for good
};

// How an injected fault spoils a setting command: the buzzer mute (0x70,
// 0x71), the backup presets (0x72..0x75) and the parameterised setting 0x78
// (but not its capability query, which discovery sends).
enum class SettingFaultKind {
    KeepOld,     // the controller answers success but keeps its settings
    FailStatus,  // the controller answers its failure status
    NoReply,     // the controller drops the command: no reply ever comes
};

struct SettingFault {
    SettingFaultKind kind = SettingFaultKind::KeepOld;
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
    // Injected flash and disk command faults; the first match applies.
    std::vector<SpiFault> spiFaults;
    std::vector<DiskFault> diskFaults;
    std::vector<SettingFault> settingFaults;
    // Set by a command that must go unanswered; the emulator clears it.
    bool withholdReply = false;
    // Set by a command whose reply the host must fail to read, and by one
    // that unplugs the enclosure; the emulator acts on them and clears them.
    bool failReplyRead = false;
    bool unplug = false;
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
