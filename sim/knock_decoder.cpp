#include "sim/knock_decoder.h"

namespace raid::sim {
namespace {

constexpr std::uint32_t kPreambleWords[4] = {0x43, 0x71, 0xA7, 0xDF};
constexpr std::size_t kHeaderEntries = 4;  // preamble words
constexpr std::size_t kFixedEntries = 12;  // preamble, header, command
constexpr std::uint32_t kRoleHeader = 0x100;
constexpr std::uint32_t kRoleCommand = 0x200;
constexpr std::uint32_t kRolePayload = 0x300;
constexpr std::uint32_t kRoleCrc = 0x400;

}  // namespace

KnockDecoder::Event KnockDecoder::Feed(std::uint32_t lba) {
    if (lba == device::kSeparatorLba) {
        lastLba_ = lba;
        return Event::None;
    }
    const bool repeat = lba == lastLba_;
    lastLba_ = lba;
    if (repeat) return Event::None;

    if (Accept(lba)) {
        if (position_ == 1) return Event::Started;
        // A sequence has as many entries as its block has bytes: the four
        // preamble words stand for eight bytes, the four CRC bytes make up.
        const std::size_t blockSize = BlockSize();
        if (position_ < blockSize) return Event::None;
        position_ = 0;
        const std::uint32_t expected =
            device::CommandCrc(std::span<const std::uint8_t>(block_.data(), blockSize));
        const std::uint32_t received = (std::uint32_t{crc_[0]} << 24) |
                                       (std::uint32_t{crc_[1]} << 16) |
                                       (std::uint32_t{crc_[2]} << 8) | crc_[3];
        if (expected != received) return Event::BadCrc;
        completeSize_ = blockSize;
        return Event::Complete;
    }
    // Out of sequence: start over, and a fresh preamble word begins anew.
    position_ = 0;
    if (Accept(lba)) return Event::Started;
    return Event::None;
}

std::span<const std::uint8_t> KnockDecoder::Block() const {
    return std::span<const std::uint8_t>(block_.data(), completeSize_);
}

void KnockDecoder::Reset() {
    position_ = 0;
    lastLba_ = device::kSeparatorLba;
}

std::size_t KnockDecoder::BlockSize() const {
    return block_[8] == 1 ? device::kBlockSizeWithPayload : device::kBlockSizeNoPayload;
}

bool KnockDecoder::Accept(std::uint32_t lba) {
    const std::size_t p = position_;
    if (p < kHeaderEntries) {
        if (lba != kPreambleWords[p]) return false;
        block_[2 * p] = static_cast<std::uint8_t>(lba);
        block_[2 * p + 1] = 0;
        ++position_;
        return true;
    }
    const std::uint32_t role = lba & ~0xFFu;
    const auto value = static_cast<std::uint8_t>(lba);
    // Entry p carries block byte p + 4 (the preamble words took two bytes each).
    if (p < kFixedEntries) {
        const std::uint32_t want = p < 8 ? kRoleHeader : kRoleCommand;
        if (role != want) return false;
        if (p == kHeaderEntries && value > 1) return false;  // H0: payload flag
        block_[p + 4] = value;
        ++position_;
        return true;
    }
    const std::size_t payloadEnd = BlockSize() - kHeaderEntries;
    if (p < payloadEnd) {
        if (role != kRolePayload) return false;
        block_[p + 4] = value;
        ++position_;
        return true;
    }
    if (role != kRoleCrc || p >= payloadEnd + 4) return false;
    crc_[p - payloadEnd] = value;
    ++position_;
    return true;
}

}  // namespace raid::sim
