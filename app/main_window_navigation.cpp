// TForm1's page navigation: the page buttons, their column layout, the
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
constexpr ButtonPage kColumn[6] = {{"Image_Sts", kPageStatus},    {"Image_Setup", kPageSetup},
                                   {"Image_FWUpg", kPageUpgrade}, {"Image_Email", kPageEmail},
                                   {"Image_SMART", kPageSmart},   {"Image_About", kPageAbout}};

}  // namespace

bool TForm1::PageButtonsFree() const {
    const ShellFlags& shell = context_->state.shell;
    return shell.operationDeviceIndex.load() == kNoOperationDevice &&
           !shell.firstStatusPending.load();
}

void TForm1::ShowPage() {
    for (std::size_t i = 0; i < pageButtons_.size(); ++i) {
        const bool current = kColumn[i].page == currentPage_;
        pageButtons_[i]->SetPicture(
            CompanionPicture(QString(kColumn[i].name) + (current ? "_Yellow" : "_White")));
    }
    Notebook1->setCurrentIndex(currentPage_);
}

void TForm1::LayoutPageButtons(std::uint8_t mask) {
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

QString TForm1::ApplicationTitle() const {
    return "RAID GUI " + QString::fromStdString(context_->state.shell.versionText);
}

void TForm1::ApplyProductSkin() {
    setWindowTitle(ApplicationTitle());
    Label63->setText("RAID Management Sofeware");
    Image_Background->setPixmap(CompanionPicture("Image_Background_RAID"));
    findChild<QLabel*>("Image_Background_OEM", Qt::FindDirectChildrenOnly)->hide();
    LayoutPageButtons(0x37);
}

void TForm1::ShowDevicePicture(PictureButton* target, const QString& companion, bool selected) {
    target->SetPicture(CompanionPicture(companion + (selected ? "_Yellow" : "_White")));
}

void TForm1::Image_StsClick() {
    if (!PageButtonsFree()) return;
    currentPage_ = kPageStatus;
    ShowPage();
    context_->state.discovery.currentDevice = statusPage_->SelectedDevice();
    statusPage_->RefreshStatusPage(true);
}

void TForm1::Image_SetupClick() {
    if (!PageButtonsFree()) return;
    // Preparing the schedule-backup controls from the selected device's
    // record, and its sub-page, come with the schedule-backup page.
    currentPage_ = kPageSetup;
    ShowPage();
}

void TForm1::Image_FWUpgClick() {
    if (!PageButtonsFree()) return;
    currentPage_ = kPageUpgrade;
    ShowPage();
    context_->state.discovery.currentDevice = selectedUpgradeDevice_;
    ShowDevicePicture(Image2_D1, "Image0_D1", selectedUpgradeDevice_ == 0);
    ShowDevicePicture(Image2_D2, "Image0_D2", selectedUpgradeDevice_ == 1);
}

void TForm1::Image_EmailClick() {
    if (!PageButtonsFree()) return;
    currentPage_ = kPageEmail;
    ShowPage();
    // Filling the page from the mail settings comes with the e-mail page.
}

void TForm1::Image_AboutClick() {
    if (!PageButtonsFree()) return;
    currentPage_ = kPageAbout;
    ShowPage();
}

void TForm1::Image_SMARTClick() {
    if (!PageButtonsFree()) return;
    currentPage_ = kPageSmart;
    ShowPage();
    // Filling the SMART grids comes with the SMART page.
}

void TForm1::Image2_D1Click() {
    if (context_->state.shell.operationDeviceIndex.load() != kNoOperationDevice) return;
    selectedUpgradeDevice_ = 0;
    ShowDevicePicture(Image2_D1, "Image0_D1", true);
    ShowDevicePicture(Image2_D2, "Image0_D2", false);
    context_->state.discovery.currentDevice = 0;
    RefreshDeviceSummary();
    // Label54's firmware text comes with the firmware file check.
}

void TForm1::Image2_D2Click() {
    if (context_->state.shell.operationDeviceIndex.load() != kNoOperationDevice) return;
    selectedUpgradeDevice_ = 1;
    ShowDevicePicture(Image2_D1, "Image0_D1", false);
    ShowDevicePicture(Image2_D2, "Image0_D2", true);
    context_->state.discovery.currentDevice = 1;
    RefreshDeviceSummary();
}

}  // namespace raid::app
