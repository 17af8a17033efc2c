// The main window: start-up state, navigation, close and shutdown, and the
// system-information box.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include "main_window_fixture.h"
#include "skin/skin_catalog.h"

namespace raid::app::test {
namespace {

const char* const kColumn[6] = {"Image_Sts",   "Image_Setup", "Image_FWUpg",
                                "Image_Email", "Image_SMART", "Image_About"};

TEST_F(FormTest, StartsInItsInitialState) {
    MakeForm();
    EXPECT_EQ(form->windowTitle(), "RAID GUI v0.50.11-5");
    EXPECT_EQ(form->size(), QSize(620, 440));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(Find<QLabel>("Label63")->text(), "RAID Management Sofeware");
    EXPECT_EQ(Find<QLabel>("Label65")->text(), "v0.50.11-5");
    EXPECT_EQ(Find<QLabel>("StaticText1")->text(), "Drive detecting");

    const struct {
        const char* name;
        int interval;
        bool active;
    } timers[4] = {{"Timer1", 1000, false},
                   {"Timer2", 5000, false},
                   {"Timer3", 1000, false},
                   {"Timer4", 500, true}};
    for (const auto& t : timers) {
        auto* timer = form->findChild<QTimer*>(t.name);
        ASSERT_NE(timer, nullptr) << t.name;
        EXPECT_EQ(timer->interval(), t.interval) << t.name;
        EXPECT_EQ(timer->isActive(), t.active) << t.name;
    }

    // The first discovery is requested; nothing may poll before it is done.
    const ShellFlags& shell = form->State().shell;
    EXPECT_TRUE(shell.detectRequest && shell.detectBusy && shell.detecting);
    EXPECT_FALSE(shell.detectDone || shell.closing);
    EXPECT_EQ(shell.operationDeviceIndex, kNoOperationDevice);
    EXPECT_EQ(shell.smartCountdown, 60);

    for (const char* name : kColumn) EXPECT_FALSE(Button(name)->isEnabled()) << name;
    EXPECT_FALSE(Button("Image2_Load")->isEnabled());
    EXPECT_FALSE(Button("Image2_Upgrade")->isEnabled());
    for (const char* name : {"Panel1", "Panel8", "Panel11", "CheckBox5", "CheckBox1", "CheckBox3",
                             "Image0_D1", "Image0_D2", "Image2_D1", "Image2_D2", "Image4_Logo",
                             "Label61", "Label62", "CheckBox_Backup", "Image0_Log"}) {
        EXPECT_TRUE(Find(name)->isHidden()) << name;
    }
    // Nothing is claimed about a device before one is found.
    for (const char* name : {"StaticText10", "Label23", "Label18", "Label17", "Label27", "Label25",
                             "Label51", "Label26", "Label52", "Label48", "Label21"}) {
        EXPECT_TRUE(Find<QLabel>(name)->text().isEmpty()) << name;
    }

    auto* periods = Find<QComboBox>("ComboBox1");
    ASSERT_EQ(periods->count(), 31);
    EXPECT_EQ(periods->itemText(0), "00");
    EXPECT_EQ(periods->itemText(30), "30");
    EXPECT_EQ(periods->currentIndex(), 0);

    auto* grid = Find<QTableWidget>("StringGrid4");
    QStringList headings;
    for (int c = 0; c < grid->columnCount(); ++c) headings << grid->horizontalHeaderItem(c)->text();
    EXPECT_EQ(headings, QStringList({"ID", "Value", "Worst", "Threshold", "RAW", "Status"}));

    // Status page, its button Yellow and the others White; Setup before
    // E-mail in the column.
    EXPECT_EQ(Find<QStackedWidget>("Notebook1")->currentIndex(), kPageStatus);
    EXPECT_TRUE(Shows("Image_Sts", "Image_Sts_Yellow"));
    EXPECT_TRUE(Shows("Image_About", "Image_About_White"));
    EXPECT_EQ(form->LastPageMask(), 0x37);
    EXPECT_TRUE(Button("Image_Email")->isHidden());
    EXPECT_FALSE(Button("Image_Setup")->isHidden());
}

TEST_F(FormTest, PageButtonsWaitForTheFirstStatusAndForAnUpgradeToEnd) {
    AddEnclosure("raid1");
    MakeForm();
    RunDiscovery();
    ASSERT_EQ(form->State().discovery.deviceCount, 1);
    ASSERT_TRUE(Button("Image_About")->isEnabled());
    ASSERT_FALSE(Find("CheckBox1")->isHidden());

    // Found, but no status shown yet.
    ASSERT_TRUE(form->State().shell.firstStatusPending);
    QTest::mouseClick(Button("Image_About"), Qt::LeftButton);
    EXPECT_EQ(form->CurrentPage(), kPageStatus);
    EXPECT_EQ(Find<QStackedWidget>("Notebook1")->currentIndex(), kPageStatus);

    form->State().shell.firstStatusPending = false;
    QTest::mouseClick(Button("Image_About"), Qt::LeftButton);
    EXPECT_EQ(form->CurrentPage(), kPageAbout);
    EXPECT_EQ(Find<QStackedWidget>("Notebook1")->currentIndex(), kPageAbout);
    EXPECT_TRUE(Shows("Image_About", "Image_About_Yellow"));
    EXPECT_TRUE(Shows("Image_Sts", "Image_Sts_White"));

    // A firmware upgrade holds device 0: neither the page buttons nor the
    // upgrade page's device pictures do anything.
    form->State().shell.operationDeviceIndex = 0;
    QTest::mouseClick(Button("Image_Sts"), Qt::LeftButton);
    QTest::mouseClick(Button("Image_SMART"), Qt::LeftButton);
    EXPECT_EQ(form->CurrentPage(), kPageAbout);
    form->Image2_D2Click();
    EXPECT_EQ(form->State().discovery.currentDevice, 0);

    form->State().shell.operationDeviceIndex = kNoOperationDevice;
    QTest::mouseClick(Button("Image_SMART"), Qt::LeftButton);
    EXPECT_EQ(form->CurrentPage(), kPageSmart);
    EXPECT_EQ(Find<QStackedWidget>("Notebook1")->currentIndex(), kPageSmart);
}

TEST_F(FormTest, ColumnFollowsTheShownDevicesPageSet) {
    // Device1 cannot do schedule backup (0x3D), Device2 can (0x37).
    AddEnclosure("raid1", [](sim::Enclosure& e) {
        e.scheduleCapability = false;
        e.settingCapabilityBits = 0x01;
    });
    AddEnclosure("raid0");
    MakeForm();
    std::array<QPoint, 6> slots;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        slots[i] = QPoint(skin::kButtonColumnLeft,
                          skin::kButtonColumnTop + static_cast<int>(i) * skin::kButtonPitch);
    }

