#include "mail/mail_pass.h"

namespace raid::mail {
namespace {

std::optional<MailJob> Job(MailState& mail, const MailSettingsState& settings,
                           OutgoingMessage message, bool testMail) {
    auto claim = SendClaim::Take(mail.sendBusy);
    if (!claim) return std::nullopt;
    MailJob job;
    job.settings = settings.settings;
    job.authenticate = settings.Authenticates();
    job.recipients =
        testMail ? std::vector<std::string>{settings.settings.senderAddress} : settings.recipients;
    job.message = std::move(message);
    job.testMail = testMail;
    job.claim = std::move(*claim);
    return job;
}

void Append(std::vector<std::string>& to, const std::vector<std::string>& lines) {
    to.insert(to.end(), lines.begin(), lines.end());
}

}  // namespace

std::optional<SendClaim> SendClaim::Take(const std::shared_ptr<std::atomic<bool>>& busy) {
    bool expected = false;
    if (!busy || !busy->compare_exchange_strong(expected, true)) return std::nullopt;
    return SendClaim(busy);
}

SendClaim& SendClaim::operator=(SendClaim&& other) noexcept {
    if (this != &other) {
        Release();
        busy_ = std::move(other.busy_);
    }
    return *this;
}

SendClaim::~SendClaim() { Release(); }

void SendClaim::Release() {
    if (busy_) busy_->store(false);
    busy_.reset();
}

std::string SubjectPrefix(const std::string& appTitle) { return "[" + appTitle + " Message] "; }

MailPassResult MailPass(ShellFlags& flags, MailState& mail, MailSettingsState& settings,
                        SettingsStore& store, const std::string& appTitle,
                        const MailPassHooks& hooks) {
    MailPassResult result;
    const std::uint8_t requests = flags.mailRequestFlags.load();
    if (hooks.statusPanel) hooks.statusPanel(2, "Email=" + std::to_string(requests));
    // The reload comes first, so that a notification raised after a save
    // goes out with the new settings.
    if (requests & kRequestReload) {
        if (auto problem = LoadMailSettings(store, settings, flags, hooks.pump))
            result.problems.push_back(std::move(*problem));
    }
    if (mail.droppedNotifications != 0) {
        result.problems.push_back(
            "E-mail notifications dropped: " + std::to_string(mail.droppedNotifications) +
            " raised while " + std::to_string(kMaxPendingNotifications) +
            " were waiting to be sent.");
        mail.droppedNotifications = 0;
    }
    if ((requests & kRequestSend) == 0) return result;
    if (!settings.loaded || settings.recipientCount == 0) {
        mail.pending.clear();
    } else if (!mail.pending.empty()) {
        const PendingNotification& next = mail.pending.front();
        const EventTemplate none;
        const EventTemplate& t = next.kind >= 1 && next.kind <= kEventKinds
                                     ? settings.templates[static_cast<std::size_t>(next.kind)]
                                     : none;
        OutgoingMessage message;
        Append(message.body, next.eventInfoBlock);
        Append(message.body, mail.systemInfoBlock);
        Append(message.body, t.body);
        message.subject = SubjectPrefix(appTitle) + (t.subject.empty() ? "" : t.subject.front());
        result.job = Job(mail, settings, std::move(message), false);
        if (result.job) mail.pending.pop_front();
    }
    if (mail.pending.empty())
        flags.mailRequestFlags.fetch_and(static_cast<std::uint8_t>(~kRequestSend));
    return result;
}

std::optional<MailJob> ComposeTestMail(MailState& mail, const MailSettingsState& settings,
                                       const std::string& appTitle) {
    OutgoingMessage message;
    message.body.push_back("[" + appTitle + "] E-Mail test!");
    Append(message.body, mail.systemInfoBlock);
    message.subject = SubjectPrefix(appTitle) + "Mail Test ";
    return Job(mail, settings, std::move(message), true);
}

}  // namespace raid::mail
