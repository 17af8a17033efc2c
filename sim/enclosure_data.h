#pragma once
// The data an emulated enclosure hands out besides its replies: what member
// disks answer to IDENTIFY and SMART, the default flash image, and the
// ordinary content of sectors that carry no reply.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "sim/enclosure.h"

namespace raid::sim {

inline constexpr std::size_t kAtaBlockSize = 512;
inline constexpr std::size_t kSpiFlashSize = 512 * 1024;
inline constexpr std::size_t kSpiTypeByteOffset = 0x95;
inline constexpr std::uint8_t kDefaultSpiTypeByte = 0x5A;

// Writes `text` into `field` in ATA byte order (the two bytes of every 16-bit
// word swapped), padded with blanks.
void PutAtaText(std::span<std::uint8_t> field, std::string_view text);

// Writes the low `field.size()` bytes of `value` most significant first.
void PutBigEndian(std::span<std::uint8_t> field, std::uint64_t value);
// Writes the low `field.size()` bytes of `value` least significant first.
void PutLittleEndian(std::span<std::uint8_t> field, std::uint64_t value);

// The 512-byte IDENTIFY DEVICE data of a member disk.
std::array<std::uint8_t, kAtaBlockSize> BuildIdentifyData(const MemberDisk& disk);

// Plausible SMART READ DATA / READ THRESHOLDS blocks; `variant` makes the two
// members' counters differ.
std::vector<std::uint8_t> DefaultSmartData(int variant);
std::vector<std::uint8_t> DefaultSmartThresholds();

// A firmware-looking flash image of kSpiFlashSize bytes with the type byte at
// 0x95; the unused tail is erased (0xFF).
std::vector<std::uint8_t> DefaultFlashImage();

// The array size in sectors: configuredCapacity, or derived from the members
// and the array mode.
std::uint64_t ArrayCapacity(const Enclosure& model);

// Fills missing parts of the model (SMART blocks, flash) with defaults.
void CompleteModel(Enclosure& model);

// What a sector that carries no reply contains: sector 0 is an empty MBR,
// every other sector a fixed pattern of its address.
void OrdinarySector(std::uint32_t lba, std::span<std::uint8_t> out);

}  // namespace raid::sim
