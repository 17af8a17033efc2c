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

const char* const kColumn[6] = {"statusPageButton", "setupPageButton", "upgradePageButton",
                                "emailPageButton",  "smartPageButton", "aboutPageButton"};

TEST_F(MainWindowTest, StartsInItsInitialState) {
    MakeWindow();
    EXPECT_EQ(window->windowTitle(), "RAID GUI v0.50.11-5");
    EXPECT_EQ(window->size(), QSize(620, 440));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(Find<QLabel>("productNameLabel")->text(), "RAID Management Sofeware");
    EXPECT_EQ(Find<QLabel>("versionLabel")->text(), "v0.50.11-5");
    EXPECT_EQ(Find<QLabel>("detectionNotice")->text(), "Drive detecting");

    const struct {
        const char* name;
        int interval;
        bool active;
    } timers[4] = {{"progressTimer", 1000, false},
                   {"pollTimer", 5000, false},
                   {"smartCountdownTimer", 1000, false},
                   {"deviceChangeTimer", 500, true}};
    for (const auto& t : timers) {
        auto* timer = window->findChild<QTimer*>(t.name);
        ASSERT_NE(timer, nullptr) << t.name;
        EXPECT_EQ(timer->interval(), t.interval) << t.name;
        EXPECT_EQ(timer->isActive(), t.active) << t.name;
    }

    // The first discovery is requested; nothing may poll before it is done.
    const ShellFlags& shell = window->state().shell;
    EXPECT_TRUE(shell.detectRequest && shell.detectBusy && shell.detecting);
    EXPECT_FALSE(shell.detectDone || shell.closing);
    EXPECT_EQ(shell.operationDeviceIndex, kNoOperationDevice);
    EXPECT_EQ(shell.smartCountdown, 60);

    for (const char* name : kColumn) EXPECT_FALSE(Button(name)->isEnabled()) << name;
    EXPECT_FALSE(Button("loadFirmwareButton")->isEnabled());
    EXPECT_FALSE(Button("startUpgradeButton")->isEnabled());
    for (const char* name :
         {"upgradeStepPanel", "setupPanel", "sensorsPanel", "buzzerMuteBox", "device1Box",
          "device2Box", "device1Picture", "device2Picture", "upgradeDevice1Picture",
          "upgradeDevice2Picture", "productLogo", "aboutUpperNoteLabel", "aboutLowerNoteLabel",
          "scheduleBackupBox", "eventLogButton"}) {
        EXPECT_TRUE(Find(name)->isHidden()) << name;
    }
    // Nothing is claimed about a device before one is found.
    for (const char* name :
         {"deviceNoteLabel", "smartVerdictLabel", "healthLabel", "arrayModeLabel",
          "configuredCapacityLabel", "hdd1CapacityLabel", "hdd1ModelLabel", "hdd2CapacityLabel",
          "hdd2ModelLabel", "firmwareLabel", "smartCountdownLabel"}) {
        EXPECT_TRUE(Find<QLabel>(name)->text().isEmpty()) << name;
    }

    auto* periods = Find<QComboBox>("periodDaysBox");
    ASSERT_EQ(periods->count(), 31);
    EXPECT_EQ(periods->itemText(0), "00");
    EXPECT_EQ(periods->itemText(30), "30");
    EXPECT_EQ(periods->currentIndex(), 0);

    auto* grid = Find<QTableWidget>("smartHeadingGrid");
    QStringList headings;
    for (int c = 0; c < grid->columnCount(); ++c) headings << grid->horizontalHeaderItem(c)->text();
    EXPECT_EQ(headings, QStringList({"ID", "Value", "Worst", "Threshold", "RAW", "Status"}));

    // Status page, its button Yellow and the others White; Setup before
    // E-mail in the column.
    EXPECT_EQ(Find<QStackedWidget>("pages")->currentIndex(), kPageStatus);
    EXPECT_TRUE(Shows("statusPageButton", "statusPageButtonSelected"));
    EXPECT_TRUE(Shows("aboutPageButton", "aboutPageButtonUnselected"));
    EXPECT_EQ(window->lastPageMask(), 0x37);
    EXPECT_TRUE(Button("emailPageButton")->isHidden());
    EXPECT_FALSE(Button("setupPageButton")->isHidden());
}

