// The socket-free parts of sending: replies cut out of received bytes with
// their bounds, what EHLO offers, Base64, and the message text with its
// headers, dot-stuffing and line ends.
#include <gtest/gtest.h>

#include "mail/mail_message.h"
#include "mail/server_text.h"
#include "mail/smtp_protocol.h"
#include "mail/unicode_text.h"
#include "tests/unit/test_files_and_time.h"

namespace raid::mail {
namespace {

using Status = ReplyReader::Status;

// Feeds `bytes` in pieces of `step` and collects the replies.
std::vector<SmtpReply> Replies(const std::string& bytes, std::size_t step,
                               std::string* error = nullptr) {
    ReplyReader reader;
    std::vector<SmtpReply> out;
    for (std::size_t pos = 0; pos < bytes.size(); pos += step) {
        reader.Feed(std::string_view(bytes).substr(pos, step));
        SmtpReply reply;
        std::string why;
        Status s;
        while ((s = reader.Next(reply, why)) == Status::Complete) out.push_back(reply);
        if (s == Status::Malformed) {
            if (error) *error = why;
            return out;
        }
    }
    return out;
}

TEST(SmtpReplies, MultiLineRepliesArriveWholeHoweverTheBytesAreCut) {
    const std::string bytes =
        "220 mail.test ESMTP\r\n"
        "250-mail.test\r\n250-SIZE 1000\r\n250-AUTH PLAIN LOGIN\r\n250 HELP\r\n"
        "354\n";
    for (const std::size_t step : {1u, 3u, 1000u}) {
        const auto replies = Replies(bytes, step);
        ASSERT_EQ(replies.size(), 3u) << step;
        EXPECT_EQ(replies[0].code, 220);
        EXPECT_EQ(replies[0].Text(), "220 mail.test ESMTP");
        EXPECT_EQ(replies[1].code, 250);
        EXPECT_EQ(replies[1].lines,
                  (std::vector<std::string>{"mail.test", "SIZE 1000", "AUTH PLAIN LOGIN", "HELP"}));
        EXPECT_EQ(replies[2].code, 354);
        EXPECT_TRUE(replies[2].lines.at(0).empty());
    }
}

TEST(SmtpReplies, WhatIsNoReplyIsRefusedWithinItsBounds) {
    std::string error;
    EXPECT_TRUE(Replies("hello there\r\n", 4, &error).empty());
    EXPECT_EQ(error, "not an SMTP reply: \"hello there\"");
    EXPECT_TRUE(Replies("250-a\r\n354 b\r\n", 100, &error).empty());
    EXPECT_EQ(error, "reply code changed within a reply (250 then 354)");
    EXPECT_TRUE(Replies("2500 x\r\n", 100, &error).empty());
    EXPECT_TRUE(Replies("650 x\r\n", 100, &error).empty());
    // A line that never ends, and a reply that never does.
    EXPECT_TRUE(Replies(std::string(kMaxReplyLineLength + 1, 'x'), 512, &error).empty());
    EXPECT_EQ(error, "a reply line longer than 2048 bytes");
    std::string many;
    for (std::size_t i = 0; i <= kMaxReplyLines; ++i) many += "250-x\r\n";
    EXPECT_TRUE(Replies(many + "250 x\r\n", 64, &error).empty());
    EXPECT_EQ(error, "a reply of more than 100 lines");
    EXPECT_EQ(
        Replies(std::string(kMaxReplyLineLength, 'x').replace(0, 4, "250 ") + "\r\n", 300).size(),
        1u);
}

TEST(SmtpReplies, ControlCharactersOfServerTextAreEscapedForLogs) {
    EXPECT_EQ(EscapeControlCharacters("550 no such user"), "550 no such user");
    EXPECT_EQ(EscapeControlCharacters("550 a\r\nraidctl: e-mail sent\x1b[2J\x07\x7f\t"),
              "550 a\\x0D\\x0Araidctl: e-mail sent\\x1B[2J\\x07\\x7F\\x09");
    // C1 controls in UTF-8 (CSI) too; other non-ASCII text stays.
    EXPECT_EQ(EscapeControlCharacters("\xC2\x9B"
                                      "31m gr\xC3\xBC\xC3\x9F"),
              "\\xC2\\x9B31m gr\xC3\xBC\xC3\x9F");
    EXPECT_EQ(EscapeControlCharacters(std::string("a\0b", 3)), "a\\x00b");
}

TEST(SmtpReplies, ClearDropsEverythingNotYetTaken) {
    ReplyReader reader;
    reader.Feed("220 go ahead\r\n250 injected\r\n250-half");
    SmtpReply reply;
    std::string error;
    ASSERT_EQ(reader.Next(reply, error), Status::Complete);
    reader.Clear();
    EXPECT_EQ(reader.Next(reply, error), Status::NeedMore);
    reader.Feed("250 fresh\r\n");
    ASSERT_EQ(reader.Next(reply, error), Status::Complete);
    EXPECT_EQ(reply.Text(), "250 fresh");
}

TEST(SmtpReplies, AuthMechanismsAndExtensionsFromEhlo) {
    SmtpReply ehlo{250,
                   {"mail.test greets you", "auth=login plain", "AUTH CRAM-MD5 LOGIN", "AUTHX FOO",
                    "STARTTLS", "8BITMIME"}};
    EXPECT_EQ(AuthMechanisms(ehlo), (std::vector<std::string>{"LOGIN", "PLAIN", "CRAM-MD5"}));
    EXPECT_TRUE(OffersExtension(ehlo, "STARTTLS"));
    EXPECT_FALSE(OffersExtension(ehlo, "SMTPUTF8"));
    // The first line is the greeting, never an extension.
    EXPECT_TRUE(AuthMechanisms(SmtpReply{250, {"AUTH LOGIN"}}).empty());
    EXPECT_FALSE(OffersExtension(SmtpReply{250, {"STARTTLS"}}, "STARTTLS"));
}

TEST(SmtpReplies, Base64AndStatusBarTexts) {
    EXPECT_EQ(Base64(""), "");
    EXPECT_EQ(Base64("f"), "Zg==");
    EXPECT_EQ(Base64("fo"), "Zm8=");
    EXPECT_EQ(Base64("foo"), "Zm9v");
    EXPECT_EQ(Base64(std::string("\0\xff\xfe", 3)), "AP/+");
    EXPECT_EQ(StatusBarText(SmtpEvent::Connected)->text, "Connect");
    EXPECT_EQ(StatusBarText(SmtpEvent::Connected)->panel, 2);
    EXPECT_EQ(StatusBarText(SmtpEvent::TransferBegin)->text, "Mail is Sending...");
    EXPECT_EQ(StatusBarText(SmtpEvent::TransferEnd)->text, "Send mail Success!");
    EXPECT_EQ(StatusBarText(SmtpEvent::TransferEnd)->panel, 3);
    EXPECT_FALSE(StatusBarText(SmtpEvent::Disconnected));
}

class MailMessageTest : public ::testing::Test {
protected:
    MailMessageTest() {
        header.senderName = "RAID Box";
        header.senderAddress = "raid@example.com";
        header.to = {"ops@example.com", "boss@example.com"};
        header.subject = "[RAID GUI v0.50.11-5 Message] Disk lost";
        header.date = test_support::Local(2024, 3, 5, 12, 0, 0);
        header.messageId = "<id@example.com>";
    }
    MessageHeader header;
};

TEST_F(MailMessageTest, HeadersThenAnEmptyLineThenTheBody) {
    const std::string text = FormatMessage(header, {"Device1 information :", "", "end"}, true);
    const std::string date = DateHeaderValue(header.date);
    EXPECT_EQ(text, "Date: " + date +
                        "\r\n"
                        "From: \"RAID Box\" <raid@example.com>\r\n"
                        "To: ops@example.com,\r\n boss@example.com\r\n"
                        "Subject: [RAID GUI v0.50.11-5 Message] Disk lost\r\n"
                        "Message-ID: <id@example.com>\r\n"
                        "MIME-Version: 1.0\r\n"
                        "Content-Type: text/plain; charset=UTF-8\r\n"
                        "Content-Transfer-Encoding: 7bit\r\n"
                        "\r\n"
                        "Device1 information :\r\n\r\nend\r\n");
    EXPECT_EQ(date.substr(0, 25), "Tue, 05 Mar 2024 12:00:00");
    EXPECT_EQ(date.size(), 31u);
}

TEST_F(MailMessageTest, NothingInABodyLineCanEndTheMessage) {
    const std::string text =
        FormatMessage(header,
                      {".", "..two", "\n=== [System Information] ===", "a\rb\r\nc\n.\r\nd",
                       std::string("n\0ul", 4)},
                      true);
    const std::string body = text.substr(text.find("\r\n\r\n") + 4);
    EXPECT_EQ(
        body,
        "..\r\n...two\r\n\r\n=== [System Information] ===\r\na\r\nb\r\nc\r\n..\r\nd\r\nnul\r\n");
    EXPECT_EQ(body.find("\r\n.\r\n"), std::string::npos);
    // Every line ends in CR LF: no bare CR or LF anywhere.
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            EXPECT_EQ(text.at(i + 1), '\n') << i;
        }
        if (text[i] == '\n') {
            EXPECT_EQ(text.at(i - 1), '\r') << i;
        }
    }
}

