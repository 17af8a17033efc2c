// The main window: creation, close, the shutdown query, device changes, the worker
// threads and the four timers.
#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QStackedWidget>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#ifndef QT_NO_SESSIONMANAGER
#include <QSessionManager>
#endif

#include "app/about_page.h"
#include "app/detection_thread.h"
#include "app/device_change_monitor.h"
#include "app/event_log_viewer.h"
#include "app/hand_over.h"
#include "app/mail_thread.h"
#include "app/monitor_thread.h"
#include "app/smart_page.h"
#include "app/upgrade_controller.h"
#include "common/version.h"
#include "discovery/device_change_debounce.h"
#include "discovery/drive_enum.h"
#include "monitor/pending_command.h"
#include "monitor/poll_timer.h"
#include "monitor/status_poll.h"
#include "service/engine_access.h"
#include "skin/skin.h"
#include "smart/countdown.h"

namespace raid::app {
namespace {

const char* const kUpgradingText = "Firmware is upgrading, please wait a moment.";

// How long the close may wait for a worker's pending hand-over, and at exit
// for a worker to leave its loop (its longest sleep is 200 ms).
constexpr std::chrono::milliseconds kHandOverDrainLimit{2000};
constexpr std::chrono::milliseconds kThreadEndLimit{1000};

}  // namespace

MainWindow::MainWindow(MainWindowOptions options, QWidget* parent)
    : QWidget(parent),
      context_(std::move(options.context)),
      messages_(options.messages),
      options_(options),
      timeStamp_(options.timeStamp ? options.timeStamp : text::LocaleDateTimeFormatter()) {
    if (messages_ == nullptr) {
        ownMessages_ = std::make_unique<MessageBoxSink>();
        messages_ = ownMessages_.get();
    }
    // The receiver of the workers' hand-overs lives apart from the window so
    // that it can be kept alive if a worker is still inside a hand-over when
    // the window goes (see the destructor).
    handOverReceiver_ = new QObject();
    handOverReceiver_->setObjectName("handOverReceiver");
    gate_ = std::make_shared<HandOverGate>(handOverReceiver_);

    // Device work between single-sector transfers lets the window breathe,
    // but only on the main thread: discovery's transfers run on its own.
    const std::thread::id mainThread = std::this_thread::get_id();
    context_->channel.pump = [mainThread] {
        if (std::this_thread::get_id() == mainThread) QCoreApplication::processEvents();
    };
    // The pauses between commands let it breathe too (see PumpingClock).
    context_->windowPump = [] { QCoreApplication::processEvents(); };
    // An exception that device I/O turned into a failed transfer is shown,
    // not dropped.
    context_->channel.onException = [this](const std::string& what) {
        std::fprintf(stderr, "raidgui: disk I/O error: %s\n", what.c_str());
        SetStatusPanel(4, "Disk I/O error: " + what);
    };

    // What the monitoring thread hands over; every handler runs on this thread.
    monitorHandlers_.StatusPoll = [this] {
        monitor::StatusPoll(context_->state, context_->channel, context_->windowClock, *this);
    };
    monitorHandlers_.ApplyPendingCommand = [this] {
        return monitor::ApplyPendingCommand(context_->state, context_->channel,
                                            context_->windowClock, *this);
    };
    monitorHandlers_.SmartThresholds = [this] { readSmart(smart::kFeatureReadThresholds); };
    monitorHandlers_.SmartData = [this] { readSmart(smart::kFeatureReadData); };

    const struct {
        QTimer** timer;
        const char* name;
        int interval;
        void (MainWindow::*handler)();
    } timers[4] = {
        {&progressTimer_, "progressTimer", 1000, &MainWindow::onProgressTick},
        {&pollTimer_, "pollTimer", 5000, &MainWindow::onPollTick},
        {&smartCountdownTimer_, "smartCountdownTimer", 1000, &MainWindow::onSmartCountdownTick},
        {&deviceChangeTimer_, "deviceChangeTimer", discovery::kDeviceChangeTickMs,
         &MainWindow::onDeviceChangeTick}};
    for (const auto& t : timers) {
        *t.timer = new QTimer(this);
        (*t.timer)->setObjectName(t.name);
        (*t.timer)->setInterval(t.interval);
        connect(*t.timer, &QTimer::timeout, this, t.handler);
    }

    settingsStore_ = std::make_unique<mail::SettingsStore>(options_.settingsFile);
    buildWindow();
    wireUpgradePage();
    startUp();

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
#ifndef QT_NO_SESSIONMANAGER
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::commitDataRequest, this, &MainWindow::commitDataRequest);
    }
