#include "app/upgrade_page.h"

#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <algorithm>

#include "app/layout_parts.h"
#include "app/main_window.h"
#include "app/picture_button.h"
#include "app/upgrade_controller.h"
#include "common/text.h"
#include "skin/skin.h"

namespace raid::app {

UpgradePage::UpgradePage(MainWindow& window, firmware::UpgradeController& controller,
                         QWidget* parent)
    : QWidget(parent), window_(window), state_(window.state()) {
    using firmware::UpgradeController;
    setObjectName("upgradePage");
    buildControls();
    connect(upgradeDevice1Picture_, &PictureButton::clicked, this, [this] { selectDevice(0); });
    connect(upgradeDevice2Picture_, &PictureButton::clicked, this, [this] { selectDevice(1); });
    connect(loadFirmwareButton_, &PictureButton::clicked, this, [this] { window_.loadFirmware(); });
    connect(startUpgradeButton_, &PictureButton::clicked, this, [this] { window_.startUpgrade(); });

    connect(&controller, &UpgradeController::progressStarted, this,
            [this](const QString& label, int maximum) {
                upgradeStateLabel_->setText(label);
                upgradeProgressBar_->setRange(0, maximum);
                upgradeProgressBar_->setValue(0);
            });
    connect(&controller, &UpgradeController::phaseShown, this, [this](const QString& caption) {
        upgradeStepLabel_->setText(caption);
        upgradeStepPanel_->show();
    });
    connect(&controller, &UpgradeController::progressChanged, upgradeProgressBar_,
            &QProgressBar::setValue);
    connect(&controller, &UpgradeController::progressEnded, this,
            [this] { upgradeStepPanel_->hide(); });

    // No phase until an upgrade runs; no device until discovery finds one.
    upgradeStepPanel_->hide();
    upgradeDevice1Picture_->hide();
    upgradeDevice2Picture_->hide();
    showDevicePictures();
}

void UpgradePage::buildControls() {
    upgradeDevice1Picture_ = MakePicture("upgradeDevice1Picture", this,
                                         QRect(14, 10, skin::kDeviceWidth, skin::kDeviceHeight));
    upgradeDevice2Picture_ = MakePicture("upgradeDevice2Picture", this,
                                         QRect(144, 10, skin::kDeviceWidth, skin::kDeviceHeight));
    for (PictureButton* selector : {upgradeDevice1Picture_, upgradeDevice2Picture_})
        selector->setToolTipDuration(6000);
    // The selected device's firmware beside the device pictures.
    Caption(this, "upgradeFirmwareCaption", QRect(284, 40, 60, 18), "Firmware");
    upgradeFirmwareLabel_ = MakeLabel("upgradeFirmwareLabel", this, QRect(340, 40, 104, 18));
    upgradeFirmwareLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // The chosen file's full path.
    firmwareFileLabel_ = MakeLabel("firmwareFileLabel", this, QRect(14, 110, 434, 20));
    firmwareFileLabel_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    firmwareFileLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    upgradeStateLabel_ = MakeLabel("upgradeStateLabel", this, QRect(14, 136, 434, 40));
    upgradeStateLabel_->setWordWrap(true);
    upgradeStateLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    upgradeStateLabel_->setFont(Bold(font(), 11));
    upgradeStepPanel_ = new QFrame(this);
    upgradeStepPanel_->setObjectName("upgradeStepPanel");
    upgradeStepPanel_->setGeometry(14, 180, 434, 60);
    upgradeStepPanel_->setFrameStyle(QFrame::Panel | QFrame::Raised);
    upgradeStepLabel_ = MakeLabel("upgradeStepLabel", upgradeStepPanel_, QRect(2, 2, 430, 56));
    upgradeStepLabel_->setAlignment(Qt::AlignCenter);
    upgradeStepLabel_->setFont(Bold(font(), 14));
    upgradeProgressBar_ = new QProgressBar(this);
    upgradeProgressBar_->setObjectName("upgradeProgressBar");
    upgradeProgressBar_->setGeometry(14, 252, 434, 18);
    upgradeProgressBar_->setRange(0, 100);
    upgradeProgressBar_->setValue(0);
    upgradeProgressBar_->setTextVisible(false);
    loadFirmwareButton_ = MakePicture("loadFirmwareButton", this, Action(100, 300));
    startUpgradeButton_ = MakePicture("startUpgradeButton", this, Action(260, 300));
    WirePressedLook(loadFirmwareButton_);
    WirePressedLook(startUpgradeButton_);
}

void UpgradePage::selectDevice(int index) {
    if (state_.shell.operationDeviceIndex.load() != kNoOperationDevice) return;
    selectedDevice_ = index;
    showDevicePictures();
    state_.discovery.currentDevice = index;
    window_.RefreshDeviceSummary();
    showDeviceFirmware();
}

void UpgradePage::showSelection() {
    state_.discovery.currentDevice = selectedDevice_;
    showDevicePictures();
    showDeviceFirmware();
}

void UpgradePage::showDevicePictures() {
    upgradeDevice1Picture_->setPicture(
        window_.companionPicture(selectedDevice_ == 0 ? "device1Selected" : "device1Unselected"));
    upgradeDevice2Picture_->setPicture(
        window_.companionPicture(selectedDevice_ == 1 ? "device2Selected" : "device2Unselected"));
}

void UpgradePage::showDeviceFirmware() {
    const DiscoveryState& d = state_.discovery;
    const int device = selectedDevice_;
    const int disk = device < std::min(d.deviceCount, kDeviceSlots) ? d.DiskOf(device) : kMaxDisks;
    upgradeFirmwareLabel_->setText(disk < kMaxDisks
                                       ? QString::fromStdString(text::FirmwareText(
                                             d.identifyRecord[static_cast<std::size_t>(disk)]))
                                       : QString());
}

void UpgradePage::setDeviceShown(int index, bool shown) { picture(index)->setVisible(shown); }

void UpgradePage::setDeviceHint(int index, const QString& hint) {
    picture(index)->setToolTip(hint);
}

void UpgradePage::showFirmwareFile(const QString& text) { firmwareFileLabel_->setText(text); }

void UpgradePage::setProgress(int position) { upgradeProgressBar_->setValue(position); }

void UpgradePage::setButtonsEnabled(bool enabled) {
    loadFirmwareButton_->setEnabled(enabled);
    startUpgradeButton_->setEnabled(enabled);
}

void UpgradePage::setUpgradeEnabled(bool enabled) { startUpgradeButton_->setEnabled(enabled); }

}  // namespace raid::app
