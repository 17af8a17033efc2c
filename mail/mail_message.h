#pragma once
// The message text that goes after DATA: the header lines, an empty line and
// the body, every line ended by CR LF and dot-stuffed, so that nothing in a
// subject, a name or a body line can start a header, a command or the end
// of the message.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace raid::mail {

// RFC 5322: at most 998 octets a line.
inline constexpr std::size_t kMaxMessageLineLength = 998;

// Longest address put into a command (RFC 5321 paths are 256 octets).
inline constexpr std::size_t kMaxAddressLength = 254;

struct MessageHeader {
    std::string senderName;  // display name, UTF-8
    std::string senderAddress;
    std::vector<std::string> to;
    std::string subject;  // UTF-8
    std::chrono::system_clock::time_point date;
    std::string messageId;  // "<...@...>"
};

// Quoted-printable lines are at most this long (RFC 2045).
inline constexpr std::size_t kMaxQuotedPrintableLength = 76;

// Header lines (Date, From, To, Subject, Message-ID, MIME-Version,
// Content-Type text/plain in UTF-8, Content-Transfer-Encoding), an empty line
// and the body. A body line holding CR or LF is split there; NUL bytes are
// dropped. A body with 8-bit text goes as it is when `eightBitMime` (the
// server takes 8BITMIME), its lines longer than kMaxMessageLineLength broken
// at a character boundary; else as quoted-printable. A line beginning with
// "." gets a second one. Ends with CR LF but without the final "." line.
std::string FormatMessage(const MessageHeader& header, const std::vector<std::string>& body,
                          bool eightBitMime);

// True when a body line holds a byte beyond 7-bit ASCII.
bool HasEightBitText(const std::vector<std::string>& body);

// A header text on one line: each run of CR and LF becomes one space, NUL
// and other control characters but tab are dropped.
std::string SingleLine(std::string_view text);

// `text` (already on one line) as header field content: as it is when it is
// short ASCII, else as RFC 2047 "=?UTF-8?B?...?=" words folded onto
// continuation lines.
std::string HeaderWords(std::string_view text);

// "Tue, 05 Mar 2024 12:00:00 +0100" in the local time zone.
std::string DateHeaderValue(std::chrono::system_clock::time_point when);

// "<20240305120000.0123456789abcdef@domain>".
std::string MakeMessageId(std::chrono::system_clock::time_point when, std::string_view domain,
                          std::uint64_t random);

// Why `address` cannot go into "Mail from:<...>" or "RCPT to:<...>" (a
// control character such as CR, LF or NUL, "<" or ">", or more than
// kMaxAddressLength bytes); nullopt when it can.
std::optional<std::string> AddressProblem(std::string_view address);

// The name for EHLO/HELO: `hostName` when it is a plain host name (letters,
// digits, "-" and "."), else "localhost".
std::string HeloName(std::string_view hostName);

// The domain of an address ("example.com" of "a@example.com") when it is a
// plain host name; empty otherwise.
std::string AddressDomain(std::string_view address);

}  // namespace raid::mail
