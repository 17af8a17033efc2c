#pragma once
// What the SMART subsystem keeps between refreshes: the attribute data and
// threshold blocks of the member disks, IDENTIFY word 106 (or why it is
// missing), and which disk the SMART page shows.
//
// The tables hold the first two devices only ("Device1", "Device2": the ones
// the window can show). The main window owns one SmartState beside its
// AppState; it is not a member of AppState because common/ must not depend
// on smart/.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace raid::smart {

inline constexpr int kSmartDevices = 2;
inline constexpr int kSmartDisks = 2;  // 0 = HDD1, 1 = HDD2
inline constexpr std::size_t kSmartBlockSize = 512;
inline constexpr std::size_t kSmartTableSize = kSmartDevices * kSmartDisks * kSmartBlockSize;

// Word106Code values that are not IDENTIFY data. A reply that did not echo
// the expected command gives its echo bytes instead (byte 76 * 256 + 77),
// marked above the 16 bits of a word: echo bytes below 0x8000 would
// otherwise pass for a genuine word 106.
inline constexpr std::uint32_t kWord106Absent = 0xFFFF;
inline constexpr std::uint32_t kWord106IdentifyFailed = 0xFFF7;
inline constexpr std::uint32_t kWord106PageFailed = 0xFFFE;
inline constexpr std::uint32_t kWord106EchoMark = 0x10000;

constexpr std::uint32_t Word106EchoCode(std::uint8_t command, std::uint8_t param) {
    return kWord106EchoMark | (std::uint32_t{command} << 8) | param;
}

// SMART command features (ATA SMART subcommands).
inline constexpr std::uint8_t kFeatureReadData = 0xD0;
inline constexpr std::uint8_t kFeatureReadThresholds = 0xD1;

using SmartBlockView = std::span<const std::uint8_t, kSmartBlockSize>;

struct SmartState {
    // Block of device d, disk k at d * 1024 + k * 512, as the disk delivered
    // it; the flat layout is also what a dump of the tables writes.
    std::array<std::uint8_t, kSmartTableSize> dataTable{};
    std::array<std::uint8_t, kSmartTableSize> thresholdTable{};
    // Per device and disk: IDENTIFY word 106 or one of the codes above.
    std::array<std::array<std::uint32_t, kSmartDisks>, kSmartDevices> word106Code{};
    // Set by a threshold read that reached every disk; a failed one makes the
    // next refresh read the thresholds again.
    bool thresholdsRead = false;
    // Set by a data read that reached every disk in full, cleared by one
    // that did not: what a headless caller reports, the window does not use
    // it.
    bool dataRead = false;
    int selectedDisk = 0;

private:
    static std::size_t Clamp(int value, int count) {
        return static_cast<std::size_t>(value < 0 ? 0 : (value >= count ? count - 1 : value));
    }
    static std::size_t Offset(int device, int disk) {
        return (Clamp(device, kSmartDevices) * kSmartDisks + Clamp(disk, kSmartDisks)) *
               kSmartBlockSize;
    }
    template <typename Table>
    static auto Block(Table& table, int device, int disk) {
        return std::span(table).subspan(Offset(device, disk)).template first<kSmartBlockSize>();
    }

public:
    // `device` and `disk` are clamped to the tables, so a stray index reads
    // the last block rather than past the end.
    std::span<std::uint8_t, kSmartBlockSize> DataBlock(int device, int disk) {
        return Block(dataTable, device, disk);
    }
    std::span<std::uint8_t, kSmartBlockSize> ThresholdBlock(int device, int disk) {
        return Block(thresholdTable, device, disk);
    }
    SmartBlockView DataBlock(int device, int disk) const { return Block(dataTable, device, disk); }
    SmartBlockView ThresholdBlock(int device, int disk) const {
        return Block(thresholdTable, device, disk);
    }
    std::uint32_t& Word106Code(int device, int disk) {
        return word106Code[Clamp(device, kSmartDevices)][Clamp(disk, kSmartDisks)];
    }
    std::uint32_t Word106Code(int device, int disk) const {
        return word106Code[Clamp(device, kSmartDevices)][Clamp(disk, kSmartDisks)];
    }
};

}  // namespace raid::smart
