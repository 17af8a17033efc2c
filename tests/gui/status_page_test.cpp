// The Status page: members, rebuild and health texts, fan and temperature,
// firmware text and the sensors rule, the device choice, device hints and
// the caption, the buzzer box, and the log picture.
#include "app/status_page.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFrame>
#include <QPalette>

#include "main_window_fixture.h"

namespace raid::app::test {
namespace {

class StatusPageTest : public MainWindowTest {
protected:
    // One or two emulated enclosures, found and shown once (the first
    // refresh, with FirstStatusPending).
    void Start(std::vector<std::string> scenarios = {"raid1"}) {
        for (const std::string& s : scenarios) AddEnclosure(s);
        MakeWindow();
        RunDiscovery();
        ASSERT_EQ(window->state().discovery.deviceCount, static_cast<int>(scenarios.size()));
        ASSERT_EQ(window->statusPage().RefreshStatusPage(true), 0);
    }

    Record512& R(int device = 0) {
        auto& s = window->state();
        return s.monitor.deviceStatusRecord[static_cast<std::size_t>(s.discovery.DiskOf(device))];
    }
    Record512& Identify(int device = 0) {
        auto& s = window->state();
        return s.discovery.identifyRecord[static_cast<std::size_t>(s.discovery.DiskOf(device))];
    }
    DeviceSlot& Slot(int device = 0) {
        return window->state().discovery.deviceSlots[static_cast<std::size_t>(device)];
    }
    QString Text(const char* label) { return Find<QLabel>(label)->text(); }
    QColor FontColour(const char* label) {
        return Find<QLabel>(label)->palette().color(QPalette::Active, QPalette::WindowText);
    }
    int Refresh(bool full = false) { return window->statusPage().RefreshStatusPage(full); }

