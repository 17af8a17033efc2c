// The main window as a client of the service: the enclosures, their status,
// SMART, event lines and e-mail settings are the service's, and changes go to
// it. The window opens no disk or settings file, logs and mails nothing of
// its own.
#include <QEventLoop>
#include <QInputDialog>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "app/detection_thread.h"
#include "app/hand_over.h"
#include "app/main_window.h"
#include "app/monitor_thread.h"
#include "app/service_calls.h"
#include "app/service_mirror.h"
#include "app/setup_page.h"
#include "app/smart_page.h"
#include "app/status_page.h"
#include "app/upgrade_controller.h"
#include "client/flash_follower.h"
#include "common/text.h"
#include "discovery/drive_enum.h"
#include "eventlog/event_lines.h"
#include "eventlog/log_file.h"
#include "firmware/upgrade.h"
#include "service/engine_access.h"
#include "smart/smart_state.h"

namespace raid::app {
namespace {

const char* const kStartService =
    "No enclosure can be reached: the monitor service is not running, and only the service "
    "(or root) may open the enclosures' disks.\n"
    "Start it with: sudo systemctl start raid-monitor\n"
    "This window goes on by itself once the service runs.";

}  // namespace

std::string MainWindow::seamDisk(int device) const {
    const DiscoveryState& d = context_->state.discovery;
    if (device < 0 || device >= std::min(d.deviceCount, kDeviceTableSize)) return "-1";
    return std::to_string(d.DiskOf(device));
}

QString MainWindow::accessNotice() const { return statusPage_->accessNotice(); }

void MainWindow::showAccessNotice(const QString& text) {
    if (text != statusPage_->accessNoticeText() && !text.isEmpty())
        Say(QString(text).replace('\n', ' ').toStdString());
    statusPage_->showAccessNotice(text);
}

void MainWindow::watchService() {
    client::EnclosureWatch* watch = options_.watch;
    if (watch == nullptr) return;
    connect(watch, &client::EnclosureWatch::serviceAppeared, this, [this] {
        if (reclaimTimer_ != nullptr) reclaimTimer_->stop();
        if (clientMode_ && !localEngine()) {
            showWatch();
        } else {
            handOverToService();
        }
    });
    connect(watch, &client::EnclosureWatch::serviceVanished, this, &MainWindow::onServiceVanished);
}

void MainWindow::followWatch(client::EnclosureWatch* watch) {
    for (QMetaObject::Connection* c : {&watchChanged_, &watchLine_, &watchNotice_}) disconnect(*c);
    watch_ = watch;
    if (watch == nullptr) return;
    watchChanged_ = connect(watch, &client::EnclosureWatch::enclosuresChanged, this, [this] {
        if (clientMode_) showWatch();
    });
    watchLine_ = connect(watch, &client::EnclosureWatch::eventLine, this,
                         [this](const QString& line) {
                             if (clientMode_) onServiceEventLine(line);
                         });
    // Only the engine in this process has boxes to show.
    watchNotice_ = connect(watch, &client::EnclosureWatch::notice, this,
                           [this](const QString& text, const QString& caption) {
                               if (!context_->state.shell.closing.load()) tellUser(text, caption);
                           });
}

void MainWindow::openLocalEngine() {
    engine_ = options_.openEngine();
    options_.service = engine_->Access();
    drawnTexts_ = {};
    enginePolled_ = {};
    followWatch(&engine_->Watch());
    startClientMode();
}

void MainWindow::startClientMode() {
    // Each access has calls of its own: those of the one before end with it.
    for (ServiceCalls* old : {serviceCalls_, flashCalls_}) {
        if (old == nullptr) continue;
        old->setObjectName(QString());
        old->deleteLater();
    }
    serviceCalls_ = new ServiceCalls(options_.service, options_.serviceCallsInline, this);
    serviceCalls_->setObjectName("serviceCalls");
    flashCalls_ = new ServiceCalls(options_.service, options_.serviceCallsInline, this);
    flashCalls_->setObjectName("flashCalls");
    clientMode_ = true;
    if (!localEngine()) SetStatusPanel(1, "Service");
    showWatch();
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
    if ((clientMode() && !localEngine()) || handOverTimer_ != nullptr || !options_.reachService)
        return;
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
    if (localEngine()) {
        // An upgrade in this window runs to its end first; then the engine
        // stops at its next step, never waited for here.
        if (state.shell.exclusiveOperation.load()) return;
        followWatch(nullptr);
        engine_->Stop();
        if (!engine_->Ended()) return;
        engine_.reset();
        clientMode_ = false;
    }
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
    followWatch(options_.watch);
    startClientMode();
}

void MainWindow::showWatch() {
    if (watch_ == nullptr || context_->state.shell.closing.load() || !clientMode_) return;
    using Standing = client::EnclosureWatch::Standing;
    const std::string& why = watch_->why();
    switch (watch_->standing()) {
        case Standing::Asking:
            return;
        case Standing::NoService:
        case Standing::Unreadable:
            // The engine in this process ended by itself (its notes said
            // why on standard error); the service went away.
            if (!localEngine()) return onServiceVanished();
            if (engine_->Ended())
                showAccessNotice("The enclosures are no longer watched: " +
                                 QString::fromStdString(why) +
                                 ".\nWhy is on standard error; restart this window.");
            return;
        case Standing::NotServing:
            // Starting, waiting for the lock: the watch tells when it serves.
            if (!localEngine())
                showAccessNotice("The monitor service does not serve the enclosures yet:\nbusy: " +
                                 QString::fromStdString(why));
            return;
        case Standing::Serving:
            break;
    }
    // A copy: drawing may lead to calls that change the watch.
    const std::vector<client::DeviceStatus> devices = watch_->devices();
    showAccessNotice(QString());
    const bool wasEmpty = context_->state.discovery.deviceCount == 0;
    serviceDevices_ = WindowDevices(devices);
    const bool changed = MirrorEnclosures(context_->state, devices, *this, *this);
    if (localEngine()) {
        drawEngineTexts();
        followEnginePolls();
    }
    // Once there are enclosures: an upgrade may be under way in the service.
    if (!jobsChecked_ && context_->state.discovery.deviceCount > 0) requestServiceJobs();
    if (!changed) return;
    if (devices.empty()) Say("the service serves no enclosure");
    for (const auto& device : devices)
        Say("Device" + std::to_string(device.index + 1) + ": " + device.model + " on disk " +
            std::to_string(device.disk) + (device.path.empty() ? "" : " (" + device.path + ")") +
            (localEngine() ? "" : ", through the service"));
    if (context_->state.discovery.deviceCount > 0) {
        smartCountdownTimer_->start();
        if (wasEmpty) readServiceSmart();
    }
}

void MainWindow::drawEngineTexts() {
    const client::PollTexts& texts = watch_->texts();
    for (std::size_t i = 0; i < texts.panels.size(); ++i) {
        const auto bit = static_cast<std::uint8_t>(1U << i);
        // Only what changed: an upgrade in this window writes the panels too.
        const bool drawn = (drawnTexts_.panelsSet & bit) != 0;
        if ((texts.panelsSet & bit) != 0 && (!drawn || texts.panels[i] != drawnTexts_.panels[i]))
            SetStatusPanel(static_cast<int>(i), texts.panels[i]);
    }
    // The engine's, blinking while it detects: the mirror drew the line
    // from the enclosures alone.
    SetDetectionNoticeText(texts.notice);
    SetDetectionNoticeVisible(texts.noticeVisible);
    drawnTexts_ = texts;
}

void MainWindow::followEnginePolls() {
    for (std::size_t i = 0; i < enginePolled_.size(); ++i) {
        const bool listed = i < serviceDevices_.size();
        const bool polled = listed && serviceDevices_[i].polled;
        // The engine gave up on an enclosure that stopped answering: its
        // selector is unticked as the user's click would.
        if (listed && enginePolled_[i] && !polled) statusPage_->uncheckSelector(static_cast<int>(i));
        enginePolled_[i] = polled;
    }
}

void MainWindow::askPolled(int index, bool polled) {
    if (!localEngine()) return;
    const std::string disk = seamDisk(index);
    serviceCalls_->Call<client::Answer>(
        [disk, polled](client::EnclosureAccess& access) { return access.SetPolled(disk, polled); },
        [this, index, polled](client::Answer answer) {
            if (answer.outcome == client::kDone) return;
            tellServiceAnswer(answer, "Message");
            if (polled) statusPage_->uncheckSelector(index);
        });
}

void MainWindow::onServiceVanished() {
    if (!clientMode_ || localEngine()) return;
    // A job followed through the service's list ends unknown with it (a
    // flash this window asked for is told by its own call).
    if (!followedJob_.path.empty()) {
        followedJob_ = {};
        upgradeController_->letGo();
        warnUser(client::kServiceEndedDuringFlash, "Firmware Upgrade");
    }
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
                if (!clientMode_ || localEngine() || takeEnclosuresBack()) reclaimTimer_->stop();
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
    if (reclaimTimer_ != nullptr) reclaimTimer_->stop();
    clientMode_ = false;
    // What the service last served must not be drawn if it comes back.
    serviceDevices_.clear();
    showAccessNotice(QString());
    Say("the monitor service stopped; this window drives the enclosures itself again");
    SetStatusPanel(1, "");
    if (options_.openEngine) {
        openLocalEngine();
        return;
    }
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
    const std::string disk = seamDisk(device);
    serviceCalls_->Call<client::SettingAnswer>(
        [disk, mute](client::EnclosureAccess& access) {
            return access.SetBuzzer(disk, mute, client::CallOptions{});
        },
        [this](client::SettingAnswer answer) {
            tellServiceAnswer(answer, "Buzzer");
            // The box shows the controller's setting again, changed or not:
            // a change comes through the watch.
            RefreshStatusPage(true);
        });
}

void MainWindow::setPeriodThroughService(int device, const client::PeriodRequest& period) {
    const std::string disk = seamDisk(device);
    serviceCalls_->Call<client::SettingAnswer>(
        [disk, period](client::EnclosureAccess& access) {
            return access.SetBackupPeriod(disk, period, client::CallOptions{});
        },
        [this](client::SettingAnswer answer) { setupPage_->onServicePeriodAnswer(answer); });
}

}  // namespace raid::app
