// Template files are edited by people and copied from Windows machines: any
// bytes become lines, and a mail made of them stays one mail. No line of
// the message text may end it early (a lone "."), break the line limit or
// carry a bare CR or LF; for a server without 8BITMIME every byte is 7-bit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mail/event_templates.h"
#include "mail/mail_message.h"
#include "mail/unicode_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace raid::mail;
    const auto lines = TemplateLines(std::string_view(reinterpret_cast<const char*>(data), size));
    MessageHeader header;
    header.senderName = lines.empty() ? "" : lines.front();
    header.senderAddress = "raid@example.org";
    header.to = {"admin@example.org"};
    header.subject = lines.empty() ? "" : lines.front();
    header.messageId = "<1@example.org>";
    for (const bool eightBitMime : {true, false}) {
        const std::string message = FormatMessage(header, lines, eightBitMime);
        if (!eightBitMime && !IsAscii(message)) std::abort();
        std::size_t start = 0;
        while (start < message.size()) {
            const std::size_t end = message.find("\r\n", start);
            if (end == std::string::npos) std::abort();  // every line ends in CR LF
            const std::string_view line(message.data() + start, end - start);
            if (line.find_first_of("\r\n") != std::string_view::npos) std::abort();
            // A stuffed dot comes on top of the limit; the server takes it off.
            const std::size_t stuffed = line.starts_with("..") ? 1 : 0;
            if (line.size() > kMaxMessageLineLength + stuffed) std::abort();
            if (line == ".") std::abort();
            start = end + 2;
        }
    }
    return 0;
}
