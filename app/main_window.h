#pragma once
// TForm1: the main window. It owns the shell's state (through the shared
// ShellContext), creates and halts the three worker threads, runs the four
// timers, answers device changes and shutdown requests, and navigates the
// six pages. What each page shows belongs to the page's own subsystem.
#include <QPoint>
#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "app/message_sink.h"
#include "app/shell_context.h"
#include "common/text.h"
#include "discovery/discovery_host.h"
#include "mail/mail_event.h"
#include "mail/system_info.h"
#include "monitor/dispatcher.h"
#include "monitor/monitor_host.h"

class QCheckBox;
class QComboBox;
class QDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QStackedWidget;
class QStatusBar;
class QTableWidget;
class QTimer;
#ifndef QT_NO_SESSIONMANAGER
class QSessionManager;
#endif

namespace raid::app {

class PictureButton;
class HandOverGate;
class DriveDetectThread;
class TRaidThread;
class TEmailThread;
class DeviceChangeMonitor;
class StatusPage;

struct FormOptions {
    std::shared_ptr<ShellContext> context;
    // Where message boxes go; null: QMessageBox.
    MessageSink* messages = nullptr;
    // Tests drive the loops' work by hand instead.
    bool startThreads = true;
    // Listen to udev for device changes.
    bool watchDevices = true;
    // Where the host information of the system-information block comes from.
    mail::HostSources hostSources = mail::SystemHostSources();
    // Shows a modal window and returns when it closes; null: QDialog::exec().
    // Tests answer at once instead of blocking.
    std::function<int(QDialog&)> runModal;
    // The date-time format "c" of the event log and the settings lines;
    // null: the user's locale.
    text::DateTimeFormatter timeStamp;
};

// Pages of Notebook1.
enum Page : int {
    kPageStatus = 0,
    kPageSetup = 1,
    kPageUpgrade = 2,
    kPageEmail = 3,
    kPageAbout = 4,
    kPageSmart = 5,
};

class TForm1 : public QWidget, public discovery::DiscoveryHost, public monitor::MonitorHost {
    Q_OBJECT
public:
    explicit TForm1(FormOptions options, QWidget* parent = nullptr);
    ~TForm1() override;

    AppState& State() { return context_->state; }
    ShellContext& Context() { return *context_; }
    std::uint8_t LastPageMask() const { return lastPageMask_; }
    int SelectedUpgradeDevice() const { return selectedUpgradeDevice_; }
    // "RAID GUI " followed by VersionText.
    QString ApplicationTitle() const;
    // The Status page: its refresh and its device choice.
    StatusPage& Status() { return *statusPage_; }
    // The picture of a hidden companion image (Image0_D1_Yellow, ...).
    QPixmap CompanionPicture(const QString& name) const;
    // The system-information block, one entry per line (each starts with a
    // line break).
    const std::vector<std::string>& SystemInfoLines() const { return mail_.systemInfoBlock; }

    // The close sequence; false when the close is refused.
    bool FormClose();
    // The log-off / shutdown query: false (after telling the user) while a
    // firmware upgrade owns a device; otherwise the window closes.
    bool QueryEndSession();
    // A device-change notification.
    void DeviceChangeMessage();
    void StatusBar1DblClick();

    void Timer1Timer();
    void Timer2Timer();
    void Timer3Timer();
    void Timer4Timer();

    // Navigation.
    void ShowPage();
    void LayoutPageButtons(std::uint8_t mask);
    void ApplyProductSkin();
    void Image_StsClick();
    void Image_SetupClick();
    void Image_FWUpgClick();
    void Image_EmailClick();
    void Image_AboutClick();
    void Image_SMARTClick();
    void Image2_D1Click();
    void Image2_D2Click();

    // Opens the event log viewer modally; a second click while it is open
    // does nothing.
    void Image0_LogClick();
    bool ViewerOpen() const { return viewerOpen_; }

    // TRaidThread's dispatcher: serves one queued monitoring request (main
    // thread). Tests call it by hand.
    void RaidThreadDispatch();

    // DiscoveryHost and MonitorHost.
    void SetStatusPanel(int panel, const std::string& text) override;
    void Pump() override;

