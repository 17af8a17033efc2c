#pragma once
// The controller's view of a knock sequence: it follows the addresses of
// one-sector reads and rebuilds the command block they spell.
#include <array>
#include <cstdint>
#include <span>

#include "device/protocol.h"

namespace raid::sim {

class KnockDecoder {
public:
    enum class Event {
        None,      // nothing of note (also: a read that broke a sequence)
        Started,   // a preamble began a new command
        Complete,  // a whole block arrived and its CRC is right; see Block()
        BadCrc,    // a whole block arrived but its CRC is wrong
    };

    // Feeds the address of one successful read. Separator reads (0x5FFF) are
    // skipped; a repeat of the previous address without a separator between
    // is invisible to the controller and skipped as well.
    Event Feed(std::uint32_t lba);

    // The command block of the last Complete event: 16 or 144 bytes.
    std::span<const std::uint8_t> Block() const;

    void Reset();

private:
    // Takes `lba` as the next entry when it fits the sequence so far.
    bool Accept(std::uint32_t lba);
    std::size_t BlockSize() const;

    std::array<std::uint8_t, device::kBlockSizeWithPayload> block_{};
    std::array<std::uint8_t, 4> crc_{};
    std::size_t position_ = 0;  // sequence entries accepted so far
    std::size_t completeSize_ = 0;
    std::uint32_t lastLba_ = device::kSeparatorLba;
};

}  // namespace raid::sim
