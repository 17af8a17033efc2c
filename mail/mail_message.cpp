#include "mail/mail_message.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "mail/smtp_protocol.h"
#include "mail/unicode_text.h"

namespace raid::mail {
namespace {

// Up to 45 bytes of text make a 60-character Base64 word, so that
// "=?UTF-8?B?" + word + "?=" stays within the 75 characters of RFC 2047.
constexpr std::size_t kBytesPerWord = 45;
// Short enough for "Subject: " and a folded header to stay within 78.
constexpr std::size_t kPlainHeaderLength = 66;

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

bool IsHostName(std::string_view s) {
    return !s.empty() && s.size() <= 253 && std::all_of(s.begin(), s.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '.';
    });
}

std::string Mailbox(const std::string& name, const std::string& address) {
    const std::string display = SingleLine(name);
    if (display.empty()) return "<" + address + ">";
    // A long name is folded as encoded words too: a quoted one would make a
    // From line longer than mail servers take.
    if (!IsAscii(display) || display.size() > kPlainHeaderLength ||
        display.find("=?") != std::string::npos) {
        return HeaderWords(display) + " <" + address + ">";
    }
    std::string quoted = "\"";
    for (const char c : display) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\" <" + address + ">";
}

std::string Recipients(const std::vector<std::string>& to) {
    std::string out;
    for (const std::string& address : to) {
        if (address.empty()) continue;
        if (!out.empty()) out += ",\r\n ";
        out += address;
    }
    return out;
}

// One line of the message body, dot-stuffed.
void AppendLine(std::string& out, std::string_view line) {
    if (!line.empty() && line.front() == '.') out += '.';
    out.append(line);
    out += "\r\n";
}

// One line of text as it is, broken where it is too long.
void AppendPlain(std::string& out, std::string_view text) {
    do {
        const std::string_view line = Utf8Prefix(text, kMaxMessageLineLength);
        const std::string_view cut = line.empty() ? text.substr(0, kMaxMessageLineLength) : line;
        AppendLine(out, cut);
        text.remove_prefix(cut.size());
    } while (!text.empty());
}

// One line of text as quoted-printable, with soft line breaks.
void AppendQuotedPrintable(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool blank = c == ' ' || c == '\t';
        // A blank at the end of a line would be lost on the way.
        const bool literal = (c > ' ' && c < 0x7F && c != '=') || (blank && i + 1 < text.size());
        const std::string piece = literal ? std::string(1, static_cast<char>(c))
                                          : std::string{'=', kHex[c >> 4], kHex[c & 15]};
        if (line.size() + piece.size() >= kMaxQuotedPrintableLength) {
            AppendLine(out, line + "=");
            line.clear();
        }
        line += piece;
    }
    AppendLine(out, line);
}

// Splits one body entry at CR, LF and CR LF and drops NUL bytes.
std::vector<std::string> EntryLines(std::string_view entry) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(entry.find_first_of("\r\n", start), entry.size());
        std::string piece;
        for (const char c : entry.substr(start, end - start)) {
            if (c != '\0') piece += c;
        }
        lines.push_back(std::move(piece));
        if (end >= entry.size()) return lines;
        start =
            end + (entry[end] == '\r' && end + 1 < entry.size() && entry[end + 1] == '\n' ? 2 : 1);
    }
}

}  // namespace

std::string SingleLine(std::string_view text) {
    std::string out;
    bool inBreak = false;
    for (const char c : text) {
        if (c == '\r' || c == '\n') {
            if (!inBreak) out += ' ';
            inBreak = true;
            continue;
        }
        inBreak = false;
        if (IsControl(c) && c != '\t') continue;
        out += c;
    }
    return out;
}

std::string HeaderWords(std::string_view text) {
    if (IsAscii(text) && text.size() <= kPlainHeaderLength &&
        text.find("=?") == std::string_view::npos) {
        return std::string(text);
    }
    const std::string utf8 = TextAsUtf8(text);
    std::string_view rest = utf8;
    std::string out;
    while (!rest.empty()) {
        std::string_view chunk = Utf8Prefix(rest, kBytesPerWord);
        if (chunk.empty()) chunk = rest.substr(0, 1);
        if (!out.empty()) out += "\r\n ";
        out += "=?UTF-8?B?" + Base64(chunk) + "?=";
        rest.remove_prefix(chunk.size());
    }
    return out;
}

std::string DateHeaderValue(std::chrono::system_clock::time_point when) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    const long offset = tm.tm_gmtoff / 60;
    const long magnitude = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                  kDays[tm.tm_wday % 7], tm.tm_mday, kMonths[tm.tm_mon % 12], tm.tm_year + 1900,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, offset < 0 ? '-' : '+', magnitude / 60,
                  magnitude % 60);
    return text;
}

std::string MakeMessageId(std::chrono::system_clock::time_point when, std::string_view domain,
                          std::uint64_t random) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "<%04d%02d%02d%02d%02d%02d.%016llx@", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<unsigned long long>(random));
    return text + std::string(IsHostName(domain) ? domain : "localhost") + ">";
}

bool HasEightBitText(const std::vector<std::string>& body) {
    return std::any_of(body.begin(), body.end(),
                       [](const std::string& line) { return !IsAscii(line); });
}

std::string FormatMessage(const MessageHeader& header, const std::vector<std::string>& body,
                          bool eightBitMime) {
    const bool ascii = !HasEightBitText(body);
    const bool quoted = !ascii && !eightBitMime;
    std::string text;
    for (const std::string& entry : body) {
        for (const std::string& line : EntryLines(entry)) {
            if (quoted) {
                AppendQuotedPrintable(text, line);
            } else {
                AppendPlain(text, line);
            }
        }
    }
    std::string out;
    out += "Date: " + DateHeaderValue(header.date) + "\r\n";
    out += "From: " + Mailbox(header.senderName, header.senderAddress) + "\r\n";
    out += "To: " + Recipients(header.to) + "\r\n";
    out += "Subject: " + HeaderWords(SingleLine(header.subject)) + "\r\n";
    out += "Message-ID: " + header.messageId + "\r\n";
    out += "MIME-Version: 1.0\r\n";
    out += "Content-Type: text/plain; charset=UTF-8\r\n";
    out += std::string("Content-Transfer-Encoding: ") +
           (ascii    ? "7bit"
            : quoted ? "quoted-printable"
                     : "8bit") +
           "\r\n";
    out += "\r\n";
    return out + text;
}

std::optional<std::string> AddressProblem(std::string_view address) {
    if (address.size() > kMaxAddressLength) {
        return "the address is longer than " + std::to_string(kMaxAddressLength) + " characters";
    }
    for (const char c : address) {
        if (IsControl(c)) return "the address holds a control character (such as a line break)";
        if (c == '<' || c == '>') return "the address holds \"<\" or \">\"";
    }
    return std::nullopt;
}

std::string HeloName(std::string_view hostName) {
    return IsHostName(hostName) ? std::string(hostName) : std::string("localhost");
}

std::string AddressDomain(std::string_view address) {
    const std::size_t at = address.rfind('@');
    if (at == std::string_view::npos) return {};
    const std::string_view domain = address.substr(at + 1);
    return IsHostName(domain) ? std::string(domain) : std::string();
}

}  // namespace raid::mail
