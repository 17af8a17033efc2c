// TForm1 as the host of discovery (what Timer4 reads from and does to the
// window) and of the status poll (what StatusPoll and ApplyPendingCommand
// read from and do to it).
#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QTimer>

#include "app/main_window.h"
#include "app/picture_button.h"
#include "app/status_page.h"
#include "discovery/drive_enum.h"
#include "eventlog/detect_events.h"

namespace raid::app {

void TForm1::SetStatusPanel(int panel, const std::string& text) {
    if (panel < 0 || panel >= static_cast<int>(statusPanels_.size())) return;
    statusPanels_[static_cast<std::size_t>(panel)]->setText(QString::fromStdString(text));
}

void TForm1::SetDeviceSelector(int index, bool present) {
    QCheckBox* box = index == 0 ? CheckBox1 : CheckBox3;
    PictureButton* status = index == 0 ? Image0_D1 : Image0_D2;
    PictureButton* upgrade = index == 0 ? Image2_D1 : Image2_D2;
    box->setVisible(present);
    box->setChecked(present);
    status->setVisible(present);
    upgrade->setVisible(present);
}

std::string TForm1::StaticText1Text() const { return StaticText1->text().toStdString(); }

// Whether the line is shown on its page, whichever page is current.
bool TForm1::StaticText1Visible() const { return !StaticText1->isHidden(); }

void TForm1::SetStaticText1Text(const std::string& text) {
    StaticText1->setText(QString::fromStdString(text));
}

void TForm1::SetStaticText1Visible(bool visible) { StaticText1->setVisible(visible); }

void TForm1::SetPageImagesEnabled(bool enabled) {
    for (PictureButton* button : pageButtons_) button->setEnabled(enabled);
    Image2_Load->setEnabled(enabled);
    Image2_Upgrade->setEnabled(enabled);
}

void TForm1::SetUpgradeImageEnabled(bool enabled) { Image2_Upgrade->setEnabled(enabled); }

void TForm1::ShowLogImage() { Image0_Log->show(); }

void TForm1::RefreshDeviceSummary() { statusPage_->RefreshDeviceLabels(); }

void TForm1::ShowStatusPage() {
    currentPage_ = kPageStatus;
    ShowPage();
}

void TForm1::SetStatusTimeReference(TimePoint when) { statusTimeReference_ = when; }

void TForm1::EnablePollTimers() {
    Timer2->start();
    Timer3->start();
}

void TForm1::DisableTimer3() { Timer3->stop(); }

int TForm1::CountLogicalDrives() {
    return discovery::ListLogicalDrives(context_->state.discovery, *context_->disks,
                                        context_->channel.pump);
}

int TForm1::CountPhysicalDisks() { return discovery::CountPhysicalDisks(context_->channel); }

TimePoint TForm1::Now() { return context_->clock->WallNow(); }

void TForm1::RaiseMailEvent(int kind, int device, int member) {
    mail::RaiseMailEvent(context_->state, mail_, notificationSettings_,
                         static_cast<std::uint8_t>(kind), static_cast<std::uint8_t>(device),
                         static_cast<std::uint8_t>(member));
}

void TForm1::Pump() { QCoreApplication::processEvents(); }

bool TForm1::IsSelectorChecked(int index) const {
    if (index == 0) return CheckBox1->isChecked();
    if (index == 1) return CheckBox3->isChecked();
    return false;
}

void TForm1::UncheckSelector(int index) {
    // Only the tick goes: the pictures and the shown device stay until the
    // user clicks a selector.
    if (index == 0) CheckBox1->setChecked(false);
    if (index == 1) CheckBox3->setChecked(false);
}

int TForm1::SelectedDevice() const { return statusPage_->SelectedDevice(); }

bool TForm1::DeviceSwitchInProgress() const { return statusPage_->DeviceSwitchInProgress(); }

std::filesystem::path TForm1::ProgramFolder() const {
    if (!context_->programFolder.empty()) return context_->programFolder;
    return QCoreApplication::applicationDirPath().toStdString();
}

void TForm1::DetectEvents(std::uint8_t mask) {
    eventlog::EventLogContext ctx{
        context_->state,
        *context_->clock,
        ProgramFolder(),
        ApplicationTitle().toStdString(),
        timeStamp_,
        [this](int kind, int device, int member) { RaiseMailEvent(kind, device, member); },
        [this](const std::string& message) { SetStatusPanel(4, message); },
    };
    eventlog::DetectEvents(context_->eventLog, ctx, mask);
}

void TForm1::RefreshStatusPage(bool full) { statusPage_->RefreshStatusPage(full); }

void TForm1::RefreshSetupPage() {
    // The schedule-backup display comes with the schedule-backup page.
}

void TForm1::Message(const std::string& text, const std::string& caption) {
    TellUser(QString::fromStdString(text), QString::fromStdString(caption));
}

std::string TForm1::TimeStampText(TimePoint when) { return timeStamp_(when); }

}  // namespace raid::app