#endif
}

MainWindow::~MainWindow() {
    // A flash call under way stops following its job, which goes on.
    flashLeft_->store(true);
    haltThreads();
    if (detectionThread_) detectionThread_->Finish(kThreadEndLimit);
    if (monitorThread_) monitorThread_->Finish(kThreadEndLimit);
    if (mailThread_) mailThread_->Finish(kThreadEndLimit);
    // A thread that did not end in time was let go. The detection thread may
    // still be inside a discovery: it holds the ShellContext and the gate by
    // shared pointer, and the closed gate keeps it from reaching the window.
    // Only if a worker were still inside a hand-over would the receiver be
    // needed; then it is left alive on purpose.
    if (gate_->Close(kHandOverDrainLimit)) delete handOverReceiver_;
}

// The start-up sequence, in its order.
void MainWindow::startUp() {
    AppState& state = context_->state;
    ShellFlags& shell = state.shell;
    DiscoveryState& d = state.discovery;
    platform::Clock& clock = *context_->clock;

    // 1. Window and application icon.
    const QPixmap icon = skin::Picture("productLogo");
    if (!icon.isNull()) {
        setWindowIcon(icon);
        QApplication::setWindowIcon(icon);
    }
    // (COM initialisation and security have no counterpart here: the host
    // information comes from sysfs and getifaddrs.)

    // A client of the service opens no disk: the service tells of changes;
    // the engine in this process, when there is no service, is reached as it is.
    const bool local = options_.service == nullptr && static_cast<bool>(options_.openEngine);
    const bool client = options_.service != nullptr || local;

    // 2. Device-change notifications for the whole run.
    if (options_.watchDevices && !client) {
        deviceMonitor_ = new DeviceChangeMonitor(this);
        connect(deviceMonitor_, &DeviceChangeMonitor::deviceChanged, this,
                &MainWindow::onDeviceChangeMessage);
    }

    // 3. Device bookkeeping.
    shell.deviceChangeCountdown = 0;
    shell.exclusiveOperation = false;
    d.currentDevice = 0;
    shell.operationDeviceIndex = kNoOperationDevice;
    d.deviceCount = 0;
    d.newDeviceCount = 0;

    // 4.
    SetDetectionNoticeText("Drive detecting");

    // 5. The VendorRequest is part of the command channel, made with the
    // ShellContext.

    // 6. Baselines for change detection.
    if (!client) discovery::TakeDriveBaselines(d, context_->channel);

    // 7. Flags.
    armFirstDiscovery();

    // Per-device bookkeeping starts empty before the first discovery fills
    // it: cleared after the workers start, it would race with that discovery
    // and could wipe what it found.
    d.deviceSlots = {};

    // 8. The workers start at once; the first discovery runs while the rest
    // of the start-up goes on.
    if (options_.startThreads && !client) startThreads();

    // 9.
    shell.startTime = clock.WallNow();
    smartCountdownTimer_->stop();
    if (!client) deviceChangeTimer_->start();

    // 10. (The Setup page fills its period lists itself.)

    // 11. The pages start with their panels hidden.
    progressTimer_->stop();
    pollTimer_->stop();
    std::srand(static_cast<unsigned>(clock.WallNow().time_since_epoch().count()));

    // 12. Pages: the page buttons wait for a device; texts start empty.
    for (const char* name : {"backgroundRaid", "backgroundHybrid"}) {
        findChild<QLabel*>(name)->hide();
    }
    SetPageButtonsEnabled(false);
    // (The pages' value labels start empty, and the device selectors
    // hidden; the SMART page sets its grid headings itself.)

    // 13. Version, title and skin; per-device bookkeeping.
    shell.versionText = kVersionText;
    applyProductSkin();
    aboutPage_->setVersionText(QString::fromStdString(shell.versionText));

    // 14. The host information block. (The event-log and settings lists
    // belong to their subsystems' state.)
    mail_.systemInfoBlock = mail::BuildSystemInfoBlock(options_.hostSources);

    // 15. The e-mail settings: back-filled, and loaded by the mail thread.
    // A client's are the service's.
    if (!client || local) checkMailSettings();
    // With the engine here no mail thread loads them for the E-mail page.
    if (local) runMailPass();

    // 16. Status page with device 1 and disk 1 selected (the Status and
    // Upgrade pages start with device 1).
    currentPage_ = kPageStatus;
    context_->smart.selectedDisk = 0;
    showPage();
    // The service, started while this window has the enclosures, waits for
    // them: they are handed over; and back, if it stops, where root may.
    watchService();
    if (local) {
        openLocalEngine();
    } else if (client) {
        followWatch(options_.watch);
        startClientMode();
    }
}

