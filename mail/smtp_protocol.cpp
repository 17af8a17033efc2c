#include "mail/smtp_protocol.h"

#include <algorithm>

namespace raid::mail {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string UpperCase(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), Upper);
    return out;
}

}  // namespace

std::string SmtpReply::Text() const {
    std::string out = std::to_string(code);
    for (const std::string& line : lines) {
        if (!line.empty()) out += " " + line;
    }
    return out;
}

ReplyReader::Status ReplyReader::Next(SmtpReply& reply, std::string& error) {
    for (;;) {
        const std::size_t end = buffer_.find('\n', scanned_);
        if (end == std::string::npos) {
            scanned_ = buffer_.size();
            if (buffer_.size() > kMaxReplyLineLength) {
                error =
                    "a reply line longer than " + std::to_string(kMaxReplyLineLength) + " bytes";
                return Status::Malformed;
            }
            return Status::NeedMore;
        }
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        scanned_ = 0;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > kMaxReplyLineLength) {
            error = "a reply line longer than " + std::to_string(kMaxReplyLineLength) + " bytes";
            return Status::Malformed;
        }
        // "250-text", "250 text" or a bare "250".
        const bool codeOk = line.size() >= 3 && line[0] >= '2' && line[0] <= '5' &&
                            IsDigit(line[1]) && IsDigit(line[2]) &&
                            (line.size() == 3 || line[3] == '-' || line[3] == ' ');
        if (!codeOk) {
            error = "not an SMTP reply: \"" + line.substr(0, 80) + "\"";
            return Status::Malformed;
        }
        const int code = std::stoi(line.substr(0, 3));
        if (!partial_.lines.empty() && code != partial_.code) {
            error = "reply code changed within a reply (" + std::to_string(partial_.code) +
                    " then " + std::to_string(code) + ")";
            return Status::Malformed;
        }
        if (partial_.lines.size() >= kMaxReplyLines) {
            error = "a reply of more than " + std::to_string(kMaxReplyLines) + " lines";
            return Status::Malformed;
        }
        partial_.code = code;
        partial_.lines.push_back(line.size() > 4 ? line.substr(4) : std::string());
        if (line.size() == 3 || line[3] == ' ') {
            reply = std::move(partial_);
            partial_ = SmtpReply{};
            return Status::Complete;
        }
    }
}

void ReplyReader::Clear() {
    buffer_.clear();
    scanned_ = 0;
    partial_ = SmtpReply{};
}

std::vector<std::string> AuthMechanisms(const SmtpReply& ehlo) {
    std::vector<std::string> names;
    for (std::size_t i = 1; i < ehlo.lines.size(); ++i) {
        const std::string line = UpperCase(ehlo.lines[i]);
        if (line.size() < 5 || line.compare(0, 4, "AUTH") != 0) continue;
        if (line[4] != ' ' && line[4] != '=') continue;
        std::size_t pos = 5;
        while (pos < line.size()) {
            const std::size_t end = std::min(line.find_first_of(" =", pos), line.size());
            const std::string name = line.substr(pos, end - pos);
            if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) {
                names.push_back(name);
            }
            pos = end + 1;
        }
    }
    return names;
}

bool OffersExtension(const SmtpReply& ehlo, std::string_view keyword) {
    for (std::size_t i = 1; i < ehlo.lines.size(); ++i) {
        const std::string line = UpperCase(ehlo.lines[i]);
        if (line.compare(0, keyword.size(), keyword) == 0 &&
            (line.size() == keyword.size() || line[keyword.size()] == ' ')) {
            return true;
        }
    }
    return false;
}

std::string Base64(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i < bytes.size()) {
        const bool two = i + 1 < bytes.size();
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (two ? static_cast<unsigned char>(bytes[i + 1]) << 8 : 0u);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += two ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::optional<StatusText> StatusBarText(SmtpEvent event) {
    switch (event) {
        case SmtpEvent::Connected:
            return StatusText{2, "Connect"};
        case SmtpEvent::TransferBegin:
            return StatusText{3, "Mail is Sending..."};
        case SmtpEvent::TransferEnd:
            return StatusText{3, "Send mail Success!"};
        case SmtpEvent::Disconnected:
            break;
    }
    return std::nullopt;
}

}  // namespace raid::mail
