#include "cli/raidctl_mail.h"

#include <QCoreApplication>
#include <iomanip>
#include <optional>

#include "cli/raidctl_output.h"
#include "mail/mail_pass.h"
#include "mail/server_text.h"
#include "mail/smtp_client.h"
#include "mail/system_info.h"

namespace raid::cli {
namespace {

std::string SettingsPath(const Arguments& args) {
    return args.settingsFile.empty() ? std::string(mail::kDefaultSettingsPath) : args.settingsFile;
}

// Reads the settings as the window's mail thread does; nullopt (with the
// reason told on `err`) when the file cannot be used.
std::optional<mail::MailSettingsState> Load(const std::string& path, std::ostream& err) {
    mail::SettingsStore store(path);
    mail::MailSettingsState settings;
    ShellFlags flags;
    if (const auto problem = mail::LoadMailSettings(store, settings, flags)) {
        err << "raidctl: " << *problem << "\n";
        return std::nullopt;
    }
    return settings;
}

// What a server sent may hold any byte: control characters reach the
// terminal only as escapes.
std::string Printable(const std::string& text) { return mail::EscapeControlCharacters(text); }

const char* PasswordState(const mail::MailSettingsState& s) {
    if (s.authState == mail::kAuthInvalid) return "unreadable (the stored record is not valid)";
    return s.settings.password.empty() ? "empty" : "set (hidden)";
}

const char* PasswordJson(const mail::MailSettingsState& s) {
    if (s.authState == mail::kAuthInvalid) return "invalid";
    return s.settings.password.empty() ? "empty" : "set";
}

}  // namespace

void PrintMailSettingsText(const std::string& file, const mail::MailSettingsState& s,
                           std::ostream& out) {
    if (!s.keyExists) {
        out << "No e-mail settings in " << file << "\n";
        return;
    }
    const mail::MailSettings& m = s.settings;
    const auto row = [&out](const std::string& name, const std::string& value) {
        out << std::left << std::setw(28) << name << value << "\n";
    };
    row("Settings file", file);
    row("E-Mail Host (SMTP)", m.host);
    row("Port", m.port);
    row("Security", mail::SecurityName(m.security));
    row("Require TLS", m.requireTls ? "on" : "off");
    row("Time Out (Sec)", m.timeOut);
    row("Name", m.senderName);
    row("E-Mail Address", m.senderAddress);
    row("SMTP Login Authentication", s.Authenticates() ? "on" : "off");
    row("Account", m.account);
    row("Password", PasswordState(s));
    if (s.recipients.empty()) row("Recipients", "(none)");
    for (std::size_t i = 0; i < s.recipients.size(); ++i)
        row(i == 0 ? "Recipients" : "", s.recipients[i]);
    for (int kind = 1; kind <= 2; ++kind) {
        const mail::EventTemplate& t = s.templates[static_cast<std::size_t>(kind)];
        const bool suppressed = (s.suppressMask & (1u << (kind - 1))) != 0;
        row(mail::EventKindCaption(kind),
            std::string(suppressed ? "not mailed" : "mailed") + ", subject \"" +
                (t.subject.empty() ? "" : t.subject.front()) + "\", " +
                std::to_string(t.body.size()) + " body lines");
    }
    row("Template folder", s.templateFolder);
}

void PrintMailSettingsJson(const std::string& file, const mail::MailSettingsState& s,
                           std::ostream& out) {
    Json j;
    j["file"] = file;
    j["settings"] = s.keyExists;
    if (s.keyExists) {
        const mail::MailSettings& m = s.settings;
        j["host"] = m.host;
        j["port"] = m.port;
        j["security"] = mail::SecurityName(m.security);
        j["requireTls"] = m.requireTls;
        j["timeOut"] = m.timeOut;
        j["senderName"] = m.senderName;
        j["senderAddress"] = m.senderAddress;
        j["authentication"] = s.Authenticates();
        j["account"] = m.account;
        j["password"] = PasswordJson(s);
        j["recipients"] = s.recipients;
        Json kinds = Json::array();
        for (int kind = 1; kind <= 2; ++kind) {
            const mail::EventTemplate& t = s.templates[static_cast<std::size_t>(kind)];
            kinds.push_back({{"kind", kind},
                             {"name", mail::EventKindCaption(kind)},
                             {"mailed", (s.suppressMask & (1u << (kind - 1))) == 0},
                             {"subject", t.subject.empty() ? "" : t.subject.front()},
                             {"bodyLines", t.body.size()}});
        }
        j["events"] = kinds;
        j["templateFolder"] = s.templateFolder;
    }
    PrintJsonLine(j, out);
}

int RunMailSettings(const Arguments& args, std::ostream& out, std::ostream& err) {
    const std::string path = SettingsPath(args);
    if (args.requireTls) {
        mail::SettingsStore store(path);
        if (const auto problem = mail::StoreRequireTls(store, *args.requireTls)) {
            err << "raidctl: " << *problem << "\n";
            return kExitCommandFailed;
        }
    }
    const auto settings = Load(path, err);
    if (!settings) return kExitCommandFailed;
    if (args.json) {
        PrintMailSettingsJson(path, *settings, out);
    } else {
        PrintMailSettingsText(path, *settings, out);
    }
    return kExitOk;
}

int RunMailTest(const Arguments& args, std::ostream& out, std::ostream& err) {
    const std::string path = SettingsPath(args);
    const auto settings = Load(path, err);
    if (!settings) return kExitCommandFailed;
    if (!settings->loaded) {
        err << "raidctl: no e-mail settings in " << path
            << " (the window program's E-mail page stores them)\n";
        return kExitCommandFailed;
    }
    // TLS comes from a Qt plugin, which needs the application object.
    int qtArgc = 1;
    char name[] = "raidctl";
    char* qtArgv[] = {name, nullptr};
    std::optional<QCoreApplication> application;
    if (QCoreApplication::instance() == nullptr) application.emplace(qtArgc, qtArgv);

    mail::MailState mail;
    mail.systemInfoBlock = mail::BuildSystemInfoBlock(mail::SystemHostSources());
    const auto job = mail::ComposeTestMail(mail, *settings, "RAID GUI " + ShellFlags{}.versionText);
    if (!job) return kExitCommandFailed;  // a fresh state holds no other send
    mail::SmtpOptions options;
    options.transcript = [&out](const std::string& line) {
        out << Printable(line) << "\n" << std::flush;
    };
    const mail::SendReport report = mail::SendNotificationMail(*job, options);
    if (!report.sent) {
        err << "raidctl: the test mail was not sent: " << Printable(report.error) << "\n";
        return kExitCommandFailed;
    }
    for (const std::string& note : mail::SendNotes(report)) {
        err << "raidctl: warning: " << Printable(note) << "\n";
    }
    out << "Send mail Success! (to " << settings->settings.senderAddress << ")\n";
    return kExitOk;
}

}  // namespace raid::cli
