// The main window's e-mail settings and test mail as a client of the
// service: the E-mail page shows the service's settings, and its OK and Test
// go to the service.
#include "app/email_page.h"
#include "app/main_window.h"
#include "app/service_calls.h"

namespace raid::app {
namespace {

const char* const kMailCaption = "E-Mail Message";

}  // namespace

void MainWindow::readServiceMailSettings() {
    // One read at a time; the page shows its answer.
    if (mailSettingsAsked_) return;
    mailSettingsAsked_ = true;
    emailPage_->showServiceNotice(
        "Asking the monitor service for the e-mail settings. An administrator's password may "
        "be asked for.");
    serviceCalls_->Call<client::MailSettingsAnswer>(
        [](client::EnclosureAccess& access) { return access.MailSettings(client::CallOptions{}); },
        [this](client::MailSettingsAnswer answer) {
            mailSettingsAsked_ = false;
            if (context_->state.shell.closing.load()) return;
            if (answer.outcome == client::kDone) {
                emailPage_->showServiceSettings(answer.settings);
                return;
            }
            emailPage_->showServiceNotice(
                "The monitor service did not give the e-mail settings:\n" + Joined(answer.notes) +
                "\n\nOpen the E-mail page again to ask once more.");
            tellServiceAnswer(answer, kMailCaption);
        });
}

void MainWindow::storeMailSettingsThroughService(client::MailSettingsChanges changes) {
    if (mailSettingsAsked_) return;
    mailSettingsAsked_ = true;
    // Nothing more is typed until the service has answered.
    emailPage_->setEnabled(false);
    serviceCalls_->Call<client::Answer>(
        [changes = std::move(changes)](client::EnclosureAccess& access) {
            return access.SetMailSettings(changes, client::CallOptions{});
        },
        [this](client::Answer answer) {
            mailSettingsAsked_ = false;
            emailPage_->setEnabled(true);
            if (context_->state.shell.closing.load()) return;
            // Refused: the page keeps what was typed, so OK can be pressed again.
            if (answer.outcome != client::kDone) return tellServiceAnswer(answer, "Error");
            // The page shows what the service stored, its defaults too.
            readServiceMailSettings();
        });
}

void MainWindow::sendTestMailThroughService() {
    // One test mail at a time, as in this process.
    if (testMailAsked_) return;
    testMailAsked_ = true;
    serviceCalls_->Call<client::TestMailAnswer>(
        [](client::EnclosureAccess& access) {
            // The exchange is for raidctl mail-test to print; the window
            // tells how it ended.
            return access.SendTestMail(client::CallOptions{}, [](const std::string&) {});
        },
        [this](client::TestMailAnswer answer) {
            testMailAsked_ = false;
            if (context_->state.shell.closing.load()) return;
            // Sent, or not sent by the server: told as in this process.
            if (answer.outcome == client::kDone || answer.outcome == client::kFailed) {
                QStringList warnings;
                for (const auto& w : answer.warnings) warnings << QString::fromStdString(w);
                onTestMailFinished(answer.outcome == client::kDone, Joined(answer.notes), true,
                                   warnings);
                return;
            }
            tellServiceAnswer(answer, "Error");
        });
}

void MainWindow::tellEngineMailStored() {
    if (!localEngine()) return;
    // The page shows what was saved: no mail thread here reloads it.
    runMailPass();
    // No change to store: asking for none makes it reload, as after its own.
    serviceCalls_->Call<client::Answer>(
        [](client::EnclosureAccess& access) {
            return access.SetMailSettings(client::MailSettingsChanges{}, client::CallOptions{});
        },
        [this](client::Answer answer) { tellServiceAnswer(answer, "Error"); });
}

}  // namespace raid::app
