#pragma once
// Assembling a complete SPI flash image from the sub-code table: the boot
// loader at 0, sub-code k in the 0xC000-byte slot at 0xC000 x k, a 256-byte
// configuration block at L (the 24-bit number in bytes 16..18 of the boot
// loader), 0xFF from there up to L + 0x8000, and pseudo-random filler in the
// unused room from 0x8000 up to the block. Pure functions over bytes, so the
// "Make Bin" window and a headless tool build the same image.
#include <cstdint>
#include <filesystem>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "firmware/file_bytes.h"
#include "firmware/firmware_image.h"
#include "firmware/message.h"
#include "image_builder/sub_code_table.h"

namespace raid::tools {

inline constexpr std::uint32_t kSlotSize = 0xC000;
// The loader refuses a file that does not hold the block, by the same numbers.
inline constexpr std::size_t kConfigOffsetField = firmware::kConfigOffsetField;
inline constexpr std::uint32_t kBlockSize = firmware::kConfigBlockSize;
inline constexpr std::uint32_t kConfigRoom = 0x8000;  // the block and the 0xFF after it
inline constexpr std::uint32_t kFillerStart = 0x8000;
inline constexpr std::uint32_t kLargestImage = 0x800000;  // what the flash commands can address

enum class ImageSize { Auto, Bits1M, Bits2M, Bits4M, Bits8M };

// The "Setting" tab.
struct BuilderSettings {
    ImageSize size = ImageSize::Auto;
    bool raidModeByJumper = true;
    bool chip5080A = true;
    std::uint8_t fans = 1;  // 0..15
    std::uint16_t fanAlarmRpm = 2000;
    std::uint8_t thermalSensors = 1;  // 0..15
    std::uint8_t thermalAlarmC = 50;
    bool scheduleBackup = false;
    bool fastBackup = false;
};

// The "Setting" tab's number fields as typed.
struct SettingTexts {
    std::string fans, fanAlarm, thermalSensors, thermalAlarm;
};

// Reads the number fields into `settings`; returns the refusal of the first
// field that is not a number in its range (settings then unchanged), empty
// when all were taken.
std::string ApplySettingTexts(BuilderSettings& settings, const SettingTexts& texts);

// The pseudo-random bytes in unused room. One generator for the window's
// life, seeded when it is made; the same seed gives the same bytes.
class Filler {
public:
    explicit Filler(std::uint32_t seed) : rng_(seed) {}
    std::uint8_t Next() { return static_cast<std::uint8_t>(rng_() >> 8); }

private:
    std::minstd_rand rng_;
};

// Image size S for configuration offset L: L + 0x8000 when automatic,
// else the chosen size.
std::uint64_t ImageSizeFor(ImageSize size, std::uint32_t configOffset);

// Byte 113 of the block: bit 7 Schedule Backup, bit 6 Fast Backup, bit t
// for every sub-code whose code type has low four bits t < 4.
std::uint8_t FunctionFlags(const SubCodeTable& table, const BuilderSettings& settings);

// The 16-bit sum of block bytes 0..253, stored at 254 least significant
// byte first.
std::uint16_t BlockChecksum(std::span<const std::uint8_t> block);

struct BuiltImage {
    std::vector<std::uint8_t> bytes;  // empty when refused: nothing to save
    std::uint32_t configOffset = 0;   // L
    // To show in order: file warnings, then a refusal.
    std::vector<firmware::Message> messages;

    bool Ok() const { return !bytes.empty(); }
};

// Builds the image of `table` with `settings`, reading the files through
// `source` (at most 0xC000 bytes each; read errors are told with caption
// "GetASPISupportInfo:" and retried a bounded number of times). Refused,
// with a message and no bytes: an unreadable or too large file, a boot
// loader too short for L, more than ten sub-codes, sub-code slots reaching
// past L, a chosen size below L + 0x8000, an image past 8 MiB.
BuiltImage BuildImage(const SubCodeTable& table, const BuilderSettings& settings, Filler& filler,
                      firmware::FileSource& source);

// The name an image is saved under: `chosen` with its extension replaced by
// (or, without one, followed by) ".bin".
std::filesystem::path SaveNameFor(const std::filesystem::path& chosen);

struct SaveResult {
    bool ok = false;
    std::filesystem::path savedAs;
    std::string statusText;  // "Svae File OK :" + name
    std::vector<firmware::Message> messages;
};

// Writes all of `image` to SaveNameFor(chosen); "Fail to create file"
// (caption "Error") when that fails.
SaveResult SaveImage(const std::filesystem::path& chosen, std::span<const std::uint8_t> image);

}  // namespace raid::tools