    RunDiscovery();
    ASSERT_EQ(form->State().discovery.deviceCount, 2);
    EXPECT_EQ(form->LastPageMask(), 0x3D);
    EXPECT_TRUE(Button("Image_Setup")->isHidden());
    // Everything below Setup moved up one slot.
    EXPECT_EQ(Button("Image_Sts")->pos(), slots[0]);
    EXPECT_EQ(Button("Image_FWUpg")->pos(), slots[1]);
    EXPECT_EQ(Button("Image_Email")->pos(), slots[2]);
    EXPECT_EQ(Button("Image_SMART")->pos(), slots[3]);
    EXPECT_EQ(Button("Image_About")->pos(), slots[4]);
    EXPECT_FALSE(Button("Image_Email")->isHidden());

    // Choosing Device2 on the upgrade page brings Setup back, E-mail goes.
    // (The page buttons answer once the first status is shown.)
    ServeRequests();
    form->Image_FWUpgClick();
    ASSERT_EQ(form->CurrentPage(), kPageUpgrade);
    form->Image2_D2Click();
    EXPECT_EQ(form->State().discovery.currentDevice, 1);
    EXPECT_EQ(form->LastPageMask(), 0x37);
    EXPECT_TRUE(Button("Image_Email")->isHidden());
    EXPECT_FALSE(Button("Image_Setup")->isHidden());
    EXPECT_EQ(Button("Image_Setup")->pos(), slots[1]);
    EXPECT_EQ(Button("Image_FWUpg")->pos(), slots[2]);
    EXPECT_EQ(Button("Image_SMART")->pos(), slots[3]);
    EXPECT_EQ(Button("Image_About")->pos(), slots[4]);
    EXPECT_TRUE(Shows("Image2_D2", "Image0_D2_Yellow"));
    EXPECT_TRUE(Shows("Image2_D1", "Image0_D1_White"));
}

TEST_F(FormTest, CloseAndShutdownAreRefusedDuringAnExclusiveOperation) {
    MakeForm();
    form->show();
    form->State().shell.exclusiveOperation = true;

    EXPECT_FALSE(form->close());
    EXPECT_FALSE(form->QueryEndSession());
    ASSERT_EQ(sink.boxes.size(), 2u);
    for (const auto& box : sink.boxes) {
        EXPECT_EQ(box.text, "Firmware is upgrading, please wait a moment.");
        EXPECT_EQ(box.caption, "Message");
    }
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->State().shell.closing);
    EXPECT_TRUE(form->findChild<QTimer*>("Timer4")->isActive());

