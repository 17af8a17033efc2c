// The main window as a client of the service: the enclosures, their status,
// SMART, event lines and e-mail settings are the service's, and changes go to
// it. The window opens no disk or settings file, logs and mails nothing of
// its own.
#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "app/email_page.h"
#include "app/main_window.h"
#include "app/service_calls.h"
#include "app/service_mirror.h"
#include "app/setup_page.h"
#include "app/smart_page.h"
#include "app/status_page.h"
#include "smart/smart_state.h"

namespace raid::app {
namespace {

QString Joined(const std::vector<std::string>& notes) {
    QStringList lines;
    for (const auto& note : notes) lines << QString::fromStdString(note);
    return lines.join('\n');
}

const char* const kMailCaption = "E-Mail Message";

const char* const kStartService =
    "No enclosure can be reached: the monitor service is not running, and only the service "
    "(or root) may open the enclosures' disks.\n"
    "Start it with: sudo systemctl start raid-monitor\n"
    "This window goes on by itself once the service runs.";

// What the window follows, on standard error too: for the session's journal,
// where a desktop user's support starts.
void Say(const std::string& text) { std::fprintf(stderr, "raidgui: %s\n", text.c_str()); }

// The DISK the service knows device `device` by: its physical disk number
// ("-1", which the service refuses, for a device the table does not hold).
std::string ServiceDisk(const DiscoveryState& d, int device) {
    if (device < 0 || device >= std::min(d.deviceCount, kDeviceTableSize)) return "-1";
    return std::to_string(d.DiskOf(device));
}

}  // namespace

QString MainWindow::accessNotice() const {
    return accessNoticeLabel_->isHidden() ? QString() : accessNoticeLabel_->text();
}

void MainWindow::showAccessNotice(const QString& text) {
    if (text != accessNoticeLabel_->text() && !text.isEmpty())
        Say(QString(text).replace('\n', ' ').toStdString());
    accessNoticeLabel_->setText(text);
    accessNoticeLabel_->setVisible(!text.isEmpty());
}

void MainWindow::startClientMode() {
    serviceCalls_ = new ServiceCalls(options_.service, options_.serviceCallsInline, this);
    serviceCalls_->setObjectName("serviceCalls");
    if (client::EnclosureWatch* watch = options_.watch) {
        connect(watch, &client::EnclosureWatch::enclosuresChanged, this,
                &MainWindow::requestServiceStatus);
        connect(watch, &client::EnclosureWatch::serviceAppeared, this,
                &MainWindow::requestServiceStatus);
        connect(watch, &client::EnclosureWatch::serviceVanished, this,
                &MainWindow::onServiceVanished);
        connect(watch, &client::EnclosureWatch::eventLine, this, &MainWindow::onServiceEventLine);
    }
    SetStatusPanel(1, "Client of the service");
    requestServiceStatus();
}

void MainWindow::requestServiceStatus() {
    // One status call at a time; changes meanwhile ask once more after it.
    if (statusAsked_) {
        statusAgain_ = true;
        return;
    }
    statusAsked_ = true;
    serviceCalls_->Call<client::StatusAnswer>(
        [](client::EnclosureAccess& access) { return access.Status(""); },
        [this](client::StatusAnswer answer) {
            statusAsked_ = false;
            onServiceStatus(answer);
            if (statusAgain_) {
                statusAgain_ = false;
                requestServiceStatus();
            }
        });
}

void MainWindow::onServiceStatus(const client::StatusAnswer& answer) {
    if (context_->state.shell.closing.load()) return;
    if (answer.outcome == client::kUnavailable) {
        onServiceVanished();
        return;
    }
    if (answer.outcome != client::kDone) {
        // Busy starting, or not allowed: say so; the watch asks again.
        showAccessNotice("The monitor service does not serve the enclosures yet:\n" +
                         Joined(answer.notes));
        return;
    }
    showAccessNotice(QString());
    const bool wasEmpty = context_->state.discovery.deviceCount == 0;
    const bool changed = MirrorEnclosures(context_->state, answer.devices, *this, *this);
    if (!changed) return;
    if (answer.devices.empty()) Say("the service serves no enclosure");
    for (const auto& device : answer.devices)
        Say("Device" + std::to_string(device.index + 1) + ": " + device.model + " on disk " +
            std::to_string(device.disk) + (device.path.empty() ? "" : " (" + device.path + ")") +
            ", through the service");
    if (context_->state.discovery.deviceCount > 0) {
        smartCountdownTimer_->start();
        if (wasEmpty) readServiceSmart();
    }
}

void MainWindow::onServiceVanished() {
    MirrorEnclosures(context_->state, {}, *this, *this);
    showAccessNotice(kStartService);
}

void MainWindow::onServiceEventLine(const QString& line) {
    // The viewer follows the day's lines as they come.
    context_->eventLog.eventLogLines.push_back(line.toStdString());
    Say("event: " + line.toStdString());
}

void MainWindow::readServiceSmart() {
    const auto& d = context_->state.discovery;
    const int count = std::min(d.deviceCount, smart::kSmartDevices);
    for (int i = 0; i < count; ++i) {
        const std::string disk = std::to_string(d.DiskOf(i));
        serviceCalls_->Call<client::SmartAnswer>(
            [disk](client::EnclosureAccess& access) { return access.Smart(disk); },
            [this, i](client::SmartAnswer answer) {
                if (answer.outcome != client::kDone || !answer.smart) return;
                smart::SmartState& tables = context_->smart;
                for (int k = 0; k < smart::kSmartDisks; ++k) {
                    const auto& m = answer.smart->members[static_cast<std::size_t>(k)];
                    auto data = tables.DataBlock(i, k);
                    auto thresholds = tables.ThresholdBlock(i, k);
                    std::copy_n(m.data.begin(), std::min(m.data.size(), data.size()), data.begin());
                    std::copy_n(m.thresholds.begin(),
                                std::min(m.thresholds.size(), thresholds.size()),
                                thresholds.begin());
                    tables.Word106Code(i, k) = m.word106Code;
                }
                tables.thresholdsRead = answer.smart->thresholdsRead;
                tables.dataRead = answer.smart->dataRead;
                if (SmartPageShown()) ShowSmartPage();
            });
    }
}

void MainWindow::tellServiceAnswer(const client::Answer& answer, const QString& caption) {
    if (answer.outcome == client::kDone) return;
    warnUser(Joined(answer.notes), caption);
}

void MainWindow::setBuzzerThroughService(int device, bool mute) {
    const std::string disk = ServiceDisk(context_->state.discovery, device);
    serviceCalls_->Call<client::SettingAnswer>(
        [disk, mute](client::EnclosureAccess& access) {
            return access.SetBuzzer(disk, mute, client::CallOptions{});
        },
        [this](client::SettingAnswer answer) {
            tellServiceAnswer(answer, "Buzzer");
            // The box shows the controller's setting again, changed or not.
            requestServiceStatus();
            RefreshStatusPage(true);
        });
}

void MainWindow::setPeriodThroughService(int device, const client::PeriodRequest& period) {
    const std::string disk = ServiceDisk(context_->state.discovery, device);
    serviceCalls_->Call<client::SettingAnswer>(
        [disk, period](client::EnclosureAccess& access) {
            return access.SetBackupPeriod(disk, period, client::CallOptions{});
        },
        [this](client::SettingAnswer answer) {
            setupPage_->onServicePeriodAnswer(answer);
            requestServiceStatus();
        });
}

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

}  // namespace raid::app
