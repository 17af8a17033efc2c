// The main window as a client of the service: the enclosures, their status,
// SMART, event lines and e-mail settings are the service's, and changes go to
// it. The window opens no disk or settings file, logs and mails nothing of
// its own.
#include <QEventLoop>
#include <QInputDialog>
#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "app/detection_thread.h"
#include "app/email_page.h"
#include "app/hand_over.h"
#include "app/main_window.h"
#include "app/monitor_thread.h"
#include "app/service_calls.h"
#include "app/service_mirror.h"
#include "app/setup_page.h"
#include "app/smart_page.h"
#include "app/status_page.h"
#include "common/text.h"
#include "discovery/drive_enum.h"
#include "eventlog/event_lines.h"
#include "eventlog/log_file.h"
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
    if (text.isEmpty()) return;
    // It says more than "Drive detecting" would.
    accessNoticeLabel_->raise();
    SetDetectionNoticeVisible(false);
}

void MainWindow::watchService() {
    client::EnclosureWatch* watch = options_.watch;
    if (watch == nullptr) return;
    connect(watch, &client::EnclosureWatch::serviceAppeared, this, [this] {
        if (reclaimTimer_ != nullptr) reclaimTimer_->stop();
        if (clientMode_) {
            requestServiceStatus();
        } else {
            handOverToService();
        }
    });
    connect(watch, &client::EnclosureWatch::serviceVanished, this, &MainWindow::onServiceVanished);
    connect(watch, &client::EnclosureWatch::enclosuresChanged, this, [this] {
        if (clientMode_) requestServiceStatus();
    });
    connect(watch, &client::EnclosureWatch::eventLine, this, [this](const QString& line) {
        if (clientMode_) onServiceEventLine(line);
    });
}

void MainWindow::startClientMode() {
    if (serviceCalls_ == nullptr) {
        serviceCalls_ = new ServiceCalls(options_.service, options_.serviceCallsInline, this);
        serviceCalls_->setObjectName("serviceCalls");
    }
    clientMode_ = true;
    SetStatusPanel(1, "Service");
    requestServiceStatus();
    readServiceDayLines();
}

