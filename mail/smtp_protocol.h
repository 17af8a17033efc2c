#pragma once
// The parts of the SMTP exchange that need no socket: reading replies
// (RFC 5321 multi-line replies, bounded), the extensions an EHLO reply
// offers, Base64 for AUTH LOGIN, and what the status bar shows for each
// stage of a send.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace raid::mail {

// Bounds on what a server may send as one reply. RFC 5321 allows 512 octets
// a line; real servers stay far below both.
inline constexpr std::size_t kMaxReplyLineLength = 2048;
inline constexpr std::size_t kMaxReplyLines = 100;

struct SmtpReply {
    int code = 0;                    // 200..599
    std::vector<std::string> lines;  // each line's text after "250-" / "250 "

    // "550 first line text second line text": the reply as a person reads it.
    std::string Text() const;
};

// Collects received bytes and cuts them into replies. Not thread-safe.
class ReplyReader {
public:
    enum class Status { NeedMore, Complete, Malformed };

    void Feed(std::string_view bytes) { buffer_.append(bytes); }

    // The next complete reply, if the bytes hold one. Malformed (with
    // `error`) for a line without a three-digit code and "-" or " ", a code
    // that changes within a reply, a line longer than kMaxReplyLineLength or
    // more than kMaxReplyLines lines; the reader must then be dropped.
    Status Next(SmtpReply& reply, std::string& error);

    // Drops everything received and not yet taken (after STARTTLS nothing
    // sent in the clear may count).
    void Clear();

private:
    std::string buffer_;
    std::size_t scanned_ = 0;  // bytes of buffer_ already known to hold no line end
    SmtpReply partial_;
};

// The AUTH mechanisms an EHLO reply lists: in every line after the first,
// upper-cased, whose text begins with "AUTH" and a space or "=", the rest
// of the line split at spaces and "=", each name once.
std::vector<std::string> AuthMechanisms(const SmtpReply& ehlo);

// True when a line after the first of an EHLO reply names `keyword` (upper
// case) as its first word.
bool OffersExtension(const SmtpReply& ehlo, std::string_view keyword);

std::string Base64(std::string_view bytes);

// Stages of a send that the window shows.
enum class SmtpEvent { Connected, TransferBegin, TransferEnd, Disconnected };

struct StatusText {
    int panel;
    std::string text;
};

// Panel 2 "Connect" on connection, panel 3 "Mail is Sending..." and "Send
// mail Success!" around the message; nothing for the disconnection.
std::optional<StatusText> StatusBarText(SmtpEvent event);

}  // namespace raid::mail
