#include "firmware/firmware_image.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace raid::firmware {
namespace {

std::uint32_t BigEndian32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | bytes[offset + i];
    return v;
}

std::string HexText(const char* prefix, std::uint64_t value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s%llX", prefix, static_cast<unsigned long long>(value));
    return buf;
}

Message Refusal(std::string text) { return {std::move(text), "Error", MessageIcon::Error}; }

// Why a file does not hold its configuration block; empty when it does. The
// block's checksum is not checked: only the image builder is known to set
// it, and a file from elsewhere that works must not be refused over it.
std::string ConfigBlockRefusal(std::span<const std::uint8_t> file) {
    const std::uint64_t l = ConfigBlockOffset(file);
    const std::string size = HexText("0x", file.size());
    const char* const advice = "\nThe file is not complete. Please check it.";
    if (l >= file.size())
        return "The firmware file ends at " + size + ", before its configuration block at " +
               HexText("0x", l) + "." + advice;
    if (l + kConfigBlockSize > file.size())
        return "The firmware file ends at " + size + ", inside its " +
               std::to_string(kConfigBlockSize) + "-byte configuration block at " +
               HexText("0x", l) + "." + advice;
    return {};
}

bool Matches(std::span<const std::uint8_t> file, std::size_t offset,
             std::span<const std::uint8_t> expected) {
    return std::equal(expected.begin(), expected.end(), file.begin() + offset);
}

bool IsEitherOf2760And2770(std::uint8_t high, std::uint8_t low) {
    return high == 0x27 && (low == 0x70 || low == 0x60);
}

// Whether a file with firmware code C and the product bytes at 0xA0 may go
// onto a device whose identify record holds F and its product bytes.
bool ProductAccepted(std::span<const std::uint8_t> file, std::span<const std::uint8_t> identify,
                     std::uint32_t deviceCode, std::uint32_t fileCode) {
    if (deviceCode <= kProductCheckThreshold || fileCode <= kProductCheckThreshold) return true;
    const std::uint8_t deviceHigh = identify[kDeviceProductOffset];
    const std::uint8_t deviceLow = identify[kDeviceProductOffset + 1];
    const std::uint8_t fileHigh = file[kFileProductOffset];
    const std::uint8_t fileLow = file[kFileProductOffset + 1];
    // The 2760 and 2770 share one firmware.
    if (IsEitherOf2760And2770(deviceHigh, deviceLow))
        return IsEitherOf2760And2770(fileHigh, fileLow);
    return fileHigh == deviceHigh && fileLow == deviceLow;
}

}  // namespace

std::uint32_t ConfigBlockOffset(std::span<const std::uint8_t> file) {
    return file[kConfigOffsetField] | std::uint32_t{file[kConfigOffsetField + 1]} << 8 |
           std::uint32_t{file[kConfigOffsetField + 2]} << 16;
}

std::uint32_t ByteSum(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    for (std::uint8_t b : bytes) sum += b;
    return sum;
}

std::string ChecksumText(std::uint32_t sum) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "Chksum:%08X", sum);
    return buf;
}

std::optional<Message> CheckProduct(std::span<const std::uint8_t> file,
                                    const FirmwareTarget& target, LoadTexts* texts) {
    if (target.portMultiplier) return std::nullopt;
    // A record or file too short to hold the codes reads as zeros: no
    // product check.
    std::array<std::uint8_t, kDeviceProductOffset + 2> identify{};
    std::copy_n(target.identifyRecord.begin(),
                std::min(target.identifyRecord.size(), identify.size()), identify.begin());
    std::array<std::uint8_t, kHeaderSize> header{};
    std::copy_n(file.begin(), std::min(file.size(), header.size()), header.begin());
    const std::uint32_t deviceCode = BigEndian32(identify, kDeviceCodeOffset);
    const std::uint32_t fileCode = BigEndian32(header, kFileCodeOffset);
    if (texts) {
        texts->deviceCode = HexText("F:", deviceCode);
        texts->fileCode = HexText("C:", fileCode);
    }
    if (ProductAccepted(header, identify, deviceCode, fileCode)) return std::nullopt;
    return Refusal("The firmware is not for this product.\nPlease check it.");
}

LoadResult ValidateFirmware(std::span<const std::uint8_t> file, const FirmwareTarget& target) {
    LoadResult result;
    result.texts.checksum = ChecksumText(ByteSum(file));
    if (file.size() < kHeaderSize || !Matches(file, kGuidOffset, kFormatGuid)) {
        result.messages.push_back(
            Refusal("Threr are GUID error in the firmware file.\nPlease check it."));
        return result;
    }
    if (!Matches(file, kSignatureOffset, kMetadataSignature)) {
        result.messages.push_back(
            Refusal("Threr are METADATA_SINGATURE error in the firmware file.\nPlease check it."));
        return result;
    }
    if (std::string why = ConfigBlockRefusal(file); !why.empty()) {
        result.messages.push_back(Refusal(std::move(why)));
        return result;
    }
    if (auto refusal = CheckProduct(file, target, &result.texts)) {
        result.messages.push_back(std::move(*refusal));
        return result;
    }
    result.image = FirmwareImage{std::vector<std::uint8_t>(file.begin(), file.end())};
    return result;
}

std::optional<std::vector<std::uint8_t>> ReadFirmwareFile(const std::filesystem::path& path,
                                                          FileSource& source,
                                                          std::vector<Message>& messages) {
    const FileBytesRequest request{
        kMaxFirmwareSize,
        "The file is larger than 8 MiB, more than the controller's flash commands can address.",
        "Warning:"};
    return ReadFileBytes(source, path, request, [&](const Message& m) { messages.push_back(m); });
}

LoadResult LoadFirmwareFile(const std::filesystem::path& path, const FirmwareTarget& target,
                            FileSource& source) {
    std::vector<Message> readMessages;
    const auto bytes = ReadFirmwareFile(path, source, readMessages);
    LoadResult result;
    if (bytes) result = ValidateFirmware(*bytes, target);
    result.texts.file = "File:" + path.string();
    result.messages.insert(result.messages.begin(), readMessages.begin(), readMessages.end());
    return result;
}

LoadResult LoadFirmwareFile(const std::filesystem::path& path, const FirmwareTarget& target) {
    PosixFileSource source;
    return LoadFirmwareFile(path, target, source);
}

}  // namespace raid::firmware