namespace {

std::vector<std::string> LinesOf(const std::vector<std::uint8_t>& bytes) {
    eventlog::LogLineSplitter splitter;
    splitter.Feed(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    return splitter.Finish();
}

}  // namespace

void MainWindow::readServiceDayLines() {
    const std::string today = text::FileDateText(context_->clock->WallNow()) + ".log";
    serviceCalls_->Call<client::DayFileAnswer>(
        [today](client::EnclosureAccess& access) { return access.ReadDayFile(today); },
        [this](client::DayFileAnswer answer) {
            auto& lines = context_->eventLog.eventLogLines;
            // Lines heard meanwhile are in the file too.
            if (answer.outcome == client::kDone) lines = LinesOf(answer.bytes);
        });
}

template <typename Answer>
Answer MainWindow::awaitService(std::function<Answer(client::EnclosureAccess&)> call) {
    std::optional<Answer> answer;
    QEventLoop loop;
    serviceCalls_->Call<Answer>(std::move(call), [&](Answer a) {
        answer = std::move(a);
        loop.quit();
    });
    if (!answer) loop.exec();
    return std::move(*answer);
}

std::optional<QString> MainWindow::chooseServiceDayFile(QWidget* parent,
                                                        std::vector<std::string>& lines,
                                                        std::string& error) {
    const auto listed = awaitService<client::DayFilesAnswer>(
        [](client::EnclosureAccess& access) { return access.DayFiles(); });
    if (listed.outcome != client::kDone) {
        error = Joined(listed.notes).toStdString();
        return QString();
    }
    QStringList names;
    for (auto it = listed.names.rbegin(); it != listed.names.rend(); ++it)
        names << QString::fromStdString(*it);
    QString name;
    if (options_.chooseDayFile) {
        name = options_.chooseDayFile(names);
    } else {
        bool chosen = false;
        name = QInputDialog::getItem(parent, "Event Log", "The service's day files:", names, 0,
                                     false, &chosen);
        if (!chosen) name.clear();
    }
    if (name.isEmpty()) return std::nullopt;
    const auto read = awaitService<client::DayFileAnswer>(
        [file = name.toStdString()](client::EnclosureAccess& access) {
            return access.ReadDayFile(file);
        });
    if (read.outcome != client::kDone) {
        error = Joined(read.notes).toStdString();
    } else {
        lines = LinesOf(read.bytes);
    }
    return name;
}

void MainWindow::handOverToService() {
    if (clientMode() || handOverTimer_ != nullptr || !options_.reachService) return;
    SetStatusPanel(4, "The monitor service started: handing the enclosures over to it");
    // No new device work: the polls, discovery and SMART stop here; what a
    // worker is doing ends first, and a firmware upgrade in this window
    // runs to its end (the service waits for the machine lock meanwhile).
    pollTimer_->stop();
    deviceChangeTimer_->stop();
    smartCountdownTimer_->stop();
    context_->state.shell.pollRequestFlags = 0;
    haltThreads();
    handOverTimer_ = new QTimer(this);
    handOverTimer_->setObjectName("handOverTimer");
    handOverTimer_->setInterval(20);
    connect(handOverTimer_, &QTimer::timeout, this, &MainWindow::onHandOverTick);
    handOverTimer_->start();
    onHandOverTick();
}

void MainWindow::onHandOverTick() {
    const AppState& state = context_->state;
    const bool workersEnded = (!detectionThread_ || detectionThread_->Ended()) &&
                              (!monitorThread_ || monitorThread_->Ended()) &&
                              (!mailThread_ || mailThread_->Ended());
    if (!workersEnded || state.shell.exclusiveOperation.load() || state.monitor.serving.load() ||
        state.shell.statusPollActive.load())
        return;
    handOverTimer_->stop();
    handOverTimer_->deleteLater();
    handOverTimer_ = nullptr;
    if (options_.releaseMachineLock) options_.releaseMachineLock();
    options_.service = options_.reachService();
    Say("the monitor service took the enclosures over; this window is now its client");
    SetStatusPanel(4, "");
    startClientMode();
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
    if (context_->state.shell.closing.load() || !clientMode_) return;
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
    if (!clientMode_) return;
    MirrorEnclosures(context_->state, {}, *this, *this);
    // Root's window drives the enclosures itself again, once the machine
    // lock is free (the service lets go of it after its name); any other
    // waits for the service.
    if (options_.takeMachineLock) {
        if (takeEnclosuresBack()) return;
        if (reclaimTimer_ == nullptr) {
            reclaimTimer_ = new QTimer(this);
            reclaimTimer_->setObjectName("reclaimTimer");
            reclaimTimer_->setInterval(500);
            connect(reclaimTimer_, &QTimer::timeout, this, [this] {
                if (!clientMode_ || takeEnclosuresBack()) reclaimTimer_->stop();
            });
        }
        reclaimTimer_->start();
    }
    showAccessNotice(kStartService);
}

bool MainWindow::takeEnclosuresBack() {
    if (!options_.takeMachineLock()) return false;
    goBackInProcess();
    return true;
}

void MainWindow::goBackInProcess() {
    clientMode_ = false;
    statusAsked_ = false;
    statusAgain_ = false;
    showAccessNotice(QString());
    Say("the monitor service stopped; this window drives the enclosures itself again");
    SetStatusPanel(1, "");
    // Fresh workers behind a fresh gate: the old gate stays shut.
    if (gate_->Close(std::chrono::milliseconds(0))) delete handOverReceiver_;
    handOverReceiver_ = new QObject();
    handOverReceiver_->setObjectName("handOverReceiver");
    gate_ = std::make_shared<HandOverGate>(handOverReceiver_);
    threadsHalted_ = false;
    armFirstDiscovery();
    context_->state.shell.firstStatusPending = true;
    discovery::TakeDriveBaselines(context_->state.discovery, context_->channel);
    SetDetectionNoticeText("Drive detecting");
    SetDetectionNoticeVisible(true);
    if (options_.startThreads) startThreads();
    deviceChangeTimer_->start();
}

void MainWindow::onServiceEventLine(const QString& line) {
    // The viewer follows the day's lines as they come.
    auto& lines = context_->eventLog.eventLogLines;
    lines.push_back(line.toStdString());
    noticeLines(lines.size() - 1);
    Say("event: " + line.toStdString());
}

void MainWindow::noticeLines(std::size_t from) {
    if (!options_.desktopNotice) return;
    const auto& lines = context_->eventLog.eventLogLines;
    for (std::size_t i = from; i < lines.size(); ++i)
        if (eventlog::DeservesDesktopNotice(lines[i]))
            options_.desktopNotice(QString::fromStdString(lines[i]));
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