TEST_F(MailMessageTest, LongLinesAreBrokenAtCharacterBoundaries) {
    std::string wide;
    for (int i = 0; i < 600; ++i) wide += "\xC3\xA4";  // 1200 bytes, 2 a character
    const std::string text = FormatMessage(header, {"." + std::string(1200, 'x'), wide}, true);
    EXPECT_NE(text.find("Content-Transfer-Encoding: 8bit"), std::string::npos);
    std::size_t start = text.find("\r\n\r\n") + 4;
    int lines = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        const std::string line = text.substr(start, end - start);
        EXPECT_LE(line.size(), kMaxMessageLineLength + 1);  // + a stuffed dot
        EXPECT_TRUE(IsValidUtf8(line)) << lines;
        start = end + 2;
        ++lines;
    }
    EXPECT_EQ(lines, 4);
}

TEST_F(MailMessageTest, WithoutEightBitMimeAn8BitBodyIsQuotedPrintableWithinItsLineLimit) {
    const std::vector<std::string> body = {"." + std::string(100, 'x') + "\xC3\xA4=end\t",
                                           std::string(74, 'y') + "\xC3\xA4", ""};
    EXPECT_EQ(FormatMessage(header, {"ascii only"}, false),
              FormatMessage(header, {"ascii only"}, true));
    const std::string text = FormatMessage(header, body, false);
    EXPECT_NE(text.find("Content-Transfer-Encoding: quoted-printable\r\n"), std::string::npos);
    EXPECT_TRUE(IsAscii(text));
    // Undo the dot-stuffing and the encoding: the body comes back whole.
    std::string decoded;
    std::size_t start = text.find("\r\n\r\n") + 4;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        std::string line = text.substr(start, end - start);
        if (line.starts_with("..")) line.erase(0, 1);
        EXPECT_LE(line.size(), kMaxQuotedPrintableLength) << line;
        const bool soft = !line.empty() && line.back() == '=';
        if (soft) line.pop_back();
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] != '=') {
                decoded += line[i];
                continue;
            }
            decoded += static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
            i += 2;
        }
        if (!soft) decoded += "\n";
        start = end + 2;
    }
    EXPECT_EQ(decoded, body[0] + "\n" + body[1] + "\n\n");
    EXPECT_NE(text.find("=09\r\n"), std::string::npos);  // a blank at a line's end is kept
}

