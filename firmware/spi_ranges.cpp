#include "firmware/spi_ranges.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>

#include "discovery/spi_range.h"

namespace raid::firmware {
namespace {

static_assert(kSpiChunkAttempts == discovery::kSpiChunkAttempts);

constexpr const char* kStopMark = "SPI fail, Address = ";

// The physical disk the loops address, or none after telling why not.
std::optional<int> RangeDisk(const AppState& state, const discovery::Notices& notices,
                             bool duringDiscoveryToo) {
    if (duringDiscoveryToo && state.shell.detecting.load())
        return state.discovery.probeEntry.load() & static_cast<int>(kDeviceEntryDiskMask);
    const auto& d = state.discovery;
    if (d.deviceCount <= 0) {
        notices.Status("Device not found!!!");
        notices.Message("No Device found !", "Message");
        return std::nullopt;
    }
    const std::uint32_t index = state.shell.operationDeviceIndex.load();
    if (index >= static_cast<std::uint32_t>(std::min(d.deviceCount, kDeviceTableSize))) {
        notices.Status("No Upgrade Mode!!!");
        notices.Message("No Upgrade Mode !", "Message");
        return std::nullopt;
    }
    return d.DiskOf(static_cast<int>(index));
}

bool WithinFlash(std::uint32_t start, std::uint32_t length) {
    return std::uint64_t{start} + length <= kAddressableFlash;
}

struct Loop {
    const char* retryText;  // followed by the attempt number
    const char* stopText;   // followed by the address
    std::uint32_t step;
};

using ChunkCommand = std::function<std::uint8_t(platform::DiskHandle& disk, std::uint32_t address,
                                                std::uint32_t offset)>;

bool RunChunks(device::CommandChannel& ch, int disk, std::uint32_t start, std::uint32_t length,
               const Loop& loop, const discovery::Notices& notices, std::uint32_t* progress,
               const ChunkCommand& command) {
    auto handle = device::OpenDevice(ch, disk);
    if (!handle) {
        notices.Message("Invalid Drive", "Error");
        return false;
    }
    for (std::uint32_t offset = 0; offset < length; offset += loop.step) {
        const std::uint32_t address = start + offset;
        bool done = false;
        for (int attempt = 1; attempt <= kSpiChunkAttempts && !done; ++attempt) {
            if (ch.pump) ch.pump();
            done = command(*handle, address, offset) == device::kResultSuccess;
            if (!done)
                notices.Status(loop.retryText + std::to_string(attempt) +
                               " times, Address = " + AddressText(address));
        }
        if (!done) {
            notices.Status(loop.stopText + AddressText(address));
            return false;
        }
        if (progress) ++*progress;
    }
    return true;
}

}  // namespace

std::string AddressText(std::uint32_t address) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04X", address);
    return buf;
}

bool IsStopText(const std::string& statusText) {
    return statusText.find(kStopMark) != std::string::npos;
}

bool ReadSpiRange(const AppState& state, device::CommandChannel& ch, std::uint32_t start,
                  std::uint32_t length, std::span<std::uint8_t> dest,
                  const discovery::Notices& notices, std::uint32_t* progress) {
    if (!WithinFlash(start, length)) return false;
    const auto disk = RangeDisk(state, notices, true);
    return disk && discovery::ReadSpiRange(ch, *disk, start, length, dest, notices, progress);
}

bool WriteSpiRange(const AppState& state, device::CommandChannel& ch, std::uint32_t start,
                   std::uint32_t length, std::span<const std::uint8_t> source,
                   const discovery::Notices& notices, std::uint32_t* progress) {
    if (!WithinFlash(start, length) || source.size() < length) return false;
    const auto disk = RangeDisk(state, notices, false);
    if (!disk) return false;
    device::SpiBlock chunk{};
    return RunChunks(
        ch, *disk, start, length, {"WriteSPI fail", "WriteSPI fail, Address = ", kSpiChunk},
        notices, progress,
        [&](platform::DiskHandle& handle, std::uint32_t address, std::uint32_t offset) {
            const std::size_t n = std::min<std::size_t>(kSpiChunk, length - offset);
            chunk.fill(0xFF);
            std::copy_n(source.begin() + offset, n, chunk.begin());
            return device::WriteSPI(ch, handle, address, chunk);
        });
}

bool EraseSpiRange(const AppState& state, device::CommandChannel& ch, std::uint32_t start,
                   std::uint32_t length, const discovery::Notices& notices,
                   std::uint32_t* progress) {
    if (!WithinFlash(start, length)) return false;
    const auto disk = RangeDisk(state, notices, false);
    if (!disk) return false;
    return RunChunks(ch, *disk, start, length,
                     {"EraseSPI fail ", "EraseSPI fail, Address = ", kEraseStep}, notices, progress,
                     [&](platform::DiskHandle& handle, std::uint32_t address, std::uint32_t) {
                         return device::EraseSPI(ch, handle, address);
                     });
}

}  // namespace raid::firmware
