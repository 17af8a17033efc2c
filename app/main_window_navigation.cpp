// The main window's page navigation: the page buttons, their column layout, the
// product skin and the upgrade page's device selectors.
#include <QApplication>
#include <QLabel>
#include <QStackedWidget>

#include "app/main_window.h"
#include "app/picture_button.h"
#include "app/status_page.h"

namespace raid::app {
namespace {

// Page-set bit of each button in column order, and the page it selects.
struct ButtonPage {
    const char* name;
    int page;
};
constexpr ButtonPage kColumn[6] = {
    {"statusPageButton", kPageStatus},   {"setupPageButton", kPageSetup},
    {"upgradePageButton", kPageUpgrade}, {"emailPageButton", kPageEmail},
    {"smartPageButton", kPageSmart},     {"aboutPageButton", kPageAbout}};

}  // namespace

bool MainWindow::PageButtonsFree() const {
    const ShellFlags& shell = context_->state.shell;
    return shell.operationDeviceIndex.load() == kNoOperationDevice &&
           !shell.firstStatusPending.load();
}

void MainWindow::ShowPage() {
    for (std::size_t i = 0; i < pageButtons_.size(); ++i) {
        const bool current = kColumn[i].page == currentPage_;
        pageButtons_[i]->SetPicture(
            CompanionPicture(QString(kColumn[i].name) + (current ? "Selected" : "Unselected")));
    }
    pages_->setCurrentIndex(currentPage_);
}

void MainWindow::LayoutPageButtons(std::uint8_t mask) {
    if (mask == lastPageMask_) return;
    std::size_t slot = 0;
    for (std::size_t i = 0; i < pageButtons_.size(); ++i) {
        PictureButton* button = pageButtons_[i];
        if ((mask & (1u << i)) != 0) {
            button->move(buttonSlots_[slot++]);
            button->show();
        } else {
            button->hide();
        }
    }
    lastPageMask_ = mask;
}

QString MainWindow::ApplicationTitle() const {
    return "RAID GUI " + QString::fromStdString(context_->state.shell.versionText);
}

void MainWindow::ApplyProductSkin() {
    setWindowTitle(ApplicationTitle());
    productNameLabel_->setText("RAID Management Sofeware");
    background_->setPixmap(CompanionPicture("backgroundRaid"));
    findChild<QLabel*>("backgroundOem", Qt::FindDirectChildrenOnly)->hide();
    LayoutPageButtons(0x37);
}

void MainWindow::ShowDevicePicture(PictureButton* target, const QString& companion, bool selected) {
    target->SetPicture(CompanionPicture(companion + (selected ? "Selected" : "Unselected")));
}

void MainWindow::OpenStatusPage() {
    if (!PageButtonsFree()) return;
    currentPage_ = kPageStatus;
    ShowPage();
    context_->state.discovery.currentDevice = statusPage_->SelectedDevice();
    statusPage_->RefreshStatusPage(true);
}

void MainWindow::OpenSetupPage() {
    if (!PageButtonsFree()) return;
    // Preparing the schedule-backup controls from the selected device's
    // record, and its sub-page, come with the schedule-backup page.
    currentPage_ = kPageSetup;
    ShowPage();
}

void MainWindow::OpenUpgradePage() {
    if (!PageButtonsFree()) return;
    currentPage_ = kPageUpgrade;
    ShowPage();
    context_->state.discovery.currentDevice = selectedUpgradeDevice_;
    ShowDevicePicture(upgradeDevice1Picture_, "device1", selectedUpgradeDevice_ == 0);
    ShowDevicePicture(upgradeDevice2Picture_, "device2", selectedUpgradeDevice_ == 1);
}

void MainWindow::OpenEmailPage() {
    if (!PageButtonsFree()) return;
    currentPage_ = kPageEmail;
    ShowPage();
    // Filling the page from the mail settings comes with the e-mail page.
}

void MainWindow::OpenAboutPage() {
    if (!PageButtonsFree()) return;
    currentPage_ = kPageAbout;
    ShowPage();
}

void MainWindow::OpenSmartPage() {
    if (!PageButtonsFree()) return;
    currentPage_ = kPageSmart;
    ShowPage();
    // Filling the SMART grids comes with the SMART page.
}

void MainWindow::SelectUpgradeDevice(int index) {
    if (context_->state.shell.operationDeviceIndex.load() != kNoOperationDevice) return;
    selectedUpgradeDevice_ = index;
    ShowDevicePicture(upgradeDevice1Picture_, "device1", index == 0);
    ShowDevicePicture(upgradeDevice2Picture_, "device2", index == 1);
    context_->state.discovery.currentDevice = index;
    RefreshDeviceSummary();
    // The firmware file label's text comes with the firmware file check.
}

}  // namespace raid::app