TEST_F(MainWindowTest, PageButtonsWaitForTheFirstStatusAndForAnUpgradeToEnd) {
    AddEnclosure("raid1");
    MakeWindow();
    RunDiscovery();
    ASSERT_EQ(window->state().discovery.deviceCount, 1);
    ASSERT_TRUE(Button("aboutPageButton")->isEnabled());
    ASSERT_FALSE(Find("device1Box")->isHidden());

    // Found, but no status shown yet.
    ASSERT_TRUE(window->state().shell.firstStatusPending);
    QTest::mouseClick(Button("aboutPageButton"), Qt::LeftButton);
    EXPECT_EQ(window->CurrentPage(), kPageStatus);
    EXPECT_EQ(Find<QStackedWidget>("pages")->currentIndex(), kPageStatus);

    window->state().shell.firstStatusPending = false;
    QTest::mouseClick(Button("aboutPageButton"), Qt::LeftButton);
    EXPECT_EQ(window->CurrentPage(), kPageAbout);
    EXPECT_EQ(Find<QStackedWidget>("pages")->currentIndex(), kPageAbout);
    EXPECT_TRUE(Shows("aboutPageButton", "aboutPageButtonSelected"));
    EXPECT_TRUE(Shows("statusPageButton", "statusPageButtonUnselected"));

    // A firmware upgrade holds device 0: neither the page buttons nor the
    // upgrade page's device pictures do anything.
    window->state().shell.operationDeviceIndex = 0;
    QTest::mouseClick(Button("statusPageButton"), Qt::LeftButton);
    QTest::mouseClick(Button("smartPageButton"), Qt::LeftButton);
    EXPECT_EQ(window->CurrentPage(), kPageAbout);
    window->selectUpgradeDevice(1);
    EXPECT_EQ(window->state().discovery.currentDevice, 0);

    window->state().shell.operationDeviceIndex = kNoOperationDevice;
    QTest::mouseClick(Button("smartPageButton"), Qt::LeftButton);
    EXPECT_EQ(window->CurrentPage(), kPageSmart);
    EXPECT_EQ(Find<QStackedWidget>("pages")->currentIndex(), kPageSmart);
}

TEST_F(MainWindowTest, ColumnFollowsTheShownDevicesPageSet) {
    // Device1 cannot do schedule backup (0x3D), Device2 can (0x37).
    AddEnclosure("raid1", [](sim::Enclosure& e) {
        e.scheduleCapability = false;
        e.settingCapabilityBits = 0x01;
    });
    AddEnclosure("raid0");
    MakeWindow();
    std::array<QPoint, 6> slots;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        slots[i] = QPoint(skin::kButtonColumnLeft,
                          skin::kButtonColumnTop + static_cast<int>(i) * skin::kButtonPitch);
    }

    RunDiscovery();
    ASSERT_EQ(window->state().discovery.deviceCount, 2);
    EXPECT_EQ(window->lastPageMask(), 0x3D);
    EXPECT_TRUE(Button("setupPageButton")->isHidden());
    // Everything below Setup moved up one slot.
    EXPECT_EQ(Button("statusPageButton")->pos(), slots[0]);
    EXPECT_EQ(Button("upgradePageButton")->pos(), slots[1]);
    EXPECT_EQ(Button("emailPageButton")->pos(), slots[2]);
    EXPECT_EQ(Button("smartPageButton")->pos(), slots[3]);
    EXPECT_EQ(Button("aboutPageButton")->pos(), slots[4]);
    EXPECT_FALSE(Button("emailPageButton")->isHidden());

    // Choosing Device2 on the upgrade page brings Setup back, E-mail goes.
    // (The page buttons answer once the first status is shown.)
    ServeRequests();
    window->openUpgradePage();
    ASSERT_EQ(window->CurrentPage(), kPageUpgrade);
    window->selectUpgradeDevice(1);
    EXPECT_EQ(window->state().discovery.currentDevice, 1);
    EXPECT_EQ(window->lastPageMask(), 0x37);
    EXPECT_TRUE(Button("emailPageButton")->isHidden());
    EXPECT_FALSE(Button("setupPageButton")->isHidden());
    EXPECT_EQ(Button("setupPageButton")->pos(), slots[1]);
    EXPECT_EQ(Button("upgradePageButton")->pos(), slots[2]);
    EXPECT_EQ(Button("smartPageButton")->pos(), slots[3]);
    EXPECT_EQ(Button("aboutPageButton")->pos(), slots[4]);
    EXPECT_TRUE(Shows("upgradeDevice2Picture", "device2Selected"));
    EXPECT_TRUE(Shows("upgradeDevice1Picture", "device1Unselected"));
}

