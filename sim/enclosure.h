#pragma once
// The state of an emulated enclosure: controller, array and member disks.
#include <cstdint>
#include <string>
#include <vector>

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
    std::uint8_t productCode[2] = {0x27, 0x70};           // information reply bytes 92..93
    std::string controllerModel = "SIM RAID1 ENCLOSURE";  // empty = INQUIRY supplies it
    std::string inquiryVendor = "SIMVNDR ";               // 8 bytes
    std::string inquiryProduct = "RAID ENCLOSURE  ";      // 16 bytes
    std::uint64_t configuredCapacity = 0;                 // 0 = derived from the members
    bool hasSensors = true;                               // information reply bytes 124..125 both 0
    std::uint16_t fanRpm = 2400;
    std::uint8_t temperature = 38;
    char buzzerLetter = 'Z';                    // 'Z' = buzzer not muted
    bool buzzerCapability = true;               // byte 130 high nibble 5
    bool scheduleCapability = true;             // byte 134 top bits 101
    std::uint8_t settingCapabilityBits = 0x03;  // byte 83 of the 0x78 answer
    std::uint8_t backupPeriod = 0;              // schedule-backup bytes 131..133, 135
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
    // The USB bridge's serial number as the kernel would read it from the
    // device descriptor; empty = none. Not part of the controller protocol.
    std::string bridgeSerial;
};

}  // namespace raid::sim