void MainWindow::armFirstDiscovery() {
    AppState& state = context_->state;
    ShellFlags& shell = state.shell;
    shell.detectDone = false;
    shell.detectBusy = true;
    shell.detectRequest = true;
    shell.closing = false;
    shell.detecting = true;
    shell.pollRequestFlags = 0;
    state.monitor.settingQueue.clear();
    shell.mailRequestFlags = 0;
    shell.smartCountdown = 60;
}

void MainWindow::startThreads() {
    // The discovery thread's notices reach the window only through the gate,
    // which is shut before the window goes.
    discovery::Notices notices;
    notices.message = [gate = gate_, this](const std::string& text, const std::string& caption) {
        gate->Run([&] { tellUser(QString::fromStdString(text), QString::fromStdString(caption)); });
    };
    notices.statusText = [gate = gate_, this](const std::string& text) {
        gate->Run([&] { SetStatusPanel(4, text); });
    };
    context_->detectionChannel.onException = [statusText =
                                                  notices.statusText](const std::string& what) {
        std::fprintf(stderr, "raidgui: disk I/O error: %s\n", what.c_str());
        statusText("Disk I/O error: " + what);
    };
    detectionThread_ = std::make_unique<DetectionThread>(context_, notices);

    monitorThread_ =
        std::make_unique<MonitorThread>(context_, gate_, [this] { serveMonitorRequest(); });
    mailThread_ = std::make_unique<MailThread>(context_, gate_, mailThreadWork(), options_.smtp);
    detectionThread_->Start();
    monitorThread_->Start();
    mailThread_->Start();
}

void MainWindow::haltThreads() {
    if (threadsHalted_) return;
    threadsHalted_ = true;
    // Workers are never waited for here: one may be blocked in a hand-over
    // that only this thread can serve. They stop at their next check, and
    // the gate turns any hand-over already posted into a no-op.
    if (detectionThread_) detectionThread_->Halt();
    if (monitorThread_) monitorThread_->Halt();
    if (mailThread_) mailThread_->Halt();
    gate_->Close(kHandOverDrainLimit);
}

void MainWindow::tellUser(const QString& text, const QString& caption) {
    messages_->Show(this, text, caption);
}

