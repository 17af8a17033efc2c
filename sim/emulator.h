#pragma once
// A stand-in for the enclosure's bridge controller. It watches one-sector
// reads, recognises knock sequences, runs each command against an enclosure
// model and answers reads of block 17 with a signed reply sector. Reads it
// does not recognise return ordinary disk data. Thread-safe: the FUSE server
// and tests may touch it from several threads.
#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/command_runner.h"
#include "sim/enclosure.h"
#include "sim/knock_decoder.h"

namespace raid::sim {

// How an injected fault spoils one whole command, whatever its code.
enum class CommandFaultKind {
    NoReply,         // the command runs, but no reply ever comes
    KnockReadFails,  // the read that completes its knock sequence fails; it never runs
    ReplyReadFails,  // the command runs, but the host's next read of block 17 fails
    WrongSignature,  // every reply read of this command carries a wrong signature B
    UnknownStatus,   // the reply carries kStatusUnrecognised
    SlowReply,       // the reply comes kSlowReplyMs late: within every host time limit
    LateReply,       // the reply comes kLateReplyMs late: after every host gave up
    MemberDropsOut,  // HDD2 is pulled just before the command runs
    Vanish,          // the enclosure is unplugged as the command completes
};
inline constexpr std::uint32_t kSlowReplyMs = 900;
inline constexpr std::uint32_t kLateReplyMs = 60000;

struct CommandFault {
    CommandFaultKind kind = CommandFaultKind::NoReply;
    // Which command it spoils, counted from the injection: 0 is the next
    // knock sequence that completes.
    std::uint64_t atCommand = 0;
};

// A named starting state: "raid1", "raid0", "rebuild", "degraded", ...
std::optional<Enclosure> ScenarioEnclosure(const std::string& name);
// The names ScenarioEnclosure knows.
std::vector<std::string> ScenarioNames();
// A list of scenario names as the programs take it: "raid1,raid0" or
// "raid1+raid0". Empty items stay (and are refused by the caller).
std::vector<std::string> SplitScenarioList(const std::string& list);

class ControllerEmulator {
public:
    explicit ControllerEmulator(Enclosure model, platform::Clock* clock = nullptr);

    // One sector read at `lba` into `out` (at least 512 bytes). False when a
    // failure was injected for this read (or `out` is too small); a failed
    // read is traced but never reaches the sequence decoder.
    bool Read(std::uint32_t lba, std::span<std::uint8_t> out);
    // INQUIRY data, 36 bytes (at least).
    bool Inquiry(std::span<std::uint8_t> out);
    // The size the enclosure shows the host, in sectors.
    std::uint64_t CapacitySectors() const;

    // The LBA of every read, in order (the oldest entries are dropped past a
    // million, so a long-running server does not grow without bound).
    std::vector<std::uint32_t> Trace() const;
    void ClearTrace();
    // Forgets the trace and the executed commands and hands their memory back
    // (the counts go on): a long run that measures its host's memory keeps
    // the emulator's records out of it.
    void ReleaseRecords();
    // Knock sequences begun, commands run, and blocks that arrived whole with
    // a wrong CRC. Two hosts whose sequences interleave leave more begun
    // than run (or a bad CRC).
    struct SequenceCounts {
        std::uint64_t started = 0;
        std::uint64_t executed = 0;
        std::uint64_t badCrc = 0;
    };
    SequenceCounts Sequences() const;
    // Commands the emulator executed (command byte C0), in order; past 65536
    // the oldest are dropped, as in the trace.
    std::vector<std::uint8_t> ExecutedCommands() const;
    // The same commands with their parameters: bytes C0..C3 of each block.
    std::vector<std::array<std::uint8_t, 4>> ExecutedCommandBytes() const;

    // Faults.
    // The next N reads of block 17 that would carry a reply carry none.
    void FailNextReplies(int polls);
    // The next `times` reads of lba fail.
    void FailReadAt(std::uint32_t lba, int times = 1);
    // Every read and INQUIRY fails: the disk is gone.
    void FailAllReads(bool on);
    // The next N replies served carry a wrong signature B.
    void CorruptSignatureB(int replies);
    // Every reply carries this status byte instead of its own (e.g. 0x33).
    void SetStatusOverride(std::optional<std::uint8_t> status);
    // Replies appear only this long after their command (needs a clock).
    void SetReplyDelayMs(std::uint32_t ms);
    // The next `times` programs of the 128-byte flash block holding `address`
    // answer a failure status and leave the flash unchanged.
    void FailSpiProgramAt(std::uint32_t address, int times = 1);
    // Spoils the flash command `fault.operation` at `fault.address`,
    // `fault.remaining` times (below 0: for good).
    void InjectSpiFault(const SpiFault& fault);
    // True once a Vanish fault has unplugged the enclosure: from then on
    // every read and INQUIRY fails, and the disk system drops the disk.
    bool Unplugged() const;
    // Spoils the disk command (page 0) or data page 1..4 of `fault.member`
    // for `fault.ata`, `fault.remaining` times (below 0: for good).
    void InjectDiskFault(const DiskFault& fault);
    // Spoils the next `fault.remaining` setting commands (below 0: for good).
    void InjectSettingFault(const SettingFault& fault);
    // Spoils the `fault.atCommand`-th command from now, once. Replaces a
    // command fault not yet reached.
    void InjectCommandFault(const CommandFault& fault);
    // Knock sequences that completed with a good CRC, run or not.
    std::uint64_t CompletedCommands() const;

    // Applies one control line ("pull 2", "insert 2", "rebuild 1 45",
    // "fail 1", "mode raid0", "silent on", "temp 45", ...; ControlHelp lists
    // them). Returns an error text, empty on success. Any input is safe.
    std::string Control(const std::string& line);
    static const char* ControlHelp();

    // The model, under the emulator's lock. `f` must not call back into the
    // emulator.
    template <typename F>
    auto WithModel(F&& f) {
        std::lock_guard lock(mutex_);
        return f(model_);
    }

private:
    // Both under the lock.
    void ServeReplyBlock(std::span<std::uint8_t> out);
    bool TakeReadFault(std::uint32_t lba);
    // The command fault due at the command completing now, taken.
    std::optional<CommandFaultKind> TakeCommandFault();
    // Spoils the reply of the command that just ran.
    void SpoilReply(CommandFaultKind kind);
    void Record(std::uint32_t lba);

    mutable std::mutex mutex_;
    Enclosure model_;
    platform::Clock* clock_;
    std::vector<std::uint32_t> trace_;
    std::vector<std::array<std::uint8_t, 4>> executed_;
    std::uint64_t executedCount_ = 0;
    KnockDecoder decoder_;
    std::uint64_t sequencesStarted_ = 0;
    std::uint64_t badCrcBlocks_ = 0;
    ControllerMemory memory_;
    Sector reply_{};
    bool replyArmed_ = false;
    std::uint64_t replyReadyAtMs_ = 0;
    // Faults.
    int failReplies_ = 0;
    int corruptSignatureB_ = 0;
    bool failAll_ = false;
    bool unplugged_ = false;
    std::vector<std::pair<std::uint32_t, int>> failReads_;
    std::optional<std::uint8_t> statusOverride_;
    std::uint32_t replyDelayMs_ = 0;
    std::uint64_t commandsCompleted_ = 0;
    std::optional<CommandFault> commandFault_;  // atCommand counts from the first command
};

}  // namespace raid::sim
