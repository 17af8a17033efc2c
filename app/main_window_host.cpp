// The main window as the host of discovery (what the device-change tick reads
// from and does to the window) and of the status poll (what StatusPoll and ApplyPendingCommand
// read from and do to it).
#include <QCoreApplication>
#include <QLabel>
#include <QTimer>

#include "app/main_window.h"
#include "app/picture_button.h"
#include "app/setup_page.h"
#include "app/status_page.h"
#include "app/upgrade_page.h"
#include "discovery/drive_enum.h"
#include "eventlog/detect_events.h"
#include "service/enclosure_status.h"

namespace raid::app {

void MainWindow::SetStatusPanel(int panel, const std::string& text) {
    if (panel < 0 || panel >= static_cast<int>(statusPanels_.size())) return;
    statusPanels_[static_cast<std::size_t>(panel)]->setText(QString::fromStdString(text));
}

void MainWindow::SetDeviceSelector(int index, bool present) {
    // Both pages' pictures follow the device before the Status page moves
    // the shown device away from one that went.
    upgradePage_->setDeviceShown(index, present);
    statusPage_->setDevicePresent(index, present);
}

std::string MainWindow::DetectionNoticeText() const {
    return statusPage_->detectionNotice().toStdString();
}

bool MainWindow::DetectionNoticeVisible() const { return statusPage_->detectionNoticeVisible(); }

void MainWindow::SetDetectionNoticeText(const std::string& text) {
    statusPage_->setDetectionNotice(QString::fromStdString(text));
}

void MainWindow::SetDetectionNoticeVisible(bool visible) {
    statusPage_->setDetectionNoticeVisible(visible);
}

void MainWindow::SetPageButtonsEnabled(bool enabled) {
    for (PictureButton* button : pageButtons_) button->setEnabled(enabled);
    upgradePage_->setButtonsEnabled(enabled);
}

void MainWindow::SetUpgradeButtonEnabled(bool enabled) { upgradePage_->setUpgradeEnabled(enabled); }

void MainWindow::ShowEventLogButton() { statusPage_->showEventLogButton(); }

void MainWindow::RefreshDeviceSummary() { statusPage_->refreshDeviceLabels(); }

void MainWindow::ShowStatusPage() {
    currentPage_ = kPageStatus;
    showPage();
}

void MainWindow::SetStatusTimeReference(TimePoint when) { statusTimeReference_ = when; }

void MainWindow::EnablePollTimers() {
    pollTimer_->start();
    smartCountdownTimer_->start();
}

void MainWindow::StopSmartCountdown() { smartCountdownTimer_->stop(); }

int MainWindow::CountLogicalDrives() {
    return discovery::ListLogicalDrives(context_->state.discovery, *context_->disks,
                                        context_->channel.pump);
}

int MainWindow::CountPhysicalDisks() { return discovery::CountPhysicalDisks(context_->channel); }

TimePoint MainWindow::Now() { return context_->clock->WallNow(); }

void MainWindow::RaiseMailEvent(int kind, int device, int member) {
    mail::RaiseMailEvent(context_->state, mail_, {mailSettings_.suppressMask},
                         static_cast<std::uint8_t>(kind), static_cast<std::uint8_t>(device),
                         static_cast<std::uint8_t>(member));
}

void MainWindow::Pump() { QCoreApplication::processEvents(); }

bool MainWindow::IsSelectorChecked(int index) const {
    return statusPage_->isSelectorChecked(index);
}

void MainWindow::UncheckSelector(int index) { statusPage_->uncheckSelector(index); }

int MainWindow::SelectedDevice() const { return statusPage_->SelectedDevice(); }

bool MainWindow::DeviceSwitchInProgress() const { return statusPage_->DeviceSwitchInProgress(); }

std::filesystem::path MainWindow::programFolder() const {
    if (!context_->programFolder.empty()) return context_->programFolder;
    return QCoreApplication::applicationDirPath().toStdString();
}

void MainWindow::DetectEvents(std::uint8_t mask) {
    eventlog::EventLogContext ctx{
        context_->state,
        *context_->clock,
        programFolder(),
        applicationTitle().toStdString(),
        timeStamp_,
        [this](int kind, int device, int member) { RaiseMailEvent(kind, device, member); },
        [this](const std::string& message) { SetStatusPanel(4, message); },
    };
    const auto& lines = context_->eventLog.eventLogLines;
    const std::size_t before = lines.size();
    eventlog::DetectEvents(context_->eventLog, ctx, mask);
    // A new day starts the list afresh.
    noticeLines(lines.size() >= before ? before : 0);
}

client::DeviceStatus MainWindow::deviceView(int index) const {
    if (clientMode_ && index >= 0 && static_cast<std::size_t>(index) < serviceDevices_.size())
        return serviceDevices_[static_cast<std::size_t>(index)];
    client::DeviceStatus none;
    none.index = index;
    if (index < 0 || index >= kDeviceTableSize) return none;
    // The pages draw neither the disk's path nor the identity, the only parts
    // that need the disks listed.
    static const std::vector<platform::DiskInfo> kUnlisted;
    return service::DescribeDevice(context_->state, index, kUnlisted);
}

void MainWindow::RefreshStatusPage(bool full) { statusPage_->RefreshStatusPage(full); }

void MainWindow::RefreshSetupPage() { setupPage_->refreshPeriodDisplay(); }

void MainWindow::Message(const std::string& text, const std::string& caption) {
    tellUser(QString::fromStdString(text), QString::fromStdString(caption));
}

std::string MainWindow::TimeStampText(TimePoint when) { return timeStamp_(when); }

void MainWindow::warnUser(const QString& text, const QString& caption) {
    messages_->ShowWarning(this, text, caption);
}

}  // namespace raid::app
