#pragma once
// A stand-in for the enclosure's bridge controller. It watches one-sector
// reads, recognises knock sequences, runs each command against an enclosure
// model and answers reads of block 17 with a signed reply sector. Reads it
// does not recognise return ordinary disk data. Thread-safe: the FUSE server
// and tests may touch it from several threads.
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace raid::sim {

// One member disk of the enclosure.
struct MemberDisk {
    // Raw state code as the array status reply reports it: 0 or 1 present
    // (1 = being rebuilt), 6 newly inserted, 9 failed, anything else absent
    // (the emulator uses 4 for a pulled disk).
    std::uint8_t state = 0;
    std::string model = "SIM-DISK 1000GB";  // plain text; stored in ATA order
    std::string serial = "SIM0000001";
    std::string firmware = "SIM1.00";
    std::uint64_t capacitySectors = 1953525168;  // 1 TB
    std::uint16_t word106 = 0x6003;              // IDENTIFY word 106
    // 512 bytes each; the emulator fills empty ones with healthy defaults.
    std::vector<std::uint8_t> smartData;
    std::vector<std::uint8_t> smartThresholds;
};

// What the emulator knows of an enclosure.
struct Enclosure {
    int controllerType = 0;  // 0 RAID bridge, 1 port multiplier
    // Array mode byte of the array status reply: 0 JBOD, 1 striping,
    // 2 mirroring, 3+ bypass.
    std::uint8_t arrayModeByte = 2;
    MemberDisk members[2];
    // Information reply bytes 88..91. Bit 4 of the last byte is the port
    // order: set = HDD1 is the first port block (84), clear = the second (160).
    std::uint8_t firmwareCode[4] = {0x10, 0x01, 0x26, 0x01};
    std::uint8_t productCode[2] = {0x27, 0x70};  // information reply bytes 92..93
    std::string controllerModel = "SIM RAID1 ENCLOSURE";      // empty = INQUIRY supplies it
    std::string inquiryVendor = "SIMVNDR ";                   // 8 bytes
    std::string inquiryProduct = "RAID ENCLOSURE  ";          // 16 bytes
    std::uint64_t configuredCapacity = 0;  // 0 = derived from the members
    bool hasSensors = true;  // information reply bytes 124..125 both 0
    std::uint16_t fanRpm = 2400;
    std::uint8_t temperature = 38;
    char buzzerLetter = 'Z';  // 'Z' = buzzer not muted
    bool buzzerCapability = true;     // byte 130 high nibble 5
    bool scheduleCapability = true;   // byte 134 top bits 101
    std::uint8_t settingCapabilityBits = 0x03;  // byte 83 of the 0x78 answer
    std::uint8_t backupPeriod = 0;     // schedule-backup bytes 131..133, 135
    std::uint16_t backupTimeToNext = 0;
    std::uint8_t backupWeeks = 0;
    // Low five bits of byte 134: hours per backup period unit.
    std::uint8_t backupKind = 24;
    std::uint8_t backupPresets[3] = {1, 7, 30};
    // Rebuild: active while a member state is 1. A total of 0 means the array
    // capacity. Each rebuild progress query moves `done` on by the step (in
    // percent of the total; 0 holds it still).
    std::uint64_t rebuildTotal = 0;
    std::uint64_t rebuildDone = 0;
    std::uint8_t rebuildStepPercent = 1;
    // 512 KiB, 0xFF = erased; type byte at 0x95. Empty = a default image.
    std::vector<std::uint8_t> spiFlash;
};

// A named starting state: "raid1", "raid0", "rebuild", "degraded", ...
std::optional<Enclosure> ScenarioEnclosure(const std::string& name);
// The names ScenarioEnclosure knows.
std::vector<std::string> ScenarioNames();

class ControllerEmulator {
public:
    explicit ControllerEmulator(Enclosure model, platform::Clock* clock = nullptr);

    // One sector read at `lba` into `out` (512 bytes). False when a failure
    // was injected for this read.
    bool Read(std::uint32_t lba, std::span<std::uint8_t> out);
    // INQUIRY data, 36 bytes.
    bool Inquiry(std::span<std::uint8_t> out);

    // The LBA of every read, in order.
    std::vector<std::uint32_t> Trace() const;
    void ClearTrace();
    // Commands the emulator executed (command byte C0), in order.
    std::vector<std::uint8_t> ExecutedCommands() const;

    // Faults.
    void FailNextReplies(int polls);        // no signed reply for N reads of block 17
    void FailReadAt(std::uint32_t lba, int times = 1);  // a read of lba fails
    void FailAllReads(bool on);             // the disk stops answering
    void CorruptSignatureB(int replies);    // next N replies carry a wrong signature B
    void SetStatusOverride(std::optional<std::uint8_t> status);  // e.g. 0x33
    void SetReplyDelayMs(std::uint32_t ms); // replies appear only after this time (needs a clock)
    void FailSpiProgramAt(std::uint32_t address, int times = 1);

    // Applies one control line ("pull 2", "insert 2", "rebuild 1 45",
    // "fail 1", "mode raid0", "silent on", "temp 45", ...). Returns an error
    // text, empty on success.
    std::string Control(const std::string& line);

    // The model, under the emulator's lock.
    template <typename F>
    auto WithModel(F&& f) {
        std::lock_guard lock(mutex_);
        return f(model_);
    }

private:
    std::uint8_t ServeReplyBlock(std::span<std::uint8_t> out);  // under the lock
    bool TakeReadFault(std::uint32_t lba);
    void Record(std::uint32_t lba);

    mutable std::mutex mutex_;
    Enclosure model_;
    platform::Clock* clock_;
    std::vector<std::uint32_t> trace_;
    std::vector<std::uint8_t> executed_;
    KnockDecoder decoder_;
    ControllerMemory memory_;
    Sector reply_{};
    bool replyArmed_ = false;
    std::uint64_t replyReadyAtMs_ = 0;
    // Faults.
    int failReplies_ = 0;
    int corruptSignatureB_ = 0;
    bool failAll_ = false;
    std::vector<std::pair<std::uint32_t, int>> failReads_;
    std::optional<std::uint8_t> statusOverride_;
    std::uint32_t replyDelayMs_ = 0;
};

}  // namespace raid::sim
