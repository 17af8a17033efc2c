#include "cli/raidctl_mail.h"

#include <QCoreApplication>
#include <iomanip>
#include <optional>

#include "cli/local_access.h"
#include "cli/raidctl_commands.h"
#include "cli/raidctl_output.h"
#include "mail/event_templates.h"
#include "platform/clock.h"
#include "platform/linux_disks.h"

namespace raid::cli {
namespace {

const char* PasswordText(const client::MailSettingsRecord& s) {
    if (s.password == "invalid") return "unreadable (the stored record is not valid)";
    return s.password == "set" ? "set (hidden)" : "empty";
}

// A note may come from the service: one line each, whatever it holds.
int PrintNotes(const client::Answer& answer, std::ostream& err) {
    for (const auto& note : answer.notes) err << "raidctl: " << OneLine(note) << "\n";
    return answer.outcome;
}

}  // namespace

void PrintMailSettingsText(const client::MailSettingsRecord& s, std::ostream& out) {
    if (!s.exists) {
        out << "No e-mail settings in " << s.file << "\n";
        return;
    }
    const auto row = [&out](const std::string& name, const std::string& value) {
        out << std::left << std::setw(28) << name << value << "\n";
    };
    row("Settings file", s.file);
    row("E-Mail Host (SMTP)", s.host);
    row("Port", s.port);
    row("Security", s.security);
    row("Require TLS", s.requireTls ? "on" : "off");
    row("Time Out (Sec)", s.timeOut);
    row("Name", s.senderName);
    row("E-Mail Address", s.senderAddress);
    row("SMTP Login Authentication", s.authentication ? "on" : "off");
    row("Account", s.account);
    row("Password", PasswordText(s));
    if (s.recipients.empty()) row("Recipients", "(none)");
    for (std::size_t i = 0; i < s.recipients.size(); ++i)
        row(i == 0 ? "Recipients" : "", s.recipients[i]);
    for (int kind = 1; kind <= 2; ++kind) {
        const auto& e = s.events[static_cast<std::size_t>(kind - 1)];
        row(mail::EventKindCaption(kind), std::string(e.mailed ? "mailed" : "not mailed") +
                                              ", subject \"" + e.subject + "\", " +
                                              std::to_string(e.bodyLines) + " body lines");
    }
    row("Template folder", s.templateFolder);
}

void PrintMailSettingsJson(const client::MailSettingsRecord& s, std::ostream& out) {
    Json j;
    j["file"] = s.file;
    j["settings"] = s.exists;
    if (s.exists) {
        j["host"] = s.host;
        j["port"] = s.port;
        j["security"] = s.security;
        j["requireTls"] = s.requireTls;
        j["timeOut"] = s.timeOut;
        j["senderName"] = s.senderName;
        j["senderAddress"] = s.senderAddress;
        j["authentication"] = s.authentication;
        j["account"] = s.account;
        j["password"] = s.password;
        j["recipients"] = s.recipients;
        Json kinds = Json::array();
        for (int kind = 1; kind <= 2; ++kind) {
            const auto& e = s.events[static_cast<std::size_t>(kind - 1)];
            kinds.push_back({{"kind", kind},
                             {"name", mail::EventKindCaption(kind)},
                             {"mailed", e.mailed},
                             {"subject", e.subject},
                             {"bodyLines", e.bodyLines}});
        }
        j["events"] = kinds;
        j["templateFolder"] = s.templateFolder;
    }
    PrintJsonLine(j, out);
}

int RunMailSettingsVia(const Arguments& args, client::EnclosureAccess& access, std::ostream& out,
                       std::ostream& err) {
    const client::CallOptions options = CallOptionsOf(args);
    if (args.requireTls) {
        // A switch alone makes no useful settings, though a first change
        // would store them: the first ones come from the E-mail page.
        const client::MailSettingsAnswer before = access.MailSettings(options);
        if (before.outcome != client::kDone) return PrintNotes(before, err);
        if (!before.settings.exists) {
            err << "raidctl: No e-mail settings in " << before.settings.file << "\n";
            return kExitCommandFailed;
        }
        client::MailSettingsChanges changes;
        changes.requireTls = *args.requireTls;
        const client::Answer stored = access.SetMailSettings(changes, options);
        if (stored.outcome != client::kDone) return PrintNotes(stored, err);
    }
    const client::MailSettingsAnswer answer = access.MailSettings(options);
    if (answer.outcome != client::kDone) return PrintNotes(answer, err);
    if (args.json) {
        PrintMailSettingsJson(answer.settings, out);
    } else {
        PrintMailSettingsText(answer.settings, out);
    }
    return kExitOk;
}

int RunMailTestVia(const Arguments& args, client::EnclosureAccess& access, std::ostream& out,
                   std::ostream& err) {
    const client::TestMailAnswer answer =
        access.SendTestMail(CallOptionsOf(args), [&out](const std::string& line) {
            out << line << "\n" << std::flush;
        });
    if (answer.outcome != client::kDone) return PrintNotes(answer, err);
    for (const std::string& warning : answer.warnings)
        err << "raidctl: warning: " << OneLine(warning) << "\n";
    out << "Send mail Success! (to " << answer.sentTo << ")\n";
    return kExitOk;
}

namespace {

// The mail commands in this process: no disk is opened.
template <typename Run>
int InProcess(const Arguments& args, std::ostream& out, std::ostream& err, Run run) {
    // TLS comes from a Qt plugin, which needs the application object.
    int qtArgc = 1;
    char name[] = "raidctl";
    char* qtArgv[] = {name, nullptr};
    std::optional<QCoreApplication> application;
    if (QCoreApplication::instance() == nullptr) application.emplace(qtArgc, qtArgv);
    platform::LinuxDiskSystem disks;
    platform::SystemClock clock;
    Context ctx{disks, clock, {}, out, err};
    LocalAccess local(ctx, args.settingsFile);
    return run(args, local, out, err);
}

}  // namespace

int RunMailSettings(const Arguments& args, std::ostream& out, std::ostream& err) {
    return InProcess(args, out, err, RunMailSettingsVia);
}

int RunMailTest(const Arguments& args, std::ostream& out, std::ostream& err) {
    return InProcess(args, out, err, RunMailTestVia);
}

}  // namespace raid::cli
