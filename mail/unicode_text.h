#pragma once
// Text encodings met by the mail settings: registry exports in UTF-16 LE,
// template files and stored values in UTF-8 or in a Windows code page.
// Pure functions; malformed input never faults.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace raid::mail {

// UTF-16 LE bytes as UTF-8. An odd last byte is dropped; an unpaired
// surrogate becomes U+FFFD.
std::string Utf16LeToUtf8(std::span<const std::uint8_t> bytes);

// UTF-8 as UTF-16 LE bytes (no BOM, no terminator). Malformed sequences
// become U+FFFD.
std::vector<std::uint8_t> Utf8ToUtf16Le(std::string_view text);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(std::string_view text);

// Text from a file or a value that may come from a Windows machine: kept as
// it is when it is valid UTF-8, else read as Latin-1 (the Western code page
// without its few extra letters) and converted.
std::string TextAsUtf8(std::string_view text);

// True when every byte is 7-bit ASCII.
bool IsAscii(std::string_view text);

// The longest prefix of `text` with at most `maxBytes` bytes that does not
// end inside a UTF-8 sequence.
std::string_view Utf8Prefix(std::string_view text, std::size_t maxBytes);

}  // namespace raid::mail
