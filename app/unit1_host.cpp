// TForm1 as discovery's host: what Timer4 reads from and does to the window.
#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QTimer>

#include "app/picture_button.h"
#include "app/unit1.h"
#include "discovery/drive_enum.h"

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

void TForm1::RefreshDeviceSummary() {
    const DiscoveryState& d = context_->state.discovery;
    if (d.currentDevice >= 0 && d.currentDevice < kDeviceSlots) {
        LayoutPageButtons(d.deviceSlots[static_cast<std::size_t>(d.currentDevice)].featureMask);
    }
    // The device labels, hints and firmware text come with the status page.
}

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

}  // namespace raid::app