    // DiscoveryHost.
    void SetDeviceSelector(int index, bool present) override;
    std::string StaticText1Text() const override;
    bool StaticText1Visible() const override;
    void SetStaticText1Text(const std::string& text) override;
    void SetStaticText1Visible(bool visible) override;
    void SetPageImagesEnabled(bool enabled) override;
    void SetUpgradeImageEnabled(bool enabled) override;
    void ShowLogImage() override;
    void RefreshDeviceSummary() override;
    void ShowStatusPage() override;
    void SetStatusTimeReference(TimePoint when) override;
    void EnablePollTimers() override;
    void DisableTimer3() override;
    int CountLogicalDrives() override;
    int CountPhysicalDisks() override;
    TimePoint Now() override;
    void RaiseMailEvent(int kind, int device, int member) override;

    // MonitorHost.
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

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Building (main_window_layout.cpp).
    void BuildWindow();
    void BuildStatusPage(QWidget* page);
    void BuildSetupPage(QWidget* page);
    void BuildUpgradePage(QWidget* page);
    void BuildEmailPage(QWidget* page);
    void BuildAboutPage(QWidget* page);
    void BuildSmartPage(QWidget* page);
    PictureButton* MakePicture(const QString& name, QWidget* parent, const QRect& geometry);
    QLabel* MakeLabel(const QString& name, QWidget* parent, const QRect& geometry,
                      const QString& text = QString());
    void MakeCompanions(const QString& name);
    void WirePressedLook(PictureButton* button, bool keepsPressedBit);

    // Start-up and shut-down (main_window.cpp).
    void FormCreate();
    void StartThreads();
    void HaltThreads();
    void TellUser(const QString& text, const QString& caption);
#ifndef QT_NO_SESSIONMANAGER
    void CommitDataRequest(QSessionManager& manager);
#endif

    bool PageButtonsFree() const;
    void ShowDevicePicture(PictureButton* target, const QString& companion, bool selected);
    std::filesystem::path ProgramFolder() const;

    std::shared_ptr<ShellContext> context_;
    MessageSink* messages_;
    std::unique_ptr<MessageSink> ownMessages_;
    FormOptions options_;

    QObject* handOverReceiver_ = nullptr;
    std::shared_ptr<HandOverGate> gate_;
    std::unique_ptr<DriveDetectThread> detectThread_;
    std::unique_ptr<TRaidThread> raidThread_;
    std::unique_ptr<TEmailThread> emailThread_;
    monitor::MonitorHandlers monitorHandlers_;
    DeviceChangeMonitor* deviceMonitor_ = nullptr;
    bool threadsHalted_ = false;

    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;
    QTimer* Timer3 = nullptr;
    QTimer* Timer4 = nullptr;

    QLabel* Image_Background = nullptr;
    QStackedWidget* Notebook1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    std::array<QLabel*, 5> statusPanels_{};
    // Page buttons in page-set order: Status, Setup, Upgrade, E-mail,
    // SMART, About.
    std::array<PictureButton*, 6> pageButtons_{};
    std::array<QPoint, 6> buttonSlots_{};

    // Status page.
    QLabel* StaticText1 = nullptr;
    QLabel* StaticText10 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    QCheckBox* CheckBox5 = nullptr;
    QFrame* Panel11 = nullptr;
    PictureButton* Image0_D1 = nullptr;
    PictureButton* Image0_D2 = nullptr;
    PictureButton* Image0_Log = nullptr;
    // Setup page.
    QComboBox* ComboBox1 = nullptr;
    QFrame* Panel8 = nullptr;
    QCheckBox* CheckBox_Backup = nullptr;
    bool image1SetPressed_ = false;
    // Upgrade page.
    PictureButton* Image2_D1 = nullptr;
    PictureButton* Image2_D2 = nullptr;
    PictureButton* Image2_Load = nullptr;
    PictureButton* Image2_Upgrade = nullptr;
    QFrame* Panel1 = nullptr;
    // About page.
    QLabel* Label63 = nullptr;
    QLabel* Label65 = nullptr;
    // SMART page.
    PictureButton* Image5_HDD1 = nullptr;
    PictureButton* Image5_HDD2 = nullptr;
    QTableWidget* StringGrid4 = nullptr;

    std::unique_ptr<StatusPage> statusPage_;
    bool viewerOpen_ = false;
    text::DateTimeFormatter timeStamp_;

    int currentPage_ = kPageStatus;
    std::uint8_t lastPageMask_ = 0xFF;
    int selectedUpgradeDevice_ = 0;
    int selectedSmartDisk_ = 0;
    TimePoint statusTimeReference_{};
    mail::MailState mail_;
    // Until the settings store is wired in nothing is suppressed.
    mail::NotificationSettings notificationSettings_;
};

}  // namespace raid::app