TEST_F(MailMessageTest, LineBreaksInSubjectAndNameNeverStartAHeader) {
    header.subject = "Disk lost\r\nBcc: victim@example.com\n\r\nX";
    header.senderName = "Box\r\nX-Evil: 1";
    const std::string text = FormatMessage(header, {}, true);
    EXPECT_NE(text.find("Subject: Disk lost Bcc: victim@example.com X\r\n"), std::string::npos);
    EXPECT_NE(text.find("From: \"Box X-Evil: 1\" <raid@example.com>\r\n"), std::string::npos);
    EXPECT_EQ(text.find("\r\nBcc:"), std::string::npos);
    EXPECT_EQ(text.find("\r\nX-Evil:"), std::string::npos);
    EXPECT_EQ(SingleLine(std::string("a\0b\tc\x7f", 6)), "ab\tc");
}

TEST_F(MailMessageTest, NoHeaderLineOutgrowsTheLineLimit) {
    // The sender name and the subject come from the settings file and the
    // templates, which may hold anything.
    header.senderName = std::string(1200, 'n');
    header.subject = std::string(1200, 's');
    const std::string text = FormatMessage(header, {}, true);
    const std::size_t bodyStart = text.find("\r\n\r\n");
    std::size_t start = 0;
    while (start < bodyStart) {
        const std::size_t end = text.find("\r\n", start);
        EXPECT_LE(end - start, kMaxMessageLineLength) << text.substr(start, 20);
        start = end + 2;
    }
    EXPECT_NE(text.find("From: =?UTF-8?B?"), std::string::npos);
}

