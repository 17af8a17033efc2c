#pragma once
// What the e-mail thread asks of the main thread: reloading the settings and
// turning the next waiting notification into a mail job; and the page's test
// mail. A job is self-contained, so that it can be sent on another thread
// (SendNotificationMail) while the settings change.
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/state.h"
#include "mail/mail_event.h"
#include "mail/mail_settings.h"
#include "platform/clock.h"

namespace raid::mail {

struct OutgoingMessage {
    std::string subject;
    std::vector<std::string> body;
};

// Holds SendBusy for one send and clears it when dropped, however the send
// ends. An empty claim holds nothing. Move-only.
class SendClaim {
public:
    SendClaim() = default;
    // A claim when SendBusy was clear; nullopt while another send holds it.
    static std::optional<SendClaim> Take(const std::shared_ptr<std::atomic<bool>>& busy);

    SendClaim(SendClaim&& other) noexcept = default;
    SendClaim& operator=(SendClaim&& other) noexcept;
    SendClaim(const SendClaim&) = delete;
    SendClaim& operator=(const SendClaim&) = delete;
    ~SendClaim();

private:
    explicit SendClaim(std::shared_ptr<std::atomic<bool>> busy) : busy_(std::move(busy)) {}
    void Release();

    std::shared_ptr<std::atomic<bool>> busy_;
};

struct MailJob {
    MailSettings settings;                // server, port, security, login, sender, time-out
    bool authenticate = false;            // AuthState bit 0
    std::vector<std::string> recipients;  // in order
    OutgoingMessage message;
    bool testMail = false;  // TestMailMode: "Send mail Success!" is told
    SendClaim claim;
};

struct MailPassHooks {
    // Text for a panel of the main window's status bar.
    std::function<void(int panel, const std::string& text)> statusPanel;
    // Lets the window breathe while template files are read.
    platform::PumpHook pump;
};

struct MailPassResult {
    std::optional<MailJob> job;  // a notification to send now
    // To tell the user: a settings problem, notifications dropped at the
    // queue's bound.
    std::vector<std::string> problems;
};

// The subject that every mail of the window program begins with:
// "[" + title + " Message] ".
std::string SubjectPrefix(const std::string& appTitle);

// The e-mail thread's pass, run on the main thread while MailRequestFlags is
// non-zero. Shows "Email=" + the flags in panel 2; reloads the settings when
// bit 0 asks; for bit 1 composes the oldest waiting notification (body: its
// event block, the system block, the kind's body template; subject: the
// prefix and the first line of the kind's subject template) and returns it
// as a job holding SendBusy. While another send holds SendBusy (the page's
// test mail) the notifications keep waiting; without loaded settings or
// recipients they are all dropped. Bit 1 stays set while any wait.
MailPassResult MailPass(ShellFlags& flags, MailState& mail, MailSettingsState& settings,
                        SettingsStore& store, const std::string& appTitle,
                        const MailPassHooks& hooks = {});

// The page's test mail: "[" + title + "] E-Mail test!" and the system block,
// subject "[" + title + " Message] Mail Test ", to the sender alone.
// nullopt while another send holds SendBusy. The caller has checked that the
// settings are loaded.
std::optional<MailJob> ComposeTestMail(MailState& mail, const MailSettingsState& settings,
                                       const std::string& appTitle);

}  // namespace raid::mail
