#pragma once
// The main window. It owns the shell's state (through the shared
// ShellContext), creates and halts the three worker threads, runs the four
// timers, answers device changes and shutdown requests, and navigates the
// six pages. Each page is a widget of its own that builds its controls; what
// it shows belongs to the page's own subsystem.
#include <QPoint>
#include <QString>
#include <QWidget>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "app/image_builder_window.h"
#include "app/mail_thread.h"
#include "app/main_window_options.h"
#include "app/message_sink.h"
#include "app/shell_context.h"
#include "client/enclosure_access.h"
#include "common/text.h"
#include "discovery/discovery_host.h"
#include "mail/mail_event.h"
#include "mail/mail_settings.h"
#include "mail/settings_store.h"
#include "monitor/dispatcher.h"
#include "monitor/monitor_host.h"
#include "smart/smart_host.h"

class QLabel;
class QStackedWidget;
class QStatusBar;
class QTimer;
#ifndef QT_NO_SESSIONMANAGER
class QSessionManager;
#endif

namespace raid::firmware {
class UpgradeController;
}  // namespace raid::firmware

namespace raid::smart {
class SmartPage;
struct SmartPageHooks;
}  // namespace raid::smart

namespace raid::mail {
class EmailPage;
class MailSender;
}  // namespace raid::mail

