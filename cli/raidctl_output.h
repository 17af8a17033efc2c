#pragma once
// Text forms of raidctl's data: hex dumps and JSON lines.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <ostream>
#include <span>
#include <string>

namespace raid::cli {

// 16 bytes a line: offset, bytes in hex, then the printable ASCII.
std::string HexDump(std::span<const std::uint8_t> bytes);

// Lower-case hex digits, two per byte, no separators.
std::string HexString(std::span<const std::uint8_t> bytes);

// "0x1F"
std::string HexByte(std::uint8_t value);

// raidctl's JSON keeps its keys in the order they are set: scripts have
// seen them in that order.
using Json = nlohmann::ordered_json;

// `value` compact on one line, then a line end. Bytes that are not UTF-8 (a
// controller's texts need not be) become U+FFFD instead of failing the
// command.
void PrintJsonLine(const Json& value, std::ostream& out);

}  // namespace raid::cli
