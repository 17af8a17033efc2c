// The status poll through the window: the poll tick and the worker's dispatcher run
// real polls against the emulator, whose results reach the Status page, the
// event log and its day file.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <algorithm>

#include "main_window_fixture.h"

namespace raid::app::test {
namespace {

class MonitorWiringTest : public MainWindowTest {
protected:
    // Two poll ticks arm and request a poll; the worker serves it.
    void Poll() {
        window->onPollTick();
        window->onPollTick();
        ASSERT_TRUE(window->state().shell.pollRequestFlags & poll::kStatusPoll);
        ServeRequests();
    }
    QString Text(const char* label) { return Find<QLabel>(label)->text(); }
    const std::vector<std::string>& Lines() { return window->context().eventLog.eventLogLines; }
};

TEST_F(MonitorWiringTest, APollFillsTheStatusPageAndLogsAPulledMember) {
    // Without schedule backup the device has the E-mail page, so a lost
    // member is mailed.
    AddEnclosure("raid1", [](sim::Enclosure& e) {
        e.scheduleCapability = false;
        e.settingCapabilityBits = 0x01;
    });
    MakeWindow();
    RunDiscovery();
    EXPECT_EQ(window->windowTitle(), "RAID GUI v0.50.11-5 - SIM RAID1 ENCLOSURE []");

    // The first poll after discovery queries nothing: the page is drawn in
    // full from what discovery read and the log gets its start header.
    ServeRequests();
    EXPECT_FALSE(window->state().shell.firstStatusPending);
    EXPECT_EQ(window->state().shell.pollRequestFlags & poll::kWakeMask, 0);
    ASSERT_FALSE(Lines().empty());
    EXPECT_EQ(Lines()[1].rfind("RAID GUI v0.50.11-5 has started from ", 0), 0u) << Lines()[1];

    const int opensBefore = disks->OpenCount();
    Poll();
    EXPECT_GT(disks->OpenCount(), opensBefore);  // this one asked the controller
    EXPECT_EQ(Text("arrayModeLabel"), "Mirroring(RAID1)");
    EXPECT_EQ(Text("hdd1CapacityLabel"), "931 GB\n");
    EXPECT_EQ(Text("hdd2CapacityLabel"), "931 GB\n");
    EXPECT_EQ(Text("hdd1ModelLabel").trimmed(), "SIM-DISK 1000GB");
    EXPECT_EQ(Text("healthLabel"), "Normal");
    EXPECT_EQ(Text("fanSpeedLabel"), "2400");
    EXPECT_EQ(Text("temperatureLabel"), "38");
    EXPECT_FALSE(Find("sensorsPanel")->isHidden());
    EXPECT_EQ(Text("firmwareLabel"), "100126.1");
    EXPECT_EQ(Find<QLabel>("statusPanel0")->text(), "5x,02");

    disks->Emulator(0)->Control("pull 2");
    Poll();
    const auto removed = std::find_if(Lines().begin(), Lines().end(), [](const std::string& line) {
        return line.rfind("D1 HDD2 was removed, 04", 0) == 0;
    });
    ASSERT_NE(removed, Lines().end());
    EXPECT_NE(DayFile().find(*removed + "\r\n"), std::string::npos);
    EXPECT_EQ(Text("healthLabel"), "Single HDD\nPresent");
    EXPECT_FALSE(Find("hdd2CapacityLabel")->isEnabled());
    // The lost member is handed to the notification thread.
    EXPECT_TRUE(window->state().shell.mailRequestFlags & 0x02);
}

TEST_F(MonitorWiringTest, ARebuildIsShownWithItsProgress) {
    AddEnclosure("rebuild", [](sim::Enclosure& e) { e.rebuildStepPercent = 0; });
    MakeWindow();
    RunDiscovery();
    ServeRequests();
    Poll();
    EXPECT_EQ(Text("healthLabel"), "45%\n>>>>\nRebuilding");
    const bool logged = std::any_of(Lines().begin(), Lines().end(), [](const std::string& line) {
        return line.rfind("D1 HDD1 --> HDD2 45%, ", 0) == 0;
    });
    EXPECT_TRUE(logged);
}

TEST_F(MonitorWiringTest, TheTimerStaysQuietWhileDiscoveryRuns) {
    AddEnclosure("raid1");
    MakeWindow();
    window->onPollTick();
    window->onPollTick();
    EXPECT_EQ(window->state().shell.pollRequestFlags, 0);
    EXPECT_FALSE(monitor::WorkerShouldDispatch(window->state()));
}

}  // namespace
}  // namespace raid::app::test
