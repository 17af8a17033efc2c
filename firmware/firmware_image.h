#pragma once
// The firmware file: an image of the controller's SPI flash from address 0,
// recognised by a metadata signature and a format GUID, and tied to a
// product by its firmware and product codes. Loading checks a file against
// the device it is meant for.
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "firmware/file_bytes.h"
#include "firmware/message.h"

namespace raid::firmware {

// Offsets in the file.
inline constexpr std::size_t kSignatureOffset = 0x80;
inline constexpr std::size_t kGuidOffset = 0x84;
inline constexpr std::size_t kTypeByteOffset = 0x95;
inline constexpr std::size_t kFileCodeOffset = 0x9C;
inline constexpr std::size_t kFileProductOffset = 0xA0;
// The checks read bytes up to here; a shorter file is refused.
inline constexpr std::size_t kHeaderSize = kFileProductOffset + 2;
// The boot loader at 0 holds, in bytes 16..18 little-endian, the offset L
// of the 256-byte configuration block; a file must hold the whole block.
inline constexpr std::size_t kConfigOffsetField = 16;
inline constexpr std::size_t kConfigBlockSize = 256;

inline constexpr std::array<std::uint8_t, 4> kMetadataSignature{'V', 'E', 'X', 'T'};
// {AE166DEF-6FDC-474C-9BA4-B6AAE4B69A84} in memory order.
inline constexpr std::array<std::uint8_t, 16> kFormatGuid{
    0xEF, 0x6D, 0x16, 0xAE, 0xDC, 0x6F, 0x4C, 0x47, 0x9B, 0xA4, 0xB6, 0xAA, 0xE4, 0xB6, 0x9A, 0x84};

// Offsets in a device's IdentifyRecord.
inline constexpr std::size_t kDeviceCodeOffset = 46;
inline constexpr std::size_t kDeviceProductOffset = 50;

// Firmware codes up to this one predate product codes: at or below it on
// either side, any product is accepted.
inline constexpr std::uint32_t kProductCheckThreshold = 0x13122500;

// The largest file the loader takes: the flash commands address 128-byte
// blocks with a 16-bit number, so nothing past 8 MiB can be written.
inline constexpr std::uint64_t kMaxFirmwareSize = 0x800000;

struct FirmwareImage {
    std::vector<std::uint8_t> bytes;  // empty: no firmware loaded

    std::uint32_t Size() const { return static_cast<std::uint32_t>(bytes.size()); }
    bool Loaded() const { return !bytes.empty(); }
    void Release() { std::vector<std::uint8_t>().swap(bytes); }
};

// The device a file is checked against.
struct FirmwareTarget {
    std::span<const std::uint8_t> identifyRecord;  // the device's IdentifyRecord
    bool portMultiplier = false;
};

// What the status bar shows after a load; a text that the load did not set
// is empty (the panel keeps what it had).
struct LoadTexts {
    std::string checksum;    // panel 0, "Chksum:0001A2F3"
    std::string deviceCode;  // panel 2, "F:13122501"
    std::string fileCode;    // panel 3, "C:13122501"
    std::string file;        // panel 4, "File:" + path
};

struct LoadResult {
    std::optional<FirmwareImage> image;  // none: refused, no image loaded
    LoadTexts texts;
    std::vector<Message> messages;  // to show in order: read warnings, then a refusal
};

// The 32-bit sum of all bytes, and its text "Chksum:" + 8 hex digits.
std::uint32_t ByteSum(std::span<const std::uint8_t> bytes);
std::string ChecksumText(std::uint32_t sum);

// The product check alone, for a file already in memory (the last check of
// ValidateFirmware): none when `target` takes the file's product, which a
// port-multiplier device always does; otherwise the refusal. `texts`, when
// given, takes the "F:" and "C:" texts (not for a port-multiplier device).
std::optional<Message> CheckProduct(std::span<const std::uint8_t> file,
                                    const FirmwareTarget& target, LoadTexts* texts = nullptr);

// The configuration block's offset L in a file of at least kConfigOffsetField
// + 3 bytes.
std::uint32_t ConfigBlockOffset(std::span<const std::uint8_t> file);

// Checks file bytes already in memory against `target`: format GUID, then
// metadata signature, then that the file holds its configuration block
// (L + 256 bytes at least), then (not for a port-multiplier device) the
// product. A file shorter than kHeaderSize is refused with the GUID message
// and never read past its end. Sets every text but `file`.
LoadResult ValidateFirmware(std::span<const std::uint8_t> file, const FirmwareTarget& target);

// Reads the file at `path` whole (see ReadFileBytes, with a kMaxFirmwareSize
// limit), adding what went wrong to `messages`; none when it cannot be read.
std::optional<std::vector<std::uint8_t>> ReadFirmwareFile(const std::filesystem::path& path,
                                                          FileSource& source,
                                                          std::vector<Message>& messages);

// Reads the file at `path` as ReadFirmwareFile does and validates it. `texts.file` is "File:" + the
// path even when the file cannot be read.
LoadResult LoadFirmwareFile(const std::filesystem::path& path, const FirmwareTarget& target,
                            FileSource& source);
LoadResult LoadFirmwareFile(const std::filesystem::path& path, const FirmwareTarget& target);

}  // namespace raid::firmware
