#pragma once
// The monitor's e-mail notifications, as the window program sends them: the
// same settings file, the same mail pass (run on the monitor's thread, which
// owns the state), and the send on a thread of its own so that polls and a
// stop never wait for a mail server. One send at a time; notifications
// raised meanwhile wait for it in the order raised, as in the window.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>

#include "client/mail_records.h"
#include "common/state.h"
#include "mail/mail_event.h"
#include "mail/mail_pass.h"
#include "mail/mail_settings.h"
#include "mail/settings_store.h"
#include "mail/smtp_client.h"

namespace raid::service {

class MonitorMail {
public:
    // `say` receives one line for each thing worth telling (a settings
    // problem, a mail sent or not sent); it is called on the monitor's
    // thread only.
    MonitorMail(AppState& state, const std::string& settingsFile,
                std::function<void(const std::string&)> say, mail::SmtpOptions options = {});
    // Stops a send that still runs (within about 100 ms) and waits for it.
    ~MonitorMail();
    MonitorMail(const MonitorMail&) = delete;
    MonitorMail& operator=(const MonitorMail&) = delete;

    // The start-up settings check: a load is asked for when settings exist.
    void CheckSettings();
    // What event detection and discovery raise (kind, device, member).
    void Raise(int kind, int device, int member);
    // Reads the settings again at the next Serve (SIGHUP).
    void RequestReload();
    // One turn on the monitor's thread: tells how a finished send ended,
    // then runs the mail pass when it is asked for and no send runs, and
    // starts the send of what it composed. After Stop it tells how many
    // notifications were left unsent.
    void Serve();
    // True while a send runs or notifications wait for their turn.
    bool Busy() const;
    // Ends a running send at its next check and waits for it; nothing is
    // sent afterwards. The next Serve tells how the send ended.
    void Stop();

    const mail::MailSettingsState& Settings() const { return settings_; }
    // The settings file, as clients are shown it.
    std::string SettingsFile() const { return store_.file().string(); }

    // A client's test mail, with the settings file as it is now, sent on a
    // thread of its own beside the notifications; `done` gets the answer and
    // the exchange on that thread. False while another test mail is sent.
    using TestMailDone = std::function<void(const client::TestMailAnswer& answer,
                                            const std::vector<std::string>& transcript)>;
    bool StartTestMail(TestMailDone done);

private:
    AppState& state_;
    mail::SettingsStore store_;
    std::function<void(const std::string&)> say_;
    mail::SmtpOptions options_;
    mail::MailState mail_;
    mail::MailSettingsState settings_;

    std::thread sender_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::mutex resultLock_;
    std::optional<mail::SendReport> result_;  // under resultLock_
    std::string subject_;                     // of the send that runs

    std::thread testSender_;
    std::atomic<bool> testDone_{false};
};

}  // namespace raid::service