TEST_F(MailMessageTest, NonAsciiHeadersAreEncodedWords) {
    header.subject = "Ger\xC3\xA4t entfernt";
    header.senderName = "B\xC3\xBCro";
    const std::string text = FormatMessage(header, {}, true);
    EXPECT_NE(text.find("Subject: =?UTF-8?B?R2Vyw6R0IGVudGZlcm50?=\r\n"), std::string::npos);
    EXPECT_NE(text.find("From: =?UTF-8?B?QsO8cm8=?= <raid@example.com>\r\n"), std::string::npos);
    // A long one is folded into words of at most 75 characters.
    std::string longSubject;
    for (int i = 0; i < 40; ++i) longSubject += "\xE2\x82\xAC";
    const std::string words = HeaderWords(longSubject);
    std::size_t start = 0;
    int count = 0;
    while (start < words.size()) {
        std::size_t end = words.find("\r\n ", start);
        if (end == std::string::npos) end = words.size();
        EXPECT_LE(end - start, 75u);
        EXPECT_EQ(words.substr(start, 10), "=?UTF-8?B?");
        start = end + 3;
        ++count;
    }
    EXPECT_EQ(count, 3);  // 120 bytes in words of 45 whole characters' bytes
    EXPECT_EQ(HeaderWords("plain =?x?= text"), "=?UTF-8?B?cGxhaW4gPT94Pz0gdGV4dA==?=");
}

TEST(MailAddresses, WhatCanGoIntoACommand) {
    EXPECT_FALSE(AddressProblem("ops@example.com"));
    EXPECT_FALSE(AddressProblem("@"));
    EXPECT_TRUE(AddressProblem("a@b\r\nRCPT to:<x@y>"));
    EXPECT_TRUE(AddressProblem(std::string("a@b\0", 4)));
    EXPECT_TRUE(AddressProblem("a@b>"));
    EXPECT_TRUE(AddressProblem(std::string(kMaxAddressLength + 1, 'a')));
    EXPECT_EQ(HeloName("bench-07.lab"), "bench-07.lab");
    EXPECT_EQ(HeloName("bad\r\nname"), "localhost");
    EXPECT_EQ(HeloName(""), "localhost");
    EXPECT_EQ(AddressDomain("a@mail.example.com"), "mail.example.com");
    EXPECT_EQ(AddressDomain("nodomain"), "");
    EXPECT_EQ(
        MakeMessageId(test_support::Local(2024, 3, 5, 12, 0, 0), "example.com", 0xABC).substr(15),
        ".0000000000000abc@example.com>");
    EXPECT_EQ(MakeMessageId({}, "bad domain", 1).substr(32), "@localhost>");
}

}  // namespace
}  // namespace raid::mail
