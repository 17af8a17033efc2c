// The main window's page navigation: the page buttons, their column layout and
// the product skin.
#include <QApplication>
#include <QLabel>
#include <QStackedWidget>

#include "app/about_page.h"
#include "app/email_page.h"
#include "app/main_window.h"
#include "app/picture_button.h"
#include "app/setup_page.h"
#include "app/status_page.h"
#include "app/upgrade_page.h"

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

bool MainWindow::pageButtonsFree() const {
    const ShellFlags& shell = context_->state.shell;
    return shell.operationDeviceIndex.load() == kNoOperationDevice &&
           !shell.firstStatusPending.load();
}

void MainWindow::showPage() {
    for (std::size_t i = 0; i < pageButtons_.size(); ++i) {
        const bool current = kColumn[i].page == currentPage_;
        pageButtons_[i]->setPicture(
            companionPicture(QString(kColumn[i].name) + (current ? "Selected" : "Unselected")));
    }
    pages_->setCurrentIndex(currentPage_);
}

void MainWindow::layoutPageButtons(std::uint8_t mask) {
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

QString MainWindow::applicationTitle() const {
    return "RAID GUI " + QString::fromStdString(context_->state.shell.versionText);
}

void MainWindow::applyProductSkin() {
    setWindowTitle(applicationTitle());
    aboutPage_->setProductName("RAID Management Sofeware");
    background_->setPixmap(companionPicture("backgroundRaid"));
    findChild<QLabel*>("backgroundOem", Qt::FindDirectChildrenOnly)->hide();
    layoutPageButtons(0x37);
}

void MainWindow::openStatusPage() {
    if (!pageButtonsFree()) return;
    currentPage_ = kPageStatus;
    showPage();
    context_->state.discovery.currentDevice = statusPage_->SelectedDevice();
    statusPage_->RefreshStatusPage(true);
}

void MainWindow::openSetupPage() {
    if (!pageButtonsFree()) return;
    setupPage_->prepareChoice();
    currentPage_ = kPageSetup;
    showPage();
    setupPage_->showScheduleSubPage();
}

void MainWindow::openUpgradePage() {
    if (!pageButtonsFree()) return;
    currentPage_ = kPageUpgrade;
    showPage();
    upgradePage_->showSelection();
}

void MainWindow::openEmailPage() {
    if (!pageButtonsFree()) return;
    currentPage_ = kPageEmail;
    showPage();
    // A client's settings are the service's, asked for each time the page
    // opens (and only then: reading them may ask for a password).
    if (clientMode() && !localEngine()) return readServiceMailSettings();
    emailPage_->fillPage();
}

void MainWindow::openAboutPage() {
    if (!pageButtonsFree()) return;
    currentPage_ = kPageAbout;
    showPage();
}

void MainWindow::openSmartPage() {
    if (!pageButtonsFree()) return;
    currentPage_ = kPageSmart;
    showPage();
    ShowSmartPage();
}

}  // namespace raid::app
