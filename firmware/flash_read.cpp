#include "firmware/flash_read.h"

#include <algorithm>

#include "common/text.h"
#include "firmware/exclusive_operation.h"
#include "firmware/spi_ranges.h"

namespace raid::firmware {
namespace {

struct KnownPart {
    std::uint8_t typeByte;
    std::uint32_t size;
};
// The types met so far: the emulated enclosure's 4M-bit part.
constexpr KnownPart kKnownParts[] = {{0x5A, 0x80000}};

}  // namespace

std::optional<std::uint32_t> FlashSizeOfType(std::uint8_t typeByte) {
    for (const KnownPart& part : kKnownParts)
        if (part.typeByte == typeByte) return part.size;
    return std::nullopt;
}

std::optional<std::uint32_t> WholeFlashLength(const AppState& state, int deviceIndex) {
    if (deviceIndex < 0 || deviceIndex >= std::min(state.discovery.deviceCount, kDeviceSlots))
        return std::nullopt;
    return FlashSizeOfType(
        state.discovery.deviceSlots[static_cast<std::size_t>(deviceIndex)].spiTypeByte);
}

std::string FlashSizeUnknownText(const AppState& state, int deviceIndex) {
    const bool known =
        deviceIndex >= 0 && deviceIndex < std::min(state.discovery.deviceCount, kDeviceSlots);
    if (!known) return "the flash size of an unknown device is not known";
    return "the flash size of type " +
           text::HexByte(
               state.discovery.deviceSlots[static_cast<std::size_t>(deviceIndex)].spiTypeByte) +
           " is not known";
}

FlashReadResult ReadFlash(AppState& state, FirmwareState& fw, device::CommandChannel& ch,
                          UpgradeHost& host, int deviceIndex, std::uint32_t start,
                          std::uint32_t length) {
    FlashReadResult result;
    ExclusiveOperation op(state, ch, host);
    if (!op.Held()) {
        result.failureText = "Another flash operation holds the device.";
        return result;
    }
    if (host.IsClosing()) {
        result.failureText = "The program is closing.";
        return result;
    }
    if (std::uint64_t{start} + length > kAddressableFlash) {
        result.failureText = "The range reaches past the 8 MiB the flash commands can address.";
        return result;
    }
    op.SelectDevice(deviceIndex);
    const std::uint64_t chunks = (std::uint64_t{length} + kSpiChunk - 1) / kSpiChunk;
    result.bytes.assign(chunks * kSpiChunk, 0);
    fw.progressCounter = 0;
    host.BeginProgress("Reading flash...", static_cast<std::uint32_t>(chunks));
    result.ok =
        ReadSpiRange(state, ch, start, length, result.bytes, op.Notices(), &fw.progressCounter);
    host.SetProgress(fw.progressCounter);
    host.EndProgress();
    if (result.ok) {
        result.bytes.resize(length);
    } else {
        result.bytes.clear();
        // The loop's own text, or the device check's; none when the disk
        // would not open, which is where the loop stopped.
        result.failureText =
            op.Status().empty() ? "ReadSPI fail, Address = " + AddressText(start) : op.Status();
    }
    return result;
}

}  // namespace raid::firmware
