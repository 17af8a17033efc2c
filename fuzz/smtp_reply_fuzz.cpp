// Whatever a mail server sends, the reply reader stays within its bounds and
// ends in a reply, a wait for more, or a refusal.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "mail/smtp_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    raid::mail::ReplyReader reader;
    // Fed in pieces, as a socket delivers it.
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    for (std::size_t pos = 0; pos < all.size(); pos += 7) {
        reader.Feed(all.substr(pos, 7));
        raid::mail::SmtpReply reply;
        std::string error;
        for (;;) {
            const auto status = reader.Next(reply, error);
            if (status == raid::mail::ReplyReader::Status::Malformed) return 0;
            if (status == raid::mail::ReplyReader::Status::NeedMore) break;
            if (reply.lines.empty() || reply.lines.size() > raid::mail::kMaxReplyLines)
                std::abort();
            raid::mail::AuthMechanisms(reply);
        }
    }
    return 0;
}
