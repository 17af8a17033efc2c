#pragma once
// Numbers as the image builder's fields take them: decimal ("26") or
// hexadecimal with a trailing H ("1AH", any letter case).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace raid::tools {

// The value of `text`, blanks around it ignored; none for a text that is
// neither form (an empty one, "1AZH", "H", "-3", "0x1A") or whose value is
// above `max`.
std::optional<std::uint32_t> ParseNumberText(std::string_view text, std::uint32_t max);

// Why `text` was refused for the field called `field`.
std::string NumberRefusal(std::string_view field, std::string_view text, std::uint32_t max);

}  // namespace raid::tools