    static void PutCapacity(Record512& r, std::size_t at, std::uint64_t sectors) {
        for (std::size_t i = 0; i < 6; ++i)
            r[at + i] = static_cast<std::uint8_t>(sectors >> (8 * i));
    }
};

TEST_F(StatusPageTest, RebuildTextChangesOnlyWithThePercent) {
    Start();
    Record512& r = R();
    r[rec::kDiskStateFlags] = 0x22;
    r[rec::kRebuildFlags] = 0x01;  // HDD1 rebuilt from HDD2
    r[rec::kRebuildPercent] = 45;
    Refresh();
    EXPECT_EQ(Text("healthLabel"), "45%\n<<<<\nRebuilding");
    EXPECT_FALSE(Find("eventLogButton")->isHidden());

    // The same percent leaves the label alone, even on a full redraw.
    Find<QLabel>("healthLabel")->setText("by hand");
    Refresh();
    Refresh(true);
    EXPECT_EQ(Text("healthLabel"), "by hand");

    r[rec::kRebuildPercent] = 46;
    Refresh();
    EXPECT_EQ(Text("healthLabel"), "46%\n<<<<\nRebuilding");

    // Only HDD2 being rebuilt points the other way, from the next percent.
    r[rec::kRebuildFlags] = 0x02;
    r[rec::kRebuildPercent] = 47;
    Refresh();
    EXPECT_EQ(Text("healthLabel"), "47%\n>>>>\nRebuilding");

    // After the rebuild the same percent is drawn again when one starts.
    r[rec::kRebuildFlags] = 0;
    Refresh();
    EXPECT_EQ(Text("healthLabel"), "Normal");
    r[rec::kRebuildFlags] = 0x03;
    Refresh();
    EXPECT_EQ(Text("healthLabel"), "47%\n<<<<\nRebuilding");
}

TEST_F(StatusPageTest, HealthAndMembersFollowTheDiskStates) {
    Start();
    Record512& r = R();
    r[rec::kRebuildFlags] = 0;
    r[rec::kDiskStateFlags] = 0x22;
    Refresh();
    EXPECT_EQ(Text("healthLabel"), "Normal");
    EXPECT_EQ(FontColour("hdd1CapacityLabel"), QColor(0, 0, 0x80));  // navy
    const QString model1 = Text("hdd1ModelLabel");
    EXPECT_EQ(model1.trimmed(), "SIM-DISK 1000GB");
    EXPECT_EQ(Text("hdd1CapacityLabel"), "931 GB\n");

    // HDD2 absent: greyed, still naming the last disk in the bay.
    r[rec::kDiskStateFlags] = 0x42;
    Refresh();
    EXPECT_EQ(Text("healthLabel"), "Single HDD\nPresent");
    EXPECT_FALSE(Find("hdd2CapacityLabel")->isEnabled());
    EXPECT_FALSE(Find("hdd2ModelLabel")->isEnabled());
    EXPECT_EQ(Text("hdd2CapacityLabel"), "931 GB\n");
    EXPECT_EQ(Text("hdd2ModelLabel").trimmed(), "SIM-DISK 1000GB");

    // HDD1 failed: capacity in red, model greyed. Nothing present: Failure.
    r[rec::kDiskStateFlags] = 0x48;
    Refresh();
    EXPECT_EQ(Text("healthLabel"), "Failure");
    EXPECT_EQ(FontColour("hdd1CapacityLabel"), QColor(0xFF, 0, 0));
    EXPECT_TRUE(Find("hdd1CapacityLabel")->isEnabled());
    EXPECT_FALSE(Find("hdd1ModelLabel")->isEnabled());

    r[rec::kDiskStateFlags] = 0x44;
    Refresh();
    EXPECT_EQ(Text("healthLabel"), "Failure");

    // A newly inserted disk leaves its labels as they were; no class at all
    // empties them.
    r[rec::kDiskStateFlags] = 0x01;
    Refresh();
    EXPECT_EQ(Text("hdd1CapacityLabel"), "931 GB\n");
    EXPECT_TRUE(Text("hdd2CapacityLabel").isEmpty());
    EXPECT_TRUE(Text("hdd2ModelLabel").isEmpty());

    // Members are redrawn only when the flags change, unless full.
    r[rec::kDiskStateFlags] = 0x22;
    Refresh();
    Find<QLabel>("hdd1CapacityLabel")->setText("by hand");
    Refresh();
    EXPECT_EQ(Text("hdd1CapacityLabel"), "by hand");
    Refresh(true);
    EXPECT_EQ(Text("hdd1CapacityLabel"), "931 GB\n");
}

TEST_F(StatusPageTest, CapacitiesInGigabytesAndMegabytes) {
    Start();
    Record512& r = R();
    r[rec::kDiskStateFlags] = 0x22;
    PutCapacity(r, rec::kHdd1Capacity, 976773168);
    PutCapacity(r, rec::kHdd2Capacity, 2000000);
    PutCapacity(r, rec::kConfiguredCapacity, 2097151);
    r[rec::kArrayMode] = 7;
    Refresh(true);
    EXPECT_EQ(Text("hdd1CapacityLabel"), "465 GB\n");
    EXPECT_EQ(Text("hdd2CapacityLabel"), "976 MB\n");
    EXPECT_EQ(Text("configuredCapacityLabel"), "1023 MB");
    EXPECT_EQ(Text("arrayModeLabel"), "Undefine");
}

TEST_F(StatusPageTest, FirmwareNumberDecidesTheSensorsPanel) {
    Start();
    Slot().hasSensors = 0;
    Record512& r = R();
    r[rec::kEnvironment] = 0xA0;
    r[349] = 0x60;  // 0x0960 = 2400
    r[350] = 0x09;
    r[rec::kTemperature] = 38;
    Record512& id = Identify();
    const std::uint8_t bytes[8] = {0x10, 0x01, 0x25, 0x01, 0, 0, 0, 0};
    std::copy(std::begin(bytes), std::end(bytes), id.begin() + 46);

    Button("device1Picture")->clicked();
    EXPECT_EQ(Text("firmwareLabel"), "100125.1");
    EXPECT_FALSE(window->statusPage().sensorsShown());
    EXPECT_TRUE(Find("sensorsPanel")->isHidden());

    id[48] = 0x26;
    Button("device1Picture")->clicked();
    EXPECT_EQ(Text("firmwareLabel"), "100126.1");
    EXPECT_TRUE(window->statusPage().sensorsShown());
    EXPECT_FALSE(Find("sensorsPanel")->isHidden());
    EXPECT_EQ(Text("fanSpeedLabel"), "2400");
    EXPECT_EQ(Text("temperatureLabel"), "38");
    EXPECT_EQ(FontColour("fanSpeedLabel"), QColor(0, 0, 0xFF));
    EXPECT_EQ(FontColour("temperatureLabel"), QColor(0, 0, 0xFF));

    // Fan failure and over temperature turn the values red; an enclosure
    // without sensors (0xFF) or the value 0xAA hides the panel.
    r[rec::kEnvironment] = 0xA5;
    Refresh();
    EXPECT_EQ(FontColour("fanSpeedLabel"), QColor(0xFF, 0, 0));
    EXPECT_EQ(FontColour("temperatureLabel"), QColor(0xFF, 0, 0));
    EXPECT_FALSE(Find("sensorsPanel")->isHidden());
    for (const std::uint8_t env : {0xAA, 0xFF}) {
        r[rec::kEnvironment] = env;
        Refresh();
        EXPECT_TRUE(Find("sensorsPanel")->isHidden()) << int(env);
    }
}

TEST(StatusPageRules, SensorsNumberAndTexts) {
    EXPECT_FALSE(FirmwareImpliesSensors("100125.1"));
    EXPECT_TRUE(FirmwareImpliesSensors("100126.1"));
    EXPECT_FALSE(FirmwareImpliesSensors("10012A.1"));
    EXPECT_FALSE(FirmwareImpliesSensors("1001261"));
    EXPECT_FALSE(FirmwareImpliesSensors("SIM1.00"));
    EXPECT_FALSE(FirmwareImpliesSensors(""));
    EXPECT_EQ(HealthText(0x00), "Failure");
    EXPECT_EQ(HealthText(0x12), "Single HDD\nPresent");
}

TEST_F(StatusPageTest, HintsNameTheFixedVolumesOfEachDevice) {
    const auto volume = [](const char* name, const char* mount, int disk, std::uint8_t type) {
        platform::VolumeInfo v;
        v.name = name;
        v.devicePath = std::string("/dev/") + name;
        v.mountPoint = mount;
        v.diskNumber = disk;
        v.driveType = type;
        return v;
    };
    disks->AddVolume(volume("sim0p1", "/media/raid", 0, platform::kDriveFixed));
    disks->AddVolume(volume("sim0p2", "", 0, platform::kDriveFixed));
    disks->AddVolume(volume("sim0p3", "", 0, platform::kDriveRemovable));
    disks->AddVolume(volume("sim1p1", "", 1, platform::kDriveFixed));
    Start({"raid1", "raid0"});
    window->RefreshDeviceSummary();
    EXPECT_EQ(window->statusPage().Hint(0), "SIM RAID1 ENCLOSURE [/media/raid sim0p2]");
    EXPECT_EQ(window->statusPage().Hint(1), "SIM RAID0 ENCLOSURE [sim1p1]");
    EXPECT_EQ(window->windowTitle(),
              "RAID GUI v0.50.11-5 - SIM RAID1 ENCLOSURE [/media/raid sim0p2]");
    EXPECT_EQ(Find("device2Box")->toolTip(), "SIM RAID0 ENCLOSURE [sim1p1]");
    EXPECT_EQ(Find("upgradeDevice1Picture")->toolTip(), "SIM RAID1 ENCLOSURE [/media/raid sim0p2]");
}

TEST_F(StatusPageTest, DevicePicturesSwitchTheShownDevice) {
    Start({"raid1", "raid0"});
    Slot(1).featureMask = 0x37;
    Slot(0).featureMask = 0x3D;
    Button("device2Picture")->clicked();
    EXPECT_EQ(window->statusPage().SelectedDevice(), 1);
    EXPECT_EQ(window->state().discovery.currentDevice, 1);
    EXPECT_FALSE(window->statusPage().DeviceSwitchInProgress());
    EXPECT_TRUE(Shows("device2Picture", "device2Selected"));
    EXPECT_TRUE(Shows("device1Picture", "device1Unselected"));
    EXPECT_EQ(Text("arrayModeLabel"), "Striping(RAID0)");
    EXPECT_TRUE(window->windowTitle().startsWith("RAID GUI v0.50.11-5 - SIM RAID0 ENCLOSURE ["));
    EXPECT_EQ(window->lastPageMask(), 0x37);

    Button("device1Picture")->clicked();
    EXPECT_TRUE(Shows("device1Picture", "device1Selected"));
    EXPECT_TRUE(Shows("device2Picture", "device2Unselected"));
    EXPECT_EQ(Text("arrayModeLabel"), "Mirroring(RAID1)");
    EXPECT_EQ(window->lastPageMask(), 0x3D);
}

TEST_F(StatusPageTest, SelectorsChooseTheDeviceAndResetItsFailures) {
    Start({"raid1", "raid0"});
    auto* device1Box = Find<QCheckBox>("device1Box");
    auto* device2Box = Find<QCheckBox>("device2Box");

    // Unticking Device2 hides its pictures; Device1 stays shown.
    device2Box->click();
    EXPECT_TRUE(Find("device2Picture")->isHidden());
    EXPECT_TRUE(Find("upgradeDevice2Picture")->isHidden());
    EXPECT_EQ(window->statusPage().SelectedDevice(), 0);

    // Unticking Device1 as well hides its pictures and changes nothing else.
    Slot(0).failureCount = 3;
    const QString title = window->windowTitle();
    const QString mode = Text("arrayModeLabel");
    device1Box->click();
    EXPECT_TRUE(Find("device1Picture")->isHidden());
    EXPECT_TRUE(Find("upgradeDevice1Picture")->isHidden());
    EXPECT_EQ(Slot(0).failureCount, 3);
    EXPECT_EQ(window->statusPage().SelectedDevice(), 0);
    EXPECT_EQ(window->windowTitle(), title);
    EXPECT_EQ(Text("arrayModeLabel"), mode);
    // With no selector ticked the page is not drawn at all.
    EXPECT_EQ(Refresh(true), -1);

    // Ticking Device2 alone shows it, and gives it a fresh failure count.
    Slot(1).failureCount = 5;
    device2Box->click();
    EXPECT_FALSE(Find("device2Picture")->isHidden());
    EXPECT_EQ(window->statusPage().SelectedDevice(), 1);
    EXPECT_EQ(Slot(1).failureCount, 0);
    EXPECT_EQ(Text("arrayModeLabel"), "Striping(RAID0)");
    EXPECT_TRUE(window->windowTitle().contains("SIM RAID0 ENCLOSURE"));

    // Unticking Device2 while Device1 is ticked switches back to Device1.
    device1Box->click();
    EXPECT_EQ(window->statusPage().SelectedDevice(), 1);  // Device2 was already ticked
    device2Box->click();
    EXPECT_EQ(window->statusPage().SelectedDevice(), 0);
    EXPECT_EQ(Text("arrayModeLabel"), "Mirroring(RAID1)");
}

TEST_F(StatusPageTest, BuzzerBoxTakesTheShownControllersSettingAtEveryRefresh) {
    // "Z": the buzzer sounds, so "Buzzer Mute" starts unticked.
    AddEnclosure("raid1", [](sim::Enclosure& e) { e.buzzerLetter = 'Z'; });
    AddEnclosure("raid1", [](sim::Enclosure& e) { e.buzzerLetter = 'Y'; });
    AddEnclosure("nosensors", [](sim::Enclosure& e) { e.settingCapabilityBits = 0; });
    MakeWindow();
    RunDiscovery();
    auto* box = Find<QCheckBox>("buzzerMuteBox");
    box->setChecked(true);
    ASSERT_EQ(window->statusPage().RefreshStatusPage(true), 0);
    EXPECT_FALSE(box->isHidden());
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(window->state().shell.firstStatusPending);

    // Later refreshes show each device's own setting, and give the box back
    // only once a change has been read back.
    Button("device2Picture")->clicked();
    EXPECT_TRUE(box->isChecked());  // device 2 says "Y": muted
    Button("device1Picture")->clicked();
    EXPECT_FALSE(box->isChecked());
    box->setEnabled(false);
    Slot(0).optionChangePending = 1;
    Refresh();
    EXPECT_FALSE(box->isEnabled());
    Slot(0).optionChangePending = 0;
    Refresh();
    EXPECT_TRUE(box->isEnabled());
}

TEST_F(StatusPageTest, BuzzerBoxTickedWhenMutedAndHiddenWithoutTheCapability) {
    AddEnclosure("raid1", [](sim::Enclosure& e) { e.buzzerLetter = 'Y'; });
    AddEnclosure("nosensors", [](sim::Enclosure& e) { e.settingCapabilityBits = 0; });
    MakeWindow();
    RunDiscovery();
    auto* box = Find<QCheckBox>("buzzerMuteBox");
    ASSERT_EQ(window->statusPage().RefreshStatusPage(true), 0);
    EXPECT_TRUE(box->isChecked());
    Button("device2Picture")->clicked();
    EXPECT_TRUE(box->isHidden());
}

TEST_F(StatusPageTest, NothingIsDrawnOffTheStatusPage) {
    Start();
    Button("aboutPageButton")->clicked();
    R()[rec::kDiskStateFlags] = 0x44;
    EXPECT_EQ(Refresh(true), -1);
    EXPECT_EQ(Text("healthLabel"), "Normal");
    Button("statusPageButton")->clicked();  // the page button redraws it
    EXPECT_EQ(Text("healthLabel"), "Failure");
}

TEST_F(StatusPageTest, LogPictureOpensOneViewerAtATime) {
    Start();
    window->context().eventLog.eventLogLines = {"D1 HDD2 was removed, 04"};
    bool openInside = false;
    onModal = [&](QDialog&) {
        openInside = window->viewerOpen();
        window->openEventLog();  // a second click while it is open
        return 0;
    };
    Button("eventLogButton")->clicked();
    EXPECT_EQ(modals, std::vector<QString>{"eventLogViewer"});
    EXPECT_TRUE(openInside);
    EXPECT_FALSE(window->viewerOpen());
    Button("eventLogButton")->clicked();
    EXPECT_EQ(modals.size(), 2u);
}

}  // namespace
}  // namespace raid::app::test
