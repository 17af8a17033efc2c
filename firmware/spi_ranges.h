#pragma once
// The three range loops over the controller's flash commands, addressed at
// the device that an exclusive operation holds (the operation device
// index); a read made during discovery goes to the disk under probe.
//
// Shape shared by all three: the device table is checked first ("Device not
// found!!!" / "No Device found !" with no device, "No Upgrade Mode!!!" / "No
// Upgrade Mode !" when the operation device index is not a device); the
// disk is opened ("Invalid Drive", caption "Error", when it cannot be); then
// chunk by chunk from `start` up, each chunk gets up to 9 attempts, the
// window pumped before each, a failed attempt naming itself on the status
// line and nine naming the address where the loop stopped; the disk is
// closed before returning. True when every chunk succeeded. `progress`,
// when given, counts the chunks done. A range reaching past
// kAddressableFlash is refused before anything is sent.
#include <cstdint>
#include <span>
#include <string>

#include "common/state.h"
#include "device/channel.h"
#include "discovery/notices.h"

namespace raid::firmware {

inline constexpr std::uint32_t kSpiChunk = 128;    // read and program
inline constexpr std::uint32_t kEraseStep = 4096;  // erase
inline constexpr int kSpiChunkAttempts = 9;
// The flash commands carry a 16-bit block number: addresses from here on
// would wrap to the start of the flash, so no range may reach past it.
inline constexpr std::uint64_t kAddressableFlash = 0x10000 * std::uint64_t{kSpiChunk};

// The flash address as the status texts show it: upper-case hex, at least
// four digits ("0080", "1F000").
std::string AddressText(std::uint32_t address);

// True for a loop's final text ("WriteSPI fail, Address = 0080"), the text
// that says where a loop stopped.
bool IsStopText(const std::string& statusText);

// ReadSPI over [start, start + length) into `dest`, which must hold whole
// chunks. Retry text "ReadSPI fail n times, Address = XXXX", final text
// "ReadSPI fail, Address = XXXX".
bool ReadSpiRange(const AppState& state, device::CommandChannel& ch, std::uint32_t start,
                  std::uint32_t length, std::span<std::uint8_t> dest,
                  const discovery::Notices& notices, std::uint32_t* progress = nullptr);

// WriteSPI over [start, start + length) from `source` (at least `length`
// bytes); a last chunk past the end of `source` is filled with 0xFF, the
// erased state, so it programs nothing there. Retry text "WriteSPI failn
// times, Address = XXXX" (no blank before n), final "WriteSPI fail, Address
// = XXXX".
bool WriteSpiRange(const AppState& state, device::CommandChannel& ch, std::uint32_t start,
                   std::uint32_t length, std::span<const std::uint8_t> source,
                   const discovery::Notices& notices, std::uint32_t* progress = nullptr);

// EraseSPI in 4096-byte steps over [start, start + length). Retry text
// "EraseSPI fail n times, Address = XXXX", final "EraseSPI fail, Address =
// XXXX".
bool EraseSpiRange(const AppState& state, device::CommandChannel& ch, std::uint32_t start,
                   std::uint32_t length, const discovery::Notices& notices,
                   std::uint32_t* progress = nullptr);

}  // namespace raid::firmware
