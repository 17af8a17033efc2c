#pragma once
// The e-mail settings in memory and the three steps that move them between
// the settings file and memory: the start-up check, the load (run by the
// e-mail thread's pass) and the save (the e-mail page's OK).
//
// All three run on the main thread (or the one thread of a headless tool);
// the state needs no lock.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/state.h"
#include "mail/event_templates.h"
#include "mail/password_record.h"
#include "mail/settings_store.h"
#include "platform/clock.h"

namespace raid::mail {

inline constexpr std::size_t kMaxRecipients = 10;

// The connection security, stored as the string value "Security"; a missing
// or unknown value is None, so that a key from the Windows program works.
enum class Security { None, StartTls, Tls };
const char* SecurityName(Security security);  // "None", "STARTTLS", "SSL/TLS"
Security ParseSecurity(std::string_view name);

// PageChangedBits: which page fields were edited since the page was filled.
namespace changed {
inline constexpr std::uint16_t kPort = 0x01;
inline constexpr std::uint16_t kHost = 0x02;
inline constexpr std::uint16_t kSenderName = 0x04;
inline constexpr std::uint16_t kSenderAddress = 0x08;
inline constexpr std::uint16_t kTimeOut = 0x10;
inline constexpr std::uint16_t kPassword = 0x20;    // also a changed authentication switch
inline constexpr std::uint16_t kRecipients = 0x40;  // set by the save
inline constexpr std::uint16_t kAccount = 0x80;
inline constexpr std::uint16_t kSecurity = 0x100;
inline constexpr std::uint16_t kRequireTls = 0x200;
}  // namespace changed

// The connection and sender settings, by the names the page shows.
struct MailSettings {
    std::string port;           // "Port", decimal text
    std::string host;           // "SMTP"
    std::string senderName;     // "UserName"
    std::string senderAddress;  // "Addr"
    std::string timeOut;        // "TimeOut", seconds as text
    std::string password;       // clear text, or kErrorFormat
    std::string account;        // "UserID"
    Security security = Security::None;
    // "RequireTLS" (dword, missing: off): never send without TLS.
    bool requireTls = false;
};

struct MailSettingsState {
    bool keyExists = false;  // SettingsKeyExists
    bool loaded = false;     // SettingsLoaded: sending needs it
    MailSettings settings;
    std::vector<std::string> recipients;
    std::uint32_t recipientCount = 0;  // "ToAddrCount" as the last load read it
    std::uint32_t suppressMask = 0;    // "EMailSend"
    std::uint8_t authState = kAuthOff;
    std::string templateFolder;                              // ends in '/'
    std::array<EventTemplate, kEventKinds + 1> templates{};  // by kind; [0] unused
    PasswordRecord passwordRecord{};  // the bytes last read: its key byte is reused
    std::uint16_t pageChangedBits = 0;

    bool Authenticates() const { return (authState & 1) != 0; }
};

// What the e-mail page holds when OK is pressed.
struct MailPageFields {
    MailSettings settings;  // the fields as typed (password in clear)
    bool authentication = false;
    bool suppressDiskFail = false;        // "Don't send EMail for this event." (kind 1)
    bool suppressDeviceRemoved = false;   // the same for kind 2
    std::vector<std::string> addresses;   // the working address list
    std::array<EventTemplate, 2> events;  // kinds 1 and 2: one subject line at most
};

// Run once at start-up, after the system information block is built. With
// a key: back-fills "UserID" (the part of "Addr" before its first "@") and
// "EMailSend" (0) when missing, and asks for a load (MailRequestFlags bit
// 0). Without one: the template folder becomes the settings folder and
// nothing is loaded. Returns a problem to tell the user (a file that cannot
// be read, does not parse or cannot be written), else nullopt.
std::optional<std::string> CheckMailSettingsAtStartup(SettingsStore& store,
                                                      MailSettingsState& state, ShellFlags& flags);

// Reads every value and the template files into `state`, sets `loaded`,
// clears MailRequestFlags bit 0 and PageChangedBits. A value of the wrong
// type reads as empty or 0; "ToAddrCount" above kMaxRecipients reads as
// kMaxRecipients. When the file is gone or cannot be used the state holds
// no settings (not loaded) and the problem is returned, once. `pump` runs
// before each kind's templates.
std::optional<std::string> LoadMailSettings(SettingsStore& store, MailSettingsState& state,
                                            ShellFlags& flags, const platform::PumpHook& pump = {});

// Stores what the page holds: an empty port becomes "25" (SSL/TLS: "465")
// and an empty time-out "0" in `fields` (marked changed like an edit); with a key only
// the changed connection fields are written, else all. Writes the
// suppression mask, a new password record only when the password was typed
// (PageChangedBits) or there was no key (else the stored bytes stay, a
// changed authentication switch turning only their check bit), an empty
// password record when the host or the account changes (differs from the
// file's) and no password was typed (then emptied in `fields` too), the
// recipients when they differ, the template folder, and the templates of
// kinds 1 and 2 (an empty subject or body deletes its file). Then asks for a
// reload and clears `loaded`. Returns the error when the settings file or a
// template cannot be written, or when the switch is turned on over a stored
// record that cannot be read and no password was typed: the settings in
// memory and the page's fields stay as they were, so OK can be pressed again.
std::optional<std::string> SaveMailSettings(SettingsStore& store, MailSettingsState& state,
                                            ShellFlags& flags, MailPageFields& fields);

}  // namespace raid::mail
