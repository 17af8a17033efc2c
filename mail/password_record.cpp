#include "mail/password_record.h"

#include "mail/unicode_text.h"

namespace raid::mail {
namespace {

// This program's own table; a record written with another table does not
// decode.
constexpr std::array<std::uint8_t, 8> kScrambleTable = {0x5A, 0xC3, 0x1E, 0x96,
                                                        0x3B, 0xE4, 0x71, 0xA8};
constexpr std::size_t kSlots = 16;
constexpr std::size_t kKeyByte = 16;
constexpr std::size_t kCheckByte = 17;

}  // namespace

PasswordRecord EncodePasswordRecord(std::string_view password, bool authentication,
                                    std::uint8_t key) {
    password = Utf8Prefix(password, kMaxPasswordBytes);
    PasswordRecord record{};
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < kSlots; ++i) {
        const auto v = static_cast<std::uint8_t>(
            i < password.size() ? static_cast<unsigned char>(password[i]) + i : i);
        sum = static_cast<std::uint8_t>(sum + v);
        record[i] = static_cast<std::uint8_t>(key ^ v ^ kScrambleTable[i % kScrambleTable.size()]);
    }
    record[kKeyByte] = key;
    record[kCheckByte] = static_cast<std::uint8_t>(sum ^ key ^ (authentication ? 1 : 0));
    return record;
}

DecodedPassword DecodePasswordRecord(const PasswordRecord& record) {
    const std::uint8_t key = record[kKeyByte];
    std::uint8_t sum = 0;
    std::string text;
    bool ended = false;
    for (std::size_t i = 0; i < kSlots; ++i) {
        const auto v =
            static_cast<std::uint8_t>(record[i] ^ key ^ kScrambleTable[i % kScrambleTable.size()]);
        sum = static_cast<std::uint8_t>(sum + v);
        const auto c = static_cast<char>(static_cast<std::uint8_t>(v - i));
        ended = ended || c == '\0';
        if (!ended) text += c;
    }
    const std::uint8_t check = static_cast<std::uint8_t>(sum ^ key ^ record[kCheckByte]);
    if (check > 1) return {kErrorFormat, kAuthInvalid};
    return {text, check};
}

}  // namespace raid::mail
