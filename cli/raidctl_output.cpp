#include "cli/raidctl_output.h"

#include <cstdio>

#include "common/text.h"

namespace raid::cli {
namespace {
constexpr char kLower[] = "0123456789abcdef";
}  // namespace

std::string HexDump(std::span<const std::uint8_t> bytes) {
    std::string out;
    for (std::size_t line = 0; line < bytes.size(); line += 16) {
        char offset[24];
        std::snprintf(offset, sizeof offset, "%04zx  ", line);
        out += offset;
        std::string ascii;
        for (std::size_t i = line; i < line + 16; ++i) {
            if (i < bytes.size()) {
                out += kLower[bytes[i] >> 4];
                out += kLower[bytes[i] & 0xF];
                out += ' ';
                ascii += (bytes[i] >= 0x20 && bytes[i] < 0x7F) ? static_cast<char>(bytes[i]) : '.';
            } else {
                out += "   ";
            }
            if (i == line + 7) out += ' ';
        }
        out += " |" + ascii + "|\n";
    }
    return out;
}

std::string HexString(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out += kLower[b >> 4];
        out += kLower[b & 0xF];
    }
    return out;
}

std::string HexByte(std::uint8_t value) { return text::HexByte(value); }

void PrintJsonLine(const Json& value, std::ostream& out) {
    out << value.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
}

}  // namespace raid::cli
