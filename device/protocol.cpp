#include "device/protocol.h"

#include <zlib.h>

#include <cstring>

namespace raid::device {

std::uint32_t CommandCrc(std::span<const std::uint8_t> block) {
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, block.data(), static_cast<uInt>(block.size()));
    return static_cast<std::uint32_t>(crc);
}

std::vector<std::uint8_t> BuildCommandBlock(std::uint8_t h1, std::uint8_t c0, std::uint8_t c1,
                                            std::uint8_t c2, std::uint8_t c3,
                                            std::span<const std::uint8_t> payload) {
    const bool hasPayload = !payload.empty();
    std::vector<std::uint8_t> block(kPreamble.begin(), kPreamble.end());
    block.insert(block.end(), {static_cast<std::uint8_t>(hasPayload ? 1 : 0), h1, 0xEF, 0xFF});
    block.insert(block.end(), {c0, c1, c2, c3});
    if (hasPayload) {
        std::uint8_t padded[kPayloadSize] = {};
        std::memcpy(padded, payload.data(), std::min(payload.size(), kPayloadSize));
        block.insert(block.end(), padded, padded + kPayloadSize);
    }
    const std::uint32_t crc = CommandCrc(block);
    block.insert(block.end(),
                 {static_cast<std::uint8_t>(crc >> 24), static_cast<std::uint8_t>(crc >> 16),
                  static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc)});
    return block;
}

std::vector<std::uint32_t> BuildKnockSequence(std::span<const std::uint8_t> blockWithCrc) {
    std::vector<std::uint32_t> lbas;
    if (blockWithCrc.size() != kBlockSizeNoPayload + 4 &&
        blockWithCrc.size() != kBlockSizeWithPayload + 4)
        return lbas;
    lbas.reserve(blockWithCrc.size() - 4);
    // Preamble words go as themselves; every other byte carries its role in
    // the high bits: 0x100 header, 0x200 command, 0x300 payload, 0x400 CRC.
    for (std::size_t i = 0; i < 8; i += 2)
        lbas.push_back(static_cast<std::uint32_t>(blockWithCrc[i] | (blockWithCrc[i + 1] << 8)));
    const std::size_t crcStart = blockWithCrc.size() - 4;
    for (std::size_t i = 8; i < blockWithCrc.size(); ++i) {
        std::uint32_t role = i < 12 ? 0x100 : i < 16 ? 0x200 : i < crcStart ? 0x300 : 0x400;
        lbas.push_back(role + blockWithCrc[i]);
    }
    return lbas;
}

std::uint8_t ReplyStatus(std::uint8_t statusByte) {
    switch (statusByte) {
        case 0x00:
        case 0x10:
        case 0x20:
        case 0xC0:
        case 0xD0:
        case 0xE0:
        case 0xF0:
        case 0xFF:
            return statusByte;
        default:
            return kResultUnknownStatus;
    }
}

int RecognizeSignature(std::span<const std::uint8_t> reply) {
    if (reply.size() < kReplySize) return -1;
    auto matches = [&](const Signature& s) {
        return std::memcmp(reply.data() + kSignatureAOffset, s.a, kSignatureSize) == 0 &&
               std::memcmp(reply.data() + kSignatureBOffset, s.b, kSignatureSize) == 0;
    };
    if (matches(kRaidBridgeSignature)) return kControllerRaidBridge;
    if (matches(kPortMultiplierSignature)) return kControllerPortMultiplier;
    return -1;
}

std::array<std::uint8_t, kPayloadSize> BuildDiskFis(std::uint8_t ata) {
    std::array<std::uint8_t, kPayloadSize> fis{};
    const bool identify = ata == 0xEC;
    fis[0] = 0x27;
    fis[1] = 0x80;
    fis[2] = identify ? 0xEC : 0xB0;
    fis[3] = identify ? 0x00 : ata;
    fis[4] = 0x01;
    fis[5] = 0x4F;
    fis[6] = 0xC2;
    fis[7] = 0xE0;
    fis[12] = 0x01;
    return fis;
}

}  // namespace raid::device
