#pragma once
// The program's own SMTP client on Qt Network sockets: blocking, so it is
// called on the e-mail thread (or a headless tool's only thread), never on
// the window's main thread. A QCoreApplication must exist (TLS comes from a
// Qt plugin).
//
// The exchange, in this order: greeting 220; "ehlo <name>" 250 (else "Helo
// <name>" 250); "STARTTLS" 220, the TLS handshake and EHLO again whenever
// the server offers STARTTLS (required with the STARTTLS security, else
// opportunistic: a certificate that does not verify is warned of, a server
// without it is used in clear); "Rset"; "auth LOGIN" 334, user 334,
// password 235 (only when the job authenticates and the server lists
// LOGIN); "Mail from:<...>" (with BODY=8BITMIME for an 8-bit body to a
// server that offers it) 250; "RCPT to:<...>" for each recipient; "Data"
// 354; the message; "." 250; "Quit". Any other reply ends the send with its
// text, but for RCPT: a refused recipient is left out and the mail goes to
// the others.
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "mail/host_lookup.h"
#include "mail/mail_pass.h"
#include "mail/smtp_protocol.h"
#include "platform/clock.h"

namespace raid::mail {

// Each stage's limit when the settings set none ("TimeOut" 0 or empty).
inline constexpr std::chrono::seconds kDefaultStageTimeout{30};

struct SmtpOptions {
    // Limit of every stage (connect, each reply, the handshake, each write);
    // zero: the job's "TimeOut" seconds, else kDefaultStageTimeout.
    std::chrono::milliseconds stageTimeout{0};
    // Name for EHLO; empty: this host's name.
    std::string heloName;
    // PEM file of CA certificates trusted besides the system's store.
    std::string caFile;
    // Set from another thread to end a send early (checked every 100 ms).
    const std::atomic<bool>* stop = nullptr;
    // Looks up the host name; null: the system's resolver.
    HostResolver resolve;
    // Source of the Date header; null: the system clock.
    platform::Clock* clock = nullptr;
    // Each step of the exchange as it happens, on the sending thread: lines
    // sent ("C: ehlo ..."), replies ("S: 250 ..."), and notes ("-- ...").
    // The password and the message text never appear: a stand-in says what
    // went instead.
    std::function<void(const std::string& line)> transcript;
};

using SmtpEvents = std::function<void(SmtpEvent)>;

struct RefusedRecipient {
    std::string address;
    std::string reply;  // the server's answer to its RCPT
};

struct SendReport {
    // The server took the message: for every recipient unless `refused`
    // names some.
    bool sent = false;
    std::string error;  // why not: the server's reply, or what failed at which stage
    std::vector<RefusedRecipient> refused;
    // What the person should know of a send that went out: the password
    // went unencrypted, the certificate did not verify. Each once.
    std::vector<std::string> warnings;
};

// What a send tells besides "sent" or its error, one line each: the
// recipients the server refused, then the warnings.
std::vector<std::string> SendNotes(const SendReport& report);

// Sends `job`: to the sender alone for a test mail, else to every recipient.
// `events` is called on this thread: Connected once the connection stands,
// TransferBegin and TransferEnd around the message, Disconnected when a
// connection that was announced is closed. Blocks for at most about one
// stage limit per step of the exchange (the host name lookup and the
// connection share one), and ends within about 100 ms of a stop; never
// throws. With "Require TLS" nothing past EHLO goes over a connection that
// is not encrypted with a verified certificate.
SendReport SendNotificationMail(const MailJob& job, const SmtpOptions& options = {},
                                const SmtpEvents& events = {});

// One turn of the e-mail thread, on the e-mail thread: when MailRequestFlags
// asks for anything, `runPass` runs MailPass on the main thread (through the
// window's hand-over) and returns the job it composed, which is then sent
// here. The report of that send, or nullopt when nothing was sent.
std::optional<SendReport> ServeMailRequests(const ShellFlags& flags,
                                            const std::function<std::optional<MailJob>()>& runPass,
                                            const SmtpOptions& options = {},
                                            const SmtpEvents& events = {});

// The stage limit for `job` under `options`.
std::chrono::milliseconds StageTimeout(const MailJob& job, const SmtpOptions& options);

}  // namespace raid::mail
