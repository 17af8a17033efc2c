// The main window's e-mail wiring: the settings check at start-up, the mail
// thread's pass and what a send shows on the window.
#include <QTimer>
#include <cstdio>

#include "app/email_page.h"
#include "app/main_window.h"
#include "mail/server_text.h"

namespace raid::app {

void MainWindow::checkMailSettings() {
    const auto problem =
        mail::CheckMailSettingsAtStartup(*settingsStore_, mailSettings_, context_->state.shell);
    if (!problem) return;
    // The program runs on without settings; the box comes once the window
    // is up.
    std::fprintf(stderr, "raidgui: %s\n", mail::EscapeControlCharacters(*problem).c_str());
    const QString text = QString::fromStdString(*problem) +
                         "\n\nStart raidgui with --settings FILE to keep the e-mail settings "
                         "in a file of your own.";
    QTimer::singleShot(0, this, [this, text] { tellUser(text, "E-Mail Message"); });
}

std::optional<mail::MailJob> MainWindow::runMailPass() {
    mail::MailPassHooks hooks;
    hooks.statusPanel = [this](int panel, const std::string& text) { SetStatusPanel(panel, text); };
    // No pump while the templates are read (they are a few small files): an
    // OK clicked in a pump would save into the middle of the load.
    mail::MailPassResult result =
        mail::MailPass(context_->state.shell, mail_, mailSettings_, *settingsStore_,
                       applicationTitle().toStdString(), hooks);
    for (const std::string& problem : result.problems) {
        std::fprintf(stderr, "raidgui: %s\n", mail::EscapeControlCharacters(problem).c_str());
        SetStatusPanel(4, problem);
    }
    return std::move(result.job);
}

MailThread::MainThreadWork MainWindow::mailThreadWork() {
    MailThread::MainThreadWork work;
    work.mailPass = [this] { return runMailPass(); };
    work.statusText = [this](int panel, const std::string& text) { SetStatusPanel(panel, text); };
    // A notification that did not go out is told on the last-result line: a
    // box would hold the mail thread until someone closes it.
    work.sendEnded = [this](const mail::SendReport& report) {
        if (report.sent) {
            tellSendNotes(mail::SendNotes(report));
            return;
        }
        // The error may quote the server: escaped for the terminal.
        std::fprintf(stderr, "raidgui: e-mail not sent: %s\n",
                     mail::EscapeControlCharacters(report.error).c_str());
        SetStatusPanel(4, "E-mail not sent: " + report.error);
    };
    return work;
}

void MainWindow::tellSendNotes(const std::vector<std::string>& notes) {
    if (notes.empty()) return;
    std::string line = "E-mail: ";
    for (const std::string& note : notes) {
        std::fprintf(stderr, "raidgui: e-mail: %s\n", mail::EscapeControlCharacters(note).c_str());
        line += (&note == &notes.front() ? "" : " / ") + note;
    }
    SetStatusPanel(4, line);
}

void MainWindow::onTestMailFinished(bool sent, const QString& error, bool testMail,
                                    const QStringList& notes) {
    std::vector<std::string> lines;
    for (const QString& note : notes) lines.push_back(note.toStdString());
    tellSendNotes(lines);
    emailPage_->showSendResult(sent, error, testMail, notes);
}

}  // namespace raid::app