TEST_F(MainWindowTest, CloseAndShutdownAreRefusedDuringAnExclusiveOperation) {
    MakeWindow();
    window->show();
    window->state().shell.exclusiveOperation = true;

    EXPECT_FALSE(window->close());
    EXPECT_FALSE(window->queryEndSession());
    ASSERT_EQ(sink.boxes.size(), 2u);
    for (const auto& box : sink.boxes) {
        EXPECT_EQ(box.text, "Firmware is upgrading, please wait a moment.");
        EXPECT_EQ(box.caption, "Message");
    }
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->state().shell.closing);
    EXPECT_TRUE(window->findChild<QTimer*>("deviceChangeTimer")->isActive());

    // Once the operation has ended the same request closes the window.
    window->state().shell.exclusiveOperation = false;
    window->state().shell.pollRequestFlags = 0x29;
    EXPECT_TRUE(window->queryEndSession());
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->state().shell.closing);
    EXPECT_EQ(window->state().shell.pollRequestFlags, 0);
    for (const char* name :
         {"progressTimer", "pollTimer", "smartCountdownTimer", "deviceChangeTimer"}) {
        EXPECT_FALSE(window->findChild<QTimer*>(name)->isActive()) << name;
    }
    EXPECT_EQ(sink.boxes.size(), 2u);
}

TEST_F(MainWindowTest, StatusBarDoubleClickShowsTheSystemInformationBeforeAnyDevice) {
    MakeWindow();
    auto* bar = Find<QStatusBar>("statusBar");
    EXPECT_EQ(bar->findChildren<QLabel*>().size(), 5);
    QTest::mouseDClick(Find("statusPanel4"), Qt::LeftButton);
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].caption, "System Information");
    EXPECT_EQ(sink.boxes[0].text,
              "\n=========== [System Information] =============="
              "\nMotherBoard :  - "
              "\nSystem Name : testhost"
              "\nIP Address  : 192.0.2.7"
              "\n===============================================");
}

TEST_F(MainWindowTest, ActionPicturesSinkWhileHeld) {
    MakeWindow();
    Find<QStackedWidget>("pages")->setCurrentIndex(kPageSetup);
    window->show();
    PictureButton* set = Button("applyPeriodButton");
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

TEST_F(MainWindowTest, NoDeviceFoundLeavesThePagesLocked) {
    disks->AddPlainDisk();
    MakeWindow();
    RunDiscovery();
    EXPECT_EQ(window->state().discovery.deviceCount, 0);
    EXPECT_EQ(Find<QLabel>("detectionNotice")->text(), "No Drive found! ");
    EXPECT_FALSE(Find("detectionNotice")->isHidden());
    for (const char* name : kColumn) EXPECT_FALSE(Button(name)->isEnabled()) << name;
    EXPECT_EQ(Find<QLabel>("statusPanel1")->text(), "Detected OK");
}

}  // namespace
}  // namespace raid::app::test
