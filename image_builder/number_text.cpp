#include "image_builder/number_text.h"

#include <cctype>

namespace raid::tools {
namespace {

// More digits than any 32-bit value needs cannot be a value we take.
constexpr std::size_t kMaxDigits = 10;

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::optional<std::uint64_t> Digits(std::string_view digits, int base) {
    if (digits.empty() || digits.size() > kMaxDigits) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : digits) {
        const int u = std::toupper(static_cast<unsigned char>(c));
        int d;
        if (u >= '0' && u <= '9')
            d = u - '0';
        else if (base == 16 && u >= 'A' && u <= 'F')
            d = u - 'A' + 10;
        else
            return std::nullopt;
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    }
    return value;
}

}  // namespace

std::optional<std::uint32_t> ParseNumberText(std::string_view text, std::uint32_t max) {
    const std::string_view s = Trimmed(text);
    const bool hex = !s.empty() && (s.back() == 'H' || s.back() == 'h');
    const auto value = hex ? Digits(s.substr(0, s.size() - 1), 16) : Digits(s, 10);
    if (!value || *value > max) return std::nullopt;
    return static_cast<std::uint32_t>(*value);
}

std::string NumberRefusal(std::string_view field, std::string_view text, std::uint32_t max) {
    return "\"" + std::string(text.substr(0, 40)) + "\" is not a number for " + std::string(field) +
           ": write it in decimal (26) or in hexadecimal ending in H (1AH), from 0 to " +
           std::to_string(max) + ".";
}

}  // namespace raid::tools
