#pragma once
// Text forms of raidctl's data: hex dumps and JSON strings.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace raid::cli {

// 16 bytes a line: offset, bytes in hex, then the printable ASCII.
std::string HexDump(std::span<const std::uint8_t> bytes);

// Lower-case hex digits, two per byte, no separators.
std::string HexString(std::span<const std::uint8_t> bytes);

// "0x1F"
std::string HexByte(std::uint8_t value);

// A JSON string literal, quotes included.
std::string JsonString(std::string_view text);

}  // namespace raid::cli
