#pragma once
// Reading a device's SPI flash without the window: the whole flash or a
// range of it, as an exclusive operation.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/state.h"
#include "device/channel.h"
#include "firmware/firmware_state.h"
#include "firmware/upgrade_host.h"

namespace raid::firmware {

// The flash size of a controller type this program knows, by the type byte
// at 0x95 of its flash; none for any other. The protocol has no size query,
// and reading past the end of a part may wrap around rather than fail.
std::optional<std::uint32_t> FlashSizeOfType(std::uint8_t typeByte);

// The whole flash of device `deviceIndex` by its type byte as discovery
// read it; none when the device or its type is not known.
std::optional<std::uint32_t> WholeFlashLength(const AppState& state, int deviceIndex);

// "the flash size of type XX is not known": why WholeFlashLength gave none.
std::string FlashSizeUnknownText(const AppState& state, int deviceIndex);

struct FlashReadResult {
    bool ok = false;
    std::vector<std::uint8_t> bytes;  // `length` bytes when ok
    std::string failureText;          // otherwise: why, or where the read stopped
};

// Reads flash [start, start + length) of device `deviceIndex` with the read
// loop, as an exclusive operation: nothing is read while another one runs.
// The progress counter counts the chunks; the host shows the bar (label
// "Reading flash...", maximum = chunks).
FlashReadResult ReadFlash(AppState& state, FirmwareState& fw, device::CommandChannel& ch,
                          UpgradeHost& host, int deviceIndex, std::uint32_t start,
                          std::uint32_t length);

}  // namespace raid::firmware
