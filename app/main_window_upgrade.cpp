// The main window's side of the firmware upgrade: the upgrade controller's
// status panels, messages and selectors, the Upgrade page's buttons (a file
// loaded and the upgrade run in this process or through the service), the
// progress tick and the "Make Bin" window.
#include <QDir>
#include <QFileDialog>
#include <QKeySequence>
#include <QShortcut>
#include <QTimer>
#include <iostream>

#include "app/main_window.h"
#include "app/status_page.h"
#include "app/upgrade_controller.h"
#include "app/upgrade_page.h"

namespace raid::app {
namespace {

const char* const kFirmwareFilter = "Binary code (*.bin);;All files (*.*)";

}  // namespace

void MainWindow::wireUpgradePage() {
    using firmware::UpgradeController;
    UpgradeController* c = upgradeController_.get();
    connect(c, &UpgradeController::statusPanelChanged, this,
            [this](int panel, const QString& text) { SetStatusPanel(panel, text.toStdString()); });
    connect(c, &UpgradeController::messageRequested, this,
            [this](const QString& text, const QString& caption, firmware::MessageIcon icon) {
                showFirmwareMessage(text, caption, static_cast<int>(icon));
            });
    connect(c, &UpgradeController::selectorsEnabledChanged, this, [this](bool enabled) {
        statusPage_->setSelectorsEnabled(enabled);
        // The operation has ended; the close waits for the upgrade call to
        // return.
        if (enabled && closeAfterUpgrade_) QTimer::singleShot(0, this, [this] { close(); });
    });
    // The page shows the progress; the tick keeps its bar moving meanwhile.
    connect(c, &UpgradeController::progressStarted, progressTimer_, qOverload<>(&QTimer::start));
    connect(c, &UpgradeController::progressEnded, progressTimer_, &QTimer::stop);

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
                upgradePage_->showFirmwareFile(savedPath.isEmpty()
                                                   ? QString(UpgradeController::kUnsavedImageText)
                                                   : QDir::toNativeSeparators(savedPath));
                upgradeController_->adopt(builtImage_.bytes, savedPath, selectedUpgradeDevice());
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

int MainWindow::selectedUpgradeDevice() const { return upgradePage_->selectedDevice(); }

void MainWindow::selectUpgradeDevice(int index) { upgradePage_->selectDevice(index); }

void MainWindow::loadFirmware() {
    if (context_->state.shell.exclusiveOperation.load()) return;
    const QString folder = QString::fromStdString(programFolder().string());
    const QString path = options_.chooseFirmwareFile
                             ? options_.chooseFirmwareFile(folder)
                             : QFileDialog::getOpenFileName(this, "Open", folder, kFirmwareFilter);
    if (path.isEmpty()) return;
    upgradePage_->showFirmwareFile(QDir::toNativeSeparators(path));
    if (clientMode()) {
        loadFirmwareThroughService(path);
        return;
    }
    upgradeController_->load(path, selectedUpgradeDevice());
}

void MainWindow::startUpgrade() {
    if (context_->state.shell.exclusiveOperation.load()) return;
    if (clientMode()) {
        startUpgradeThroughService();
        return;
    }
    upgradeController_->start(selectedUpgradeDevice());
}

void MainWindow::onProgressTick() {
    upgradePage_->setProgress(static_cast<int>(context_->firmware.progressCounter));
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
