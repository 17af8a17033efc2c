#pragma once
// The e-mail settings as clients see them, what a client may change, and
// what the test mail came to. Plain values: the password never appears,
// only whether one is stored.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "client/enclosure_access.h"

namespace raid::client {

// "mail-settings": what the E-mail page shows, from one settings file.
struct MailSettingsRecord {
    std::string file;
    bool exists = false;  // the file holds settings; nothing below else
    std::string host;
    std::string port;
    std::string security;  // "None", "STARTTLS" or "SSL/TLS"
    bool requireTls = false;
    std::string timeOut;
    std::string senderName;
    std::string senderAddress;
    bool authentication = false;
    std::string account;
    std::string password;  // "set", "empty" or "invalid" (the record cannot be read)
    std::vector<std::string> recipients;
    struct Event {
        bool mailed = true;
        std::string subject;  // its first line
        std::uint32_t bodyLines = 0;
    };
    std::array<Event, 2> events{};  // "Hard Disks Fail", "Device Removed"
    std::string templateFolder;
};

struct MailSettingsAnswer : Answer {
    MailSettingsRecord settings;
};

// Fields to store, each only when given; the rest stay as stored.
struct MailSettingsChanges {
    std::optional<std::string> host, port, security, timeOut, senderName, senderAddress, account;
    std::optional<std::string> password;  // stored as a new password record
    std::optional<bool> requireTls, authentication;
    std::optional<std::vector<std::string>> recipients;
    std::array<std::optional<bool>, 2> mailed{};
    std::array<std::optional<std::string>, 2> subject{};
};

// The test mail: `notes` says why it was not sent; `warnings` what a sent
// mail still met; the exchange went to the caller's transcript, escaped.
struct TestMailAnswer : Answer {
    std::vector<std::string> warnings;
    std::string sentTo;
};

}  // namespace raid::client
