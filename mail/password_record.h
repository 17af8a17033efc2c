#pragma once
// The stored SMTP password ("ProductID", 18 bytes) and the authentication
// switch that rides in its check byte. A reversible scramble that keeps the
// password out of plain sight in the settings file, not encryption: the
// file's mode (0600) is what protects it.
//
//   bytes 0..15  byte i = K xor v(i) xor ScrambleTable[i mod 8]
//   byte 16      the key byte K
//   byte 17      (v(0) + ... + v(15)) mod 256, xor K, xor A
//
// with v(i) = (byte i of the password + i) mod 256 below its length and
// v(i) = i beyond, A = 1 while authentication is on.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace raid::mail {

using PasswordRecord = std::array<std::uint8_t, 18>;

// Longest password the record holds, in bytes.
inline constexpr std::size_t kMaxPasswordBytes = 15;

// The password text of a record whose check byte is wrong.
inline constexpr char kErrorFormat[] = "ErrorFormat";

// AuthState: 0 valid record, authentication off; 1 valid, on; 2 invalid.
inline constexpr std::uint8_t kAuthOff = 0;
inline constexpr std::uint8_t kAuthOn = 1;
inline constexpr std::uint8_t kAuthInvalid = 2;

// A record for `password` (its UTF-8 bytes, cut to kMaxPasswordBytes at a
// character boundary) with key byte `key`.
PasswordRecord EncodePasswordRecord(std::string_view password, bool authentication,
                                    std::uint8_t key);

struct DecodedPassword {
    std::string password;  // up to the first zero; kErrorFormat when invalid
    std::uint8_t authState = kAuthOff;
};

DecodedPassword DecodePasswordRecord(const PasswordRecord& record);

}  // namespace raid::mail
