#pragma once
// The controller's command channel: a command is spelled as one-sector reads
// of low block addresses (the knock sequence) and answered in block 17 with a
// signed reply sector. Constants here are shared with the emulator.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace raid::device {

inline constexpr std::uint32_t kReplyLba = 17;
inline constexpr std::uint32_t kSeparatorLba = 0x5FFF;
inline constexpr std::size_t kReplySize = 512;
inline constexpr std::size_t kPayloadSize = 128;
inline constexpr std::size_t kBlockSizeNoPayload = 16;
inline constexpr std::size_t kBlockSizeWithPayload = 16 + kPayloadSize;
inline constexpr std::size_t kMaxKnockLength = kBlockSizeWithPayload + 4;

inline constexpr std::array<std::uint8_t, 8> kPreamble{0x43, 0x00, 0x71, 0x00,
                                                       0xA7, 0x00, 0xDF, 0x00};

// Reply sector layout.
inline constexpr std::size_t kSignatureAOffset = 0;
inline constexpr std::size_t kStatusOffset = 48;
inline constexpr std::size_t kEchoCommandOffset = 76;
inline constexpr std::size_t kEchoParamOffset = 77;
inline constexpr std::size_t kDataWindowOffset = 80;
inline constexpr std::size_t kSignatureBOffset = 496;
inline constexpr std::size_t kSignatureSize = 16;

struct Signature {
    const char* a;
    const char* b;
};
inline constexpr Signature kRaidBridgeSignature{"__DRAMLET6182A__", "__SATA6GRAID01__"};
inline constexpr Signature kPortMultiplierSignature{"__QUORVEL2109A__", "_PORTMULTIPLIER_"};

// ControllerType values.
inline constexpr std::uint8_t kControllerRaidBridge = 0;
inline constexpr std::uint8_t kControllerPortMultiplier = 1;

// Command result codes.
inline constexpr std::uint8_t kResultSuccess = 0;
inline constexpr std::uint8_t kResultOpenFailed = 0xF0;
inline constexpr std::uint8_t kResultReplyReadFailed = 0xF1;
inline constexpr std::uint8_t kResultNoReply = 0xF2;
inline constexpr std::uint8_t kResultUnknownStatus = 0xF4;
inline constexpr std::uint8_t kResultKnockReadFailed = 0xFF;
inline constexpr std::uint8_t kStatusSuccess = 0x20;

// Command codes this program sends.
namespace cmd {
inline constexpr std::uint8_t kIdentify = 0x10;
inline constexpr std::uint8_t kInformation = 0x11;
inline constexpr std::uint8_t kRebuildProgress = 0x15;
inline constexpr std::uint8_t kArrayStatus = 0x17;
inline constexpr std::uint8_t kReadSpi = 0x20;
inline constexpr std::uint8_t kEraseSpi = 0x23;
inline constexpr std::uint8_t kWriteSpi = 0x25;
inline constexpr std::uint8_t kBuzzerMuteOn = 0x70;
inline constexpr std::uint8_t kBuzzerMuteOff = 0x71;
inline constexpr std::uint8_t kBackupPreset0 = 0x72;  // 0x72..0x75
inline constexpr std::uint8_t kBackupPreset3 = 0x75;
inline constexpr std::uint8_t kParamCommand76 = 0x76;
inline constexpr std::uint8_t kParamCommand77 = 0x77;
inline constexpr std::uint8_t kSetting = 0x78;
inline constexpr std::uint8_t kDiskCommand = 0xB1;
inline constexpr std::uint8_t kDiskCommandData = 0xB2;
}  // namespace cmd

// The parameter bytes a command carries when none are set.
inline constexpr std::uint8_t kDefaultParams[3] = {0xCF, 0xDF, 0xEF};

// CRC-32 (zlib) of the block, as the knock sequence carries it.
std::uint32_t CommandCrc(std::span<const std::uint8_t> block);

// The command block: preamble, header, command, optional 128-byte payload and
// the CRC, most significant byte first. Returns 20 or 148 bytes.
std::vector<std::uint8_t> BuildCommandBlock(std::uint8_t h1, std::uint8_t c0, std::uint8_t c1,
                                            std::uint8_t c2, std::uint8_t c3,
                                            std::span<const std::uint8_t> payload);

// The LBAs that spell `blockWithCrc` (20 or 148 bytes).
std::vector<std::uint32_t> BuildKnockSequence(std::span<const std::uint8_t> blockWithCrc);

// The normalised status byte of a reply.
std::uint8_t ReplyStatus(std::uint8_t statusByte);

// Which controller signed `reply`; -1 when neither signature pair matches.
int RecognizeSignature(std::span<const std::uint8_t> reply);

// The SATA Register Host-to-Device FIS of a disk command, padded to 128 bytes.
std::array<std::uint8_t, kPayloadSize> BuildDiskFis(std::uint8_t ata);

}  // namespace raid::device