    // Once the operation has ended the same request closes the window.
    form->State().shell.exclusiveOperation = false;
    form->State().shell.pollRequestFlags = 0x29;
    EXPECT_TRUE(form->QueryEndSession());
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(form->State().shell.closing);
    EXPECT_EQ(form->State().shell.pollRequestFlags, 0);
    for (const char* name : {"Timer1", "Timer2", "Timer3", "Timer4"}) {
        EXPECT_FALSE(form->findChild<QTimer*>(name)->isActive()) << name;
    }
    EXPECT_EQ(sink.boxes.size(), 2u);
}

TEST_F(FormTest, StatusBarDoubleClickShowsTheSystemInformationBeforeAnyDevice) {
    MakeForm();
    auto* bar = Find<QStatusBar>("StatusBar1");
    EXPECT_EQ(bar->findChildren<QLabel*>().size(), 5);
    QTest::mouseDClick(Find("StatusBar1_Panel4"), Qt::LeftButton);
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].caption, "System Information");
    EXPECT_EQ(sink.boxes[0].text,
              "\n=========== [System Information] =============="
              "\nMotherBoard :  - "
              "\nSystem Name : testhost"
              "\nIP Address  : 192.0.2.7"
              "\n===============================================");
}

TEST_F(FormTest, ActionPicturesSinkWhileHeld) {
    MakeForm();
    Find<QStackedWidget>("Notebook1")->setCurrentIndex(kPageSetup);
    form->show();
    PictureButton* set = Button("Image1_Set");
    const QPoint home = set->pos();
    QTest::mousePress(set, Qt::LeftButton);
    EXPECT_EQ(set->pos(), home + QPoint(0, 2));
    // A second press without a release (a lost mouse-up) does not sink it
    // further.
    QTest::mousePress(set, Qt::LeftButton);
    EXPECT_EQ(set->pos(), home + QPoint(0, 2));
    QTest::mouseRelease(set, Qt::LeftButton);
    EXPECT_EQ(set->pos(), home);
}

TEST_F(FormTest, NoDeviceFoundLeavesThePagesLocked) {
    disks->AddPlainDisk();
    MakeForm();
    RunDiscovery();
    EXPECT_EQ(form->State().discovery.deviceCount, 0);
    EXPECT_EQ(Find<QLabel>("StaticText1")->text(), "No Drive found! ");
    EXPECT_FALSE(Find("StaticText1")->isHidden());
    for (const char* name : kColumn) EXPECT_FALSE(Button(name)->isEnabled()) << name;
    EXPECT_EQ(Find<QLabel>("StatusBar1_Panel1")->text(), "Detected OK");
}

}  // namespace
}  // namespace raid::app::test