bool MainWindow::prepareToClose() {
    ShellFlags& shell = context_->state.shell;
    if (shell.exclusiveOperation.load()) {
        // A client's upgrade is the service's job: the window may go.
        if (!clientMode() || localEngine()) {
            tellUser(kUpgradingText, "Message");
            return false;
        }
        leaveServiceUpgrade();
    }
    shell.closing = true;
    shell.pollRequestFlags = 0;
    // The firmware image and the log and settings lists belong to their
    // subsystems' state, which lives as long as the ShellContext.
    progressTimer_->stop();
    pollTimer_->stop();
    smartCountdownTimer_->stop();
    deviceChangeTimer_->stop();
    haltThreads();
    // Not waited for: the window's destructor joins it, stopped by then.
    if (engine_) engine_->Stop();
    return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!prepareToClose()) {
        event->ignore();
        return;
    }
    event->accept();
}

bool MainWindow::queryEndSession() {
    if (context_->state.shell.exclusiveOperation.load() && (!clientMode() || localEngine())) {
        tellUser(kUpgradingText, "Message");
        return false;
    }
    closingUnattended_ = true;
    close();
    return true;
}

void MainWindow::onTerminationSignal(int signal) {
    if (!context_->state.shell.exclusiveOperation.load() || (clientMode() && !localEngine())) {
        closingUnattended_ = true;
        close();
        return;
    }
    const char* name = signal == SIGINT ? "SIGINT" : signal == SIGHUP ? "SIGHUP" : "SIGTERM";
    std::cerr << "raidgui: " << name
              << ": a firmware upgrade is under way; stopping it would leave the flash in an "
                 "unknown state, so the window closes when it has ended\n";
    closeAfterUpgrade_ = true;
}

#ifndef QT_NO_SESSIONMANAGER
void MainWindow::commitDataRequest(QSessionManager& manager) {
    if (!queryEndSession()) manager.cancel();
}
#endif

void MainWindow::onDeviceChangeMessage() { discovery::OnDeviceChangeMessage(context_->state); }

void MainWindow::showSystemInformation() {
    QString text;
    for (const std::string& line : mail_.systemInfoBlock) text += QString::fromStdString(line);
    tellUser(text, "System Information");
}

void MainWindow::onPollTick() { monitor::OnPollTick(context_->state); }

void MainWindow::serveMonitorRequest() {
    if (context_->state.shell.closing.load()) return;
    monitor::DispatchOnce(context_->state, monitorHandlers_);
}

void MainWindow::openEventLog() {
    if (viewerOpen_) return;
    viewerOpen_ = true;
    {
        // Polls go on while the viewer is open: the worker's hand-overs run
        // inside its modal loop.
        EventLogViewer viewer(context_->eventLog.eventLogLines, context_->state, this);
        viewer.setMessageSink(messages_);
        // The engine in this process writes its day files where the viewer
        // opens them.
        if (clientMode() && !localEngine())
            viewer.setDayFileSource(
                [this](QWidget* parent, std::vector<std::string>& lines, std::string& error) {
                    return chooseServiceDayFile(parent, lines, error);
                });
        if (options_.runModal) {
            options_.runModal(viewer);
        } else {
            viewer.exec();
        }
    }
    viewerOpen_ = false;
}

void MainWindow::onSmartCountdownTick() {
    context_->state.shell.nowTime = context_->clock->WallNow();
    ShellFlags& shell = context_->state.shell;
    const auto text =
        smart::StepSmartCountdown(shell, SmartPageShown(), context_->smart.thresholdsRead);
    if (text) smartPage_->setCountdownText(*text);
    // A client asks the service, which reads SMART on its own schedule.
    constexpr std::uint8_t kSmartReads = poll::kSmartData | poll::kSmartThresholds;
    if (clientMode() && (shell.pollRequestFlags.fetch_and(static_cast<std::uint8_t>(~kSmartReads)) &
                         kSmartReads) != 0)
        readServiceSmart();
}

void MainWindow::onDeviceChangeTick() { discovery::OnDeviceChangeTick(context_->state, *this); }

}  // namespace raid::app
