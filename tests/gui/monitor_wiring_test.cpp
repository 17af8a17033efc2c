// The status poll through the window: Timer2 and the worker's dispatcher run
// real polls against the emulator, whose results reach the Status page, the
// event log and its day file.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <algorithm>
#include <fstream>
#include <sstream>

#include "common/text.h"
#include "main_window_fixture.h"

namespace raid::app::test {
namespace {

class MonitorWiringTest : public FormTest {
protected:
    // Two Timer2 ticks arm and request a poll; the worker serves it.
    void Poll() {
        form->Timer2Timer();
        form->Timer2Timer();
        ASSERT_TRUE(form->State().shell.pollRequestFlags & poll::kStatusPoll);
        ServeRequests();
    }
    QString Text(const char* label) { return Find<QLabel>(label)->text(); }
    const std::vector<std::string>& Lines() { return form->Context().eventLog.eventLogLines; }
    std::string DayFile() {
        const auto path = logFolder.path / (text::FileDateText(clock->WallNow()) + ".log");
        std::ifstream in(path, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }
};

TEST_F(MonitorWiringTest, APollFillsTheStatusPageAndLogsAPulledMember) {
    // Without schedule backup the device has the E-mail page, so a lost
    // member is mailed.
    AddEnclosure("raid1", [](sim::Enclosure& e) {
        e.scheduleCapability = false;
        e.settingCapabilityBits = 0x01;
    });
    MakeForm();
    RunDiscovery();
    EXPECT_EQ(form->windowTitle(), "RAID GUI v0.50.11-5 - SIM RAID1 ENCLOSURE []");

    // The first poll after discovery queries nothing: the page is drawn in
    // full from what discovery read and the log gets its start header.
    ServeRequests();
    EXPECT_FALSE(form->State().shell.firstStatusPending);
    EXPECT_EQ(form->State().shell.pollRequestFlags & poll::kWakeMask, 0);
    ASSERT_FALSE(Lines().empty());
    EXPECT_EQ(Lines()[1].rfind("RAID GUI v0.50.11-5 has started from ", 0), 0u) << Lines()[1];

    const int opensBefore = disks->OpenCount();
    Poll();
    EXPECT_GT(disks->OpenCount(), opensBefore);  // this one asked the controller
    EXPECT_EQ(Text("Label17"), "Mirroring(RAID1)");
    EXPECT_EQ(Text("Label25"), "931 GB\n");
    EXPECT_EQ(Text("Label26"), "931 GB\n");
    EXPECT_EQ(Text("Label51").trimmed(), "SIM-DISK 1000GB");
    EXPECT_EQ(Text("Label18"), "Normal");
    EXPECT_EQ(Text("Label5"), "2400");
    EXPECT_EQ(Text("Label7"), "38");
    EXPECT_FALSE(Find("Panel11")->isHidden());
    EXPECT_EQ(Text("Label48"), "100126.1");
    EXPECT_EQ(Find<QLabel>("StatusBar1_Panel0")->text(), "5x,02");

    disks->Emulator(0)->Control("pull 2");
    Poll();
    const auto removed = std::find_if(Lines().begin(), Lines().end(), [](const std::string& line) {
        return line.rfind("D1 HDD2 was removed, 04", 0) == 0;
    });
    ASSERT_NE(removed, Lines().end());
    EXPECT_NE(DayFile().find(*removed + "\r\n"), std::string::npos);
    EXPECT_EQ(Text("Label18"), "Single HDD\nPresent");
    EXPECT_FALSE(Find("Label26")->isEnabled());
    // The lost member is handed to the notification thread.
    EXPECT_TRUE(form->State().shell.mailRequestFlags & 0x02);
}

TEST_F(MonitorWiringTest, ARebuildIsShownWithItsProgress) {
    AddEnclosure("rebuild", [](sim::Enclosure& e) { e.rebuildStepPercent = 0; });
    MakeForm();
    RunDiscovery();
    ServeRequests();
    Poll();
    EXPECT_EQ(Text("Label18"), "45%\n>>>>\nRebuilding");
    const bool logged = std::any_of(Lines().begin(), Lines().end(), [](const std::string& line) {
        return line.rfind("D1 HDD1 --> HDD2 45%, ", 0) == 0;
    });
    EXPECT_TRUE(logged);
}

TEST_F(MonitorWiringTest, TheTimerStaysQuietWhileDiscoveryRuns) {
    AddEnclosure("raid1");
    MakeForm();
    form->Timer2Timer();
    form->Timer2Timer();
    EXPECT_EQ(form->State().shell.pollRequestFlags, 0);
    EXPECT_FALSE(monitor::WorkerShouldDispatch(form->State()));
}

}  // namespace
}  // namespace raid::app::test