namespace raid::app {

class PictureButton;
class HandOverGate;
class DetectionThread;
class MonitorThread;
class DeviceChangeMonitor;
class StatusPage;
class SetupPage;
class UpgradePage;
class AboutPage;
class ServiceCalls;

// The pages of the page stack, by index.
enum Page : int {
    kPageStatus = 0,
    kPageSetup = 1,
    kPageUpgrade = 2,
    kPageEmail = 3,
    kPageAbout = 4,
    kPageSmart = 5,
};

class MainWindow : public QWidget,
                   public discovery::DiscoveryHost,
                   public monitor::MonitorHost,
                   public smart::SmartHost {
    Q_OBJECT
public:
    explicit MainWindow(MainWindowOptions options, QWidget* parent = nullptr);
    ~MainWindow() override;

    AppState& state() { return context_->state; }
    ShellContext& context() { return *context_; }
    std::uint8_t lastPageMask() const { return lastPageMask_; }
    // "RAID GUI " followed by VersionText.
    QString applicationTitle() const;
    // The Status page: its refresh and its device choice.
    StatusPage& statusPage() { return *statusPage_; }
    // The Setup page: the schedule-backup period.
    SetupPage& setupPage() { return *setupPage_; }
    // The Upgrade page: the device to upgrade and the upgrade's display.
    UpgradePage& upgradePage() { return *upgradePage_; }
    // The picture of a hidden companion image of the window's frame
    // ("device1Selected", "statusPageButtonSelected", ...).
    QPixmap companionPicture(const QString& name) const;
    // The system-information block, one entry per line (each starts with a
    // line break).
    const std::vector<std::string>& systemInfoLines() const { return mail_.systemInfoBlock; }

    // The close sequence; false when the close is refused. A client's
    // upgrade, the service's job, goes on: the window says so and closes.
    bool prepareToClose();
    // The log-off / shutdown query: false (after telling the user) while a
    // firmware upgrade owns a device in this process; otherwise the window
    // closes.
    bool queryEndSession();
    // SIGTERM, SIGINT or SIGHUP: the window closes; while a firmware upgrade
    // runs in this process it closes when the upgrade has ended (said on
    // standard error, where the upgrade's last message goes too), and
    // another signal meanwhile does not hurry it.
    void onTerminationSignal(int signal);
    // A device-change notification.
    void onDeviceChangeMessage();
    // The status bar's double-click: the system-information box.
    void showSystemInformation();

    // The 1 s firmware-upgrade progress tick.
    void onProgressTick();
    // The 5 s status-poll tick.
    void onPollTick();
    // The 1 s tick of the wall clock and the SMART refresh countdown.
    void onSmartCountdownTick();
    // The 500 ms device-change debounce tick.
    void onDeviceChangeTick();

    // Navigation.
    void showPage();
    void layoutPageButtons(std::uint8_t mask);
    void applyProductSkin();
    // The page buttons: each switches to its page unless a firmware upgrade
    // holds a device or the first status is still to come.
    void openStatusPage();
    void openSetupPage();
    void openUpgradePage();
    void openEmailPage();
    void openAboutPage();
    void openSmartPage();
    // The upgrade page's device pictures: device `index` (0 or 1) becomes the
    // one to upgrade, unless an upgrade is under way.
    void selectUpgradeDevice(int index);
    int selectedUpgradeDevice() const;

    // The upgrade page's buttons: load a firmware file, and rewrite the
    // selected device's flash with it. Both do nothing while a firmware
    // upgrade holds a device.
    void loadFirmware();
    void startUpgrade();
    // The upgrade run from this window.
    firmware::UpgradeController& upgradeController() { return *upgradeController_; }
    // Ctrl+Shift+B: the "Make Bin" window, made at start-up, shown.
    void openImageBuilder();
    tools::ImageBuilderWindow& imageBuilder() { return *imageBuilder_; }

    // The event log button: opens the event log viewer modally; a second
    // click while it is open does nothing.
    void openEventLog();
    bool viewerOpen() const { return viewerOpen_; }

    // The monitoring thread's dispatcher: serves one queued monitoring request (main
    // thread). Tests call it by hand.
    void serveMonitorRequest();

    // The e-mail page, and the settings it edits (main_window_mail.cpp).
    mail::EmailPage& emailPage() { return *emailPage_; }
    mail::MailSettingsState& mailSettings() { return mailSettings_; }
    // The mail thread's pass on the main thread: reloads the settings and
    // composes the next waiting notification, which the mail thread then sends.
    // Tests call it by hand.
    std::optional<mail::MailJob> runMailPass();
    // What the mail thread hands to this window (tests run MailThread::Pass
    // with it on a thread of their own).
    MailThread::MainThreadWork mailThreadWork();

    // The decoded view of device `index` that the Status and Setup pages
    // draw: as a client, the one the service sent last; in this process, built
    // from the records at each call, so a page draws what the last poll read.
    client::DeviceStatus deviceView(int index) const;

    // Client mode (main_window_client.cpp): the enclosures are reached
    // through the seam, the service's or the engine's in this process.
    bool clientMode() const { return clientMode_; }
    // The engine this window reaches the enclosures through runs in this
    // process: what it does ends with the window.
    bool localEngine() const { return engine_ != nullptr; }
    // What the window says when it reaches no enclosure, and what to do;
    // empty when it reaches them.
    QString accessNotice() const;
    // A click on selector `index`: the engine in this process polls that
    // enclosure or stops (the service chooses for itself).
    void askPolled(int index, bool polled);
    // The buzzer box and the Setup page's Set button, through the service.
    void setBuzzerThroughService(int device, bool mute);
    void setPeriodThroughService(int device, const client::PeriodRequest& period);
    // The Upgrade page's buttons, through the service: the file read here
    // and checked by the service, and the flash as the service's job.
    void loadFirmwareThroughService(const QString& path);
    void startUpgradeThroughService();

    // DiscoveryHost and MonitorHost.
    void SetStatusPanel(int panel, const std::string& text) override;
    void Pump() override;

    // DiscoveryHost.
    void SetDeviceSelector(int index, bool present) override;
    std::string DetectionNoticeText() const override;
    bool DetectionNoticeVisible() const override;
    void SetDetectionNoticeText(const std::string& text) override;
    void SetDetectionNoticeVisible(bool visible) override;
    void SetPageButtonsEnabled(bool enabled) override;
    void SetUpgradeButtonEnabled(bool enabled) override;
    void ShowEventLogButton() override;
    void RefreshDeviceSummary() override;
    void ShowStatusPage() override;
    void SetStatusTimeReference(TimePoint when) override;
    void EnablePollTimers() override;
    void StopSmartCountdown() override;
    int CountLogicalDrives() override;
    int CountPhysicalDisks() override;
    TimePoint Now() override;
    void RaiseMailEvent(int kind, int device, int member) override;

    // MonitorHost (and SmartHost: the selectors, the shown device and the
    // device switch).
    bool IsSelectorChecked(int index) const override;
    void UncheckSelector(int index) override;
    int CurrentPage() const override { return currentPage_; }
    int SelectedDevice() const override;
    bool DeviceSwitchInProgress() const override;
    void DetectEvents(std::uint8_t mask) override;
    void RefreshStatusPage(bool full) override;
    void RefreshSetupPage() override;
    void Message(const std::string& text, const std::string& caption) override;
    std::string TimeStampText(TimePoint when) override;
    // A modal message box with the exclamation icon and an OK button.
    void warnUser(const QString& text, const QString& caption);

    // SmartHost (main_window_smart.cpp).
    bool SmartPageShown() const override;
    void ShowSmartPage() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Building (main_window_layout.cpp): the frame, and the pages in place
    // of the stack's empty ones.
    void buildWindow();
    void buildEmailPage(QWidget* page);
    void buildSmartPage(QWidget* page);

    // Client mode (main_window_client.cpp).
    void watchService();
    void startClientMode();
    // Makes the engine in this process and reaches the enclosures through it.
    void openLocalEngine();
    // What the window draws comes from `watch` from now on (null: nothing).
    void followWatch(client::EnclosureWatch* watch);
    // The engine in this process: its status-bar panels and detection line,
    // and the selectors it stopped polling.
    void drawEngineTexts();
    void followEnginePolls();
    void goBackInProcess();
    bool takeEnclosuresBack();
    // Working in this process, the service appeared: the workers stop, the
    // machine lock goes, and the window goes on as the service's client.
    void handOverToService();
    void onHandOverTick();
    // Draws what the watch holds: the enclosures, or why there are none.
    void showWatch();
    void onServiceEventLine(const QString& line);
    void onServiceVanished();
    void readServiceSmart();
    // The day's lines the service logged before this window came.
    void readServiceDayLines();
    // A call whose answer the caller needs now: the window's events run
    // meanwhile.
    template <typename Answer>
    Answer awaitService(std::function<Answer(client::EnclosureAccess&)> call);
    std::optional<QString> chooseServiceDayFile(QWidget* parent, std::vector<std::string>& lines,
                                                std::string& error);
    void showAccessNotice(const QString& text);
    // New event-log lines: a lost member or enclosure becomes a desktop
    // notice.
    void noticeLines(std::size_t from);
    // A refusal or failure the service sent, as a message box.
    void tellServiceAnswer(const client::Answer& answer, const QString& caption);
    // The DISK the seam knows device `device` by: its physical disk number
    // ("-1", which the engine refuses, for a device the table does not hold).
    std::string seamDisk(int device) const;
    // The E-mail page's settings are the service's: read when the page
    // opens and after a save, stored and tested through it
    // (main_window_service_mail.cpp).
    void readServiceMailSettings();
    void storeMailSettingsThroughService(client::MailSettingsChanges changes);
    void sendTestMailThroughService();
    // Saved by the page in this process: the engine here reads the file again.
    void tellEngineMailStored();
    // The service's firmware jobs: one found running is followed on the
    // Upgrade page, and the end of one this window left is told once.
    void onServiceFlashEnded(const client::FlashAnswer& answer);
    void requestServiceJobs();
    void onServiceJobs(const client::JobsAnswer& answer);
    void followServiceJob(const client::JobRecord& job);
    void tellServiceJobEnd(const client::JobRecord& job);
    // Closing while the service upgrades: the upgrade goes on, and the
    // window says so once.
    void leaveServiceUpgrade();

    // Start-up and shut-down (main_window.cpp).
    void startUp();
    // The flags that make the detection thread's first discovery run.
    void armFirstDiscovery();
    void startThreads();
    void haltThreads();
    void tellUser(const QString& text, const QString& caption);
#ifndef QT_NO_SESSIONMANAGER
    void commitDataRequest(QSessionManager& manager);
#endif

    // The SMART page (main_window_smart.cpp): the dispatcher's reads, the
    // page's view of the status page, and the countdown line's double-click.
    void readSmart(std::uint8_t feature);
    smart::SmartPageHooks smartPageHooks();
    void saveSmartDumps();

    // E-mail (main_window_mail.cpp): the settings check at start-up, the
    // page's hooks and the end of a test mail.
    void checkMailSettings();
    void onTestMailFinished(bool sent, const QString& error, bool testMail,
                            const QStringList& notes);
    // What a send that went out tells besides its success (SendNotes): on
    // standard error and the last-result line.
    void tellSendNotes(const std::vector<std::string>& notes);
    // The upgrade (main_window_upgrade.cpp).
    void wireUpgradePage();
    void showFirmwareMessage(const QString& text, const QString& caption, int icon);

    bool pageButtonsFree() const;
    std::filesystem::path programFolder() const;

    std::shared_ptr<ShellContext> context_;
    MessageSink* messages_;
    std::unique_ptr<MessageSink> ownMessages_;
    MainWindowOptions options_;

    QObject* handOverReceiver_ = nullptr;
    std::shared_ptr<HandOverGate> gate_;
    std::unique_ptr<DetectionThread> detectionThread_;
    std::unique_ptr<MonitorThread> monitorThread_;
    std::unique_ptr<MailThread> mailThread_;
    monitor::MonitorHandlers monitorHandlers_;
    DeviceChangeMonitor* deviceMonitor_ = nullptr;
    bool threadsHalted_ = false;
    ServiceCalls* serviceCalls_ = nullptr;
    bool clientMode_ = false;
    // The engine in this process, when the window reaches the enclosures
    // through it; and the watch the window draws from (the engine's or the
    // bus's).
    std::unique_ptr<service::InProcessEngine> engine_;
    client::EnclosureWatch* watch_ = nullptr;
    QMetaObject::Connection watchChanged_, watchLine_, watchNotice_;
    client::PollTexts drawnTexts_;
    std::array<bool, 2> enginePolled_{};
    QTimer* reclaimTimer_ = nullptr;   // root's client retries the machine lock
    QTimer* handOverTimer_ = nullptr;  // while the workers wind down
    bool mailSettingsAsked_ = false;   // a read or a save of the e-mail settings is under way
    bool testMailAsked_ = false;       // a test mail is under way
    // The enclosures of the service's last status answer, in the window's
    // device order.
    std::vector<client::DeviceStatus> serviceDevices_;
    // The flash call blocks for the whole upgrade: it has a thread of its
    // own, so that the status calls are not held behind it.
    ServiceCalls* flashCalls_ = nullptr;
    // Set when the window closes: the flash call stops following its job.
    std::shared_ptr<std::atomic<bool>> flashLeft_ = std::make_shared<std::atomic<bool>>(false);
    int loadsAsked_ = 0;             // the last load's number: earlier answers are stale
    bool jobsChecked_ = false;       // the jobs were looked at since the window opened
    bool jobsAsked_ = false;         // a jobs call is under way
    client::JobRecord followedJob_;  // path empty: none followed
    bool upgradeLeftTold_ = false;

    QTimer* progressTimer_ = nullptr;
    QTimer* pollTimer_ = nullptr;
    QTimer* smartCountdownTimer_ = nullptr;
    QTimer* deviceChangeTimer_ = nullptr;

    QLabel* background_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QStatusBar* statusBar_ = nullptr;
    std::array<QLabel*, 5> statusPanels_{};
    // Page buttons in page-set order: Status, Setup, Upgrade, E-mail,
    // SMART, About.
    std::array<PictureButton*, 6> pageButtons_{};
    std::array<QPoint, 6> buttonSlots_{};

    // The pages, owned by the page stack.
    StatusPage* statusPage_ = nullptr;
    SetupPage* setupPage_ = nullptr;
    UpgradePage* upgradePage_ = nullptr;
    AboutPage* aboutPage_ = nullptr;
    smart::SmartPage* smartPage_ = nullptr;
    mail::EmailPage* emailPage_ = nullptr;

    // The upgrade run from this window; the Upgrade page shows it.
    std::unique_ptr<firmware::UpgradeController> upgradeController_;
    // A termination signal came during an upgrade: close when it ends.
    bool closeAfterUpgrade_ = false;
    // Closing on a signal or at the end of the session: nobody may be there
    // to dismiss a box, so what the window says goes to standard error only.
    bool closingUnattended_ = false;
    // What the "Make Bin" window builds, before the page checks it.
    firmware::FirmwareImage builtImage_;
    tools::ImageBuilderWindow* imageBuilder_ = nullptr;

    bool viewerOpen_ = false;
    text::DateTimeFormatter timeStamp_;

    int currentPage_ = kPageStatus;
    std::uint8_t lastPageMask_ = 0xFF;
    TimePoint statusTimeReference_{};
    mail::MailState mail_;
    // The e-mail settings: the file, and what the last load read from it.
    std::unique_ptr<mail::SettingsStore> settingsStore_;
    mail::MailSettingsState mailSettings_;
    mail::MailSender* mailSender_ = nullptr;
};

}  // namespace raid::app
