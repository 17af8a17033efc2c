// The main window's Upgrade page: its controls, loading a firmware file, the
// upgrade with its progress bar, phase panel and messages, and the "Make
// Bin" window. The page is part of the main window: it shares the window's
// device selectors, status bar and timers.
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QKeySequence>
#include <QLabel>
#include <QProgressBar>
#include <QShortcut>
#include <QTimer>
#include <algorithm>
#include <iostream>

#include "app/layout_parts.h"
#include "app/main_window.h"
#include "app/picture_button.h"
#include "app/upgrade_controller.h"
#include "skin/skin.h"

namespace raid::app {
namespace {

const char* const kFirmwareFilter = "Binary code (*.bin);;All files (*.*)";

}  // namespace

void MainWindow::buildUpgradePage(QWidget* page) {
    upgradeDevice1Picture_ = makePicture("upgradeDevice1Picture", page,
                                         QRect(14, 10, skin::kDeviceWidth, skin::kDeviceHeight));
    upgradeDevice2Picture_ = makePicture("upgradeDevice2Picture", page,
                                         QRect(144, 10, skin::kDeviceWidth, skin::kDeviceHeight));
    connect(upgradeDevice1Picture_, &PictureButton::clicked, this,
            [this] { selectUpgradeDevice(0); });
    connect(upgradeDevice2Picture_, &PictureButton::clicked, this,
            [this] { selectUpgradeDevice(1); });
    for (PictureButton* selector : {upgradeDevice1Picture_, upgradeDevice2Picture_})
        selector->setToolTipDuration(6000);
    // The selected device's firmware beside the device pictures.
    Caption(page, "upgradeFirmwareCaption", QRect(284, 40, 60, 18), "Firmware");
    upgradeFirmwareLabel_ = makeLabel("upgradeFirmwareLabel", page, QRect(340, 40, 104, 18));
    upgradeFirmwareLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // The chosen file's full path.
    firmwareFileLabel_ = makeLabel("firmwareFileLabel", page, QRect(14, 110, 434, 20));
    firmwareFileLabel_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    firmwareFileLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    upgradeStateLabel_ = makeLabel("upgradeStateLabel", page, QRect(14, 136, 434, 40));
    upgradeStateLabel_->setWordWrap(true);
    upgradeStateLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    upgradeStateLabel_->setFont(Bold(font(), 11));
    upgradeStepPanel_ = new QFrame(page);
    upgradeStepPanel_->setObjectName("upgradeStepPanel");
    upgradeStepPanel_->setGeometry(14, 180, 434, 60);
    upgradeStepPanel_->setFrameStyle(QFrame::Panel | QFrame::Raised);
    upgradeStepLabel_ = makeLabel("upgradeStepLabel", upgradeStepPanel_, QRect(2, 2, 430, 56));
    upgradeStepLabel_->setAlignment(Qt::AlignCenter);
    upgradeStepLabel_->setFont(Bold(font(), 14));
    upgradeProgressBar_ = new QProgressBar(page);
    upgradeProgressBar_->setObjectName("upgradeProgressBar");
    upgradeProgressBar_->setGeometry(14, 252, 434, 18);
    upgradeProgressBar_->setRange(0, 100);
    upgradeProgressBar_->setValue(0);
    upgradeProgressBar_->setTextVisible(false);
    loadFirmwareButton_ = makePicture("loadFirmwareButton", page, Action(100, 300));
    startUpgradeButton_ = makePicture("startUpgradeButton", page, Action(260, 300));
    wirePressedLook(loadFirmwareButton_, false);
    wirePressedLook(startUpgradeButton_, false);
}

void MainWindow::wireUpgradePage() {
    using firmware::UpgradeController;
    ShellContext& ctx = *context_;
    upgradeController_ = std::make_unique<UpgradeController>(ctx.state, ctx.firmware, ctx.channel);
    UpgradeController* c = upgradeController_.get();
    connect(c, &UpgradeController::statusPanelChanged, this,
            [this](int panel, const QString& text) { SetStatusPanel(panel, text.toStdString()); });
    connect(c, &UpgradeController::messageRequested, this,
            [this](const QString& text, const QString& caption, firmware::MessageIcon icon) {
                showFirmwareMessage(text, caption, static_cast<int>(icon));
            });
    connect(c, &UpgradeController::selectorsEnabledChanged, this, [this](bool enabled) {
        device1Box_->setEnabled(enabled);
        device2Box_->setEnabled(enabled);
        // The operation has ended; the close waits for the upgrade call to
        // return.
        if (enabled && closeAfterUpgrade_) QTimer::singleShot(0, this, [this] { close(); });
    });
    connect(c, &UpgradeController::progressStarted, this,
            [this](const QString& label, int maximum) {
                upgradeStateLabel_->setText(label);
                upgradeProgressBar_->setRange(0, maximum);
                upgradeProgressBar_->setValue(0);
                progressTimer_->start();
            });
    connect(c, &UpgradeController::phaseShown, this, [this](const QString& caption) {
        upgradeStepLabel_->setText(caption);
        upgradeStepPanel_->show();
    });
    connect(c, &UpgradeController::progressChanged, upgradeProgressBar_, &QProgressBar::setValue);
    connect(c, &UpgradeController::progressEnded, this, [this] {
        progressTimer_->stop();
        upgradeStepPanel_->hide();
    });
    connect(loadFirmwareButton_, &PictureButton::clicked, this, &MainWindow::loadFirmware);
    connect(startUpgradeButton_, &PictureButton::clicked, this, &MainWindow::startUpgrade);

    // A built image is checked against the selected device as a loaded
    // file is before it becomes the loaded image; none while an upgrade runs.
    tools::ImageBuilderHooks hooks = options_.imageBuilderHooks;
    hooks.imageInUse = [this] { return context_->state.shell.exclusiveOperation.load(); };
    imageBuilder_ = new tools::ImageBuilderWindow(
        builtImage_, QString::fromStdString(programFolder().string()), hooks, std::nullopt, this);
    imageBuilder_->hide();
    connect(imageBuilder_, &tools::ImageBuilderWindow::imageBuilt, this,
            [this](const QString& savedPath) {
                if (context_->state.shell.exclusiveOperation.load()) return;
                firmwareFileLabel_->setText(savedPath.isEmpty()
                                                ? QString(UpgradeController::kUnsavedImageText)
                                                : QDir::toNativeSeparators(savedPath));
                upgradeController_->adopt(builtImage_.bytes, savedPath, selectedUpgradeDevice_);
            });
    auto* shortcut = new QShortcut(QKeySequence("Ctrl+Shift+B"), this);
    shortcut->setObjectName("imageBuilderShortcut");
    connect(shortcut, &QShortcut::activated, this, &MainWindow::openImageBuilder);
}

void MainWindow::showFirmwareMessage(const QString& text, const QString& caption, int icon) {
    // Asked to quit: nobody may be there to dismiss a box.
    if (closeAfterUpgrade_) {
        std::cerr << "raidgui: " << caption.toStdString() << ": "
                  << QString(text).replace('\n', ' ').toStdString() << "\n";
        return;
    }
    switch (static_cast<firmware::MessageIcon>(icon)) {
        case firmware::MessageIcon::Error:
            messages_->ShowError(this, text, caption);
            break;
        case firmware::MessageIcon::Exclamation:
            messages_->ShowWarning(this, text, caption);
            break;
        case firmware::MessageIcon::None:
            messages_->Show(this, text, caption);
            break;
    }
}

void MainWindow::showUpgradeDeviceFirmware() {
    const DiscoveryState& d = context_->state.discovery;
    const int device = selectedUpgradeDevice_;
    const int disk = device < std::min(d.deviceCount, kDeviceSlots) ? d.DiskOf(device) : kMaxDisks;
    upgradeFirmwareLabel_->setText(disk < kMaxDisks
                                       ? QString::fromStdString(text::FirmwareText(
                                             d.identifyRecord[static_cast<std::size_t>(disk)]))
                                       : QString());
}

void MainWindow::loadFirmware() {
    if (context_->state.shell.exclusiveOperation.load()) return;
    const QString folder = QString::fromStdString(programFolder().string());
    const QString path = options_.chooseFirmwareFile
                             ? options_.chooseFirmwareFile(folder)
                             : QFileDialog::getOpenFileName(this, "Open", folder, kFirmwareFilter);
    if (path.isEmpty()) return;
    firmwareFileLabel_->setText(QDir::toNativeSeparators(path));
    if (clientMode()) {
        loadFirmwareThroughService(path);
        return;
    }
    upgradeController_->load(path, selectedUpgradeDevice_);
}

void MainWindow::startUpgrade() {
    if (context_->state.shell.exclusiveOperation.load()) return;
    if (clientMode()) {
        startUpgradeThroughService();
        return;
    }
    upgradeController_->start(selectedUpgradeDevice_);
}

void MainWindow::onProgressTick() {
    upgradeProgressBar_->setValue(static_cast<int>(context_->firmware.progressCounter));
    // A job of the service that this window did not start tells its
    // progress only when asked.
    if (!followedJob_.path.empty()) requestServiceJobs();
}

void MainWindow::openImageBuilder() {
    imageBuilder_->show();
    imageBuilder_->raise();
    imageBuilder_->activateWindow();
}

}  // namespace raid::app
