#include "discovery/spi_range.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace raid::discovery {
namespace {

std::string Hex4(std::uint32_t address) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04X", address);
    return buf;
}

}  // namespace

bool ReadSpiRange(device::CommandChannel& ch, int disk, std::uint32_t start, std::uint32_t length,
                  std::span<std::uint8_t> dest, const Notices& notices, std::uint32_t* progress) {
    constexpr std::uint32_t kChunk = device::kPayloadSize;
    const std::uint64_t chunks = (static_cast<std::uint64_t>(length) + kChunk - 1) / kChunk;
    if (dest.size() < chunks * kChunk) return false;
    auto handle = device::OpenDevice(ch, disk);
    if (!handle) {
        notices.Message("Invalid Drive", "Error");
        return false;
    }
    device::SpiBlock block{};
    for (std::uint64_t c = 0; c < chunks; ++c) {
        const auto address = static_cast<std::uint32_t>(start + c * kChunk);
        bool done = false;
        for (int attempt = 1; attempt <= kSpiChunkAttempts && !done; ++attempt) {
            if (ch.pump) ch.pump();
            if (device::ReadSPI(ch, *handle, address, block) == device::kResultSuccess) {
                done = true;
            } else {
                notices.Status("ReadSPI fail " + std::to_string(attempt) +
                               " times, Address = " + Hex4(address));
            }
        }
        if (!done) {
            notices.Status("ReadSPI fail, Address = " + Hex4(address));
            return false;
        }
        std::copy(block.begin(), block.end(), dest.begin() + static_cast<long>(c * kChunk));
        if (progress) ++*progress;
    }
    return true;
}

}  // namespace raid::discovery
