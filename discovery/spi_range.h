#pragma once
// Reading a range of the controller's SPI flash in 128-byte chunks, with the
// retries a flaky USB bridge needs.
#include <cstdint>
#include <span>

#include "device/channel.h"
#include "discovery/notices.h"

namespace raid::discovery {

inline constexpr int kSpiChunkAttempts = 9;

// Opens physical disk `disk`, reads flash bytes [start, start + length) chunk
// by chunk into `dest` and closes the disk. Each 128-byte chunk gets up to 9
// attempts, pumping before each; a failed attempt puts "ReadSPI fail n times,
// Address = XXXX" on the status line, nine failures "ReadSPI fail, Address =
// XXXX". An unopenable disk shows "Invalid Drive" (caption "Error").
// `dest` must hold whole chunks (length rounded up to 128); otherwise nothing
// is read. `progress`, when given, counts the chunks read. True when every
// chunk was read.
bool ReadSpiRange(device::CommandChannel& ch, int disk, std::uint32_t start, std::uint32_t length,
                  std::span<std::uint8_t> dest, const Notices& notices = {},
                  std::uint32_t* progress = nullptr);

}  // namespace raid::discovery
