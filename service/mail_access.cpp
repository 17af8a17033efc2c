#include "service/mail_access.h"

#include "common/version.h"
#include "mail/mail_pass.h"
#include "mail/server_text.h"
#include "mail/system_info.h"

namespace raid::service {
namespace {

std::string PathOf(const std::string& file) {
    return file.empty() ? mail::DefaultSettingsFile().string() : file;
}

void Fail(client::Answer& answer, std::string why) {
    answer.outcome = client::kFailed;
    answer.notes.push_back(std::move(why));
}

// The settings file and what was read from it.
struct Stored {
    explicit Stored(const std::string& path) : store(path) {}

    // Reads the settings as the window's mail thread does; false with the
    // problem told in `answer`.
    bool Read(client::Answer& answer) {
        const auto problem = mail::LoadMailSettings(store, state, flags);
        if (!problem) return true;
        Fail(answer, *problem);
        return false;
    }

    mail::SettingsStore store;
    mail::MailSettingsState state;
    ShellFlags flags;
};

const char* PasswordStateOf(const mail::MailSettingsState& s) {
    if (s.authState == mail::kAuthInvalid) return "invalid";
    return s.settings.password.empty() ? "empty" : "set";
}

// The page as the window fills it from `state`, with `changes` typed over it.
mail::MailPageFields PageWith(mail::MailSettingsState& state,
                              const client::MailSettingsChanges& c) {
    mail::MailPageFields f;
    f.settings = state.settings;
    f.settings.password.clear();  // only a typed one is stored
    f.authentication = state.Authenticates();
    f.suppressDiskFail = (state.suppressMask & 1u) != 0;
    f.suppressDeviceRemoved = (state.suppressMask & 2u) != 0;
    f.addresses = state.recipients;
    for (std::size_t k = 0; k < f.events.size(); ++k) {
        const mail::EventTemplate& t = state.templates[k + 1];
        if (!t.subject.empty()) f.events[k].subject = {t.subject.front()};
        f.events[k].body = t.body;
    }
    const auto edit = [&state](const std::optional<std::string>& value, std::string& field,
                               std::uint16_t bit) {
        if (!value) return;
        field = *value;
        state.pageChangedBits |= bit;
    };
    namespace changed = mail::changed;
    edit(c.host, f.settings.host, changed::kHost);
    edit(c.port, f.settings.port, changed::kPort);
    edit(c.timeOut, f.settings.timeOut, changed::kTimeOut);
    edit(c.senderName, f.settings.senderName, changed::kSenderName);
    edit(c.senderAddress, f.settings.senderAddress, changed::kSenderAddress);
    edit(c.account, f.settings.account, changed::kAccount);
    edit(c.password, f.settings.password, changed::kPassword);
    if (c.security) {
        f.settings.security = mail::ParseSecurity(*c.security);
        state.pageChangedBits |= changed::kSecurity;
    }
    if (c.requireTls) {
        f.settings.requireTls = *c.requireTls;
        state.pageChangedBits |= changed::kRequireTls;
    }
    if (c.authentication) f.authentication = *c.authentication;
    if (c.recipients) f.addresses = *c.recipients;
    if (c.mailed[0]) f.suppressDiskFail = !*c.mailed[0];
    if (c.mailed[1]) f.suppressDeviceRemoved = !*c.mailed[1];
    for (std::size_t k = 0; k < f.events.size(); ++k)
        if (c.subject[k])
            f.events[k].subject = c.subject[k]->empty() ? std::vector<std::string>{}
                                                        : std::vector<std::string>{*c.subject[k]};
    return f;
}

}  // namespace

client::MailSettingsRecord MailSettingsRecordOf(const mail::MailSettingsState& s,
                                                const std::string& file) {
    client::MailSettingsRecord r;
    r.file = file;
    r.exists = s.keyExists;
    if (!s.keyExists) return r;
    const mail::MailSettings& m = s.settings;
    r.host = m.host;
    r.port = m.port;
    r.security = mail::SecurityName(m.security);
    r.requireTls = m.requireTls;
    r.timeOut = m.timeOut;
    r.senderName = m.senderName;
    r.senderAddress = m.senderAddress;
    r.authentication = s.Authenticates();
    r.account = m.account;
    r.password = PasswordStateOf(s);
    r.recipients = s.recipients;
    for (std::size_t k = 0; k < r.events.size(); ++k) {
        const mail::EventTemplate& t = s.templates[k + 1];
        r.events[k].mailed = (s.suppressMask & (1u << k)) == 0;
        r.events[k].subject = t.subject.empty() ? "" : t.subject.front();
        r.events[k].bodyLines = static_cast<std::uint32_t>(t.body.size());
    }
    r.templateFolder = s.templateFolder;
    return r;
}

client::MailSettingsAnswer ReadMailSettings(const std::string& file) {
    const std::string path = PathOf(file);
    client::MailSettingsAnswer answer;
    Stored stored(path);
    if (stored.Read(answer)) answer.settings = MailSettingsRecordOf(stored.state, path);
    return answer;
}

client::Answer ChangeMailSettings(const std::string& file,
                                  const client::MailSettingsChanges& changes) {
    const std::string path = PathOf(file);
    client::Answer answer;
    Stored stored(path);
    // A damaged file is refused rather than kept beside and replaced: its
    // owner decides.
    if (!stored.Read(answer)) return answer;
    // Without stored settings the state is the empty one the page's first OK
    // starts from: the same defaults fill what is not given.
    mail::MailPageFields fields = PageWith(stored.state, changes);
    if (const auto problem =
            mail::SaveMailSettings(stored.store, stored.state, stored.flags, fields)) {
        Fail(answer, *problem);
    }
    return answer;
}

client::TestMailAnswer SendTestMail(const std::string& file, mail::SmtpOptions options,
                                    const std::function<void(const std::string&)>& transcript) {
    const std::string path = PathOf(file);
    client::TestMailAnswer answer;
    Stored stored(path);
    if (!stored.Read(answer)) return answer;
    const mail::MailSettingsState& settings = stored.state;
    if (!settings.loaded) {
        Fail(answer,
             "no e-mail settings in " + path + " (the window program's E-mail page stores them)");
        return answer;
    }
    mail::MailState mail;
    mail.systemInfoBlock = mail::BuildSystemInfoBlock(mail::SystemHostSources());
    const auto job = mail::ComposeTestMail(mail, settings, std::string("RAID GUI ") + kVersionText);
    if (!job) {  // a fresh state holds no other send
        answer.outcome = client::kFailed;
        return answer;
    }
    // What a server sent may hold any byte: control characters reach the
    // reader only as escapes.
    options.transcript = [&transcript](const std::string& line) {
        transcript(mail::EscapeControlCharacters(line));
    };
    const mail::SendReport report = mail::SendNotificationMail(*job, options);
    if (!report.sent) {
        Fail(answer, "the test mail was not sent: " + mail::EscapeControlCharacters(report.error));
        return answer;
    }
    for (const std::string& note : mail::SendNotes(report))
        answer.warnings.push_back(mail::EscapeControlCharacters(note));
    answer.sentTo = settings.settings.senderAddress;
    return answer;
}

}  // namespace raid::service
