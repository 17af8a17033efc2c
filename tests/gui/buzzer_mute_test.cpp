// The status page's "Buzzer Mute" box: what a click queues, how long the box
// stays greyed, that the first refresh's tick is not a click, devices without
// the setting, and the settings line the command leaves in the day's log.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <algorithm>

#include "app/status_page.h"
#include "main_window_fixture.h"

namespace raid::app::test {
namespace {

class BuzzerMuteTest : public MainWindowTest {
protected:
    QCheckBox* Box() { return Find<QCheckBox>("buzzerMuteBox"); }
    AppState& State() { return window->state(); }
    DeviceSlot& Slot(int device = 0) {
        return State().discovery.deviceSlots[static_cast<std::size_t>(device)];
    }
    bool Queued() { return (State().shell.pollRequestFlags & poll::kPendingCommand) != 0; }
    std::uint8_t QueuedCode() {
        const auto& q = State().monitor.settingQueue;
        return q.empty() ? 0 : q.back().code;
    }
    // Two poll ticks arm and request a poll; the worker serves what is due.
    void Poll() {
        window->onPollTick();
        window->onPollTick();
        ServeRequests();
    }
    std::vector<std::uint8_t> Sent(int disk = 0) {
        std::vector<std::uint8_t> codes;
        for (std::uint8_t c : disks->Emulator(disk)->ExecutedCommands())
            if (c == 0x70 || c == 0x71) codes.push_back(c);
        return codes;
    }
};

TEST_F(BuzzerMuteTest, TheFirstRefreshSetsTheTickWithoutQueueing) {
    AddEnclosure("raid1", [](sim::Enclosure& e) { e.buzzerLetter = 'Y'; });  // muted
    MakeWindow();
    RunDiscovery();
    State().shell.pollRequestFlags = 0;
    ASSERT_TRUE(State().shell.firstStatusPending);
    Box()->click();  // a click before the first refresh is not the user's
    EXPECT_FALSE(Queued());
    EXPECT_EQ(QueuedCode(), 0);
    EXPECT_EQ(Slot().optionChangePending, 0);

    Box()->setChecked(false);
    ASSERT_EQ(window->statusPage().RefreshStatusPage(true), 0);  // the first refresh
    EXPECT_TRUE(Box()->isChecked());
    EXPECT_TRUE(Box()->isEnabled());
    EXPECT_FALSE(Queued());
    EXPECT_EQ(QueuedCode(), 0);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(BuzzerMuteTest, TickingQueuesTheMuteAndGreysTheBoxUntilAPollReadItBack) {
    AddEnclosure("raid1");  // "Z": the buzzer sounds
    MakeWindow();
    RunDiscovery();
    ServeRequests();
    ASSERT_FALSE(Box()->isHidden());
    ASSERT_FALSE(Box()->isChecked());

    Box()->click();
    EXPECT_TRUE(Box()->isChecked());
    EXPECT_EQ(QueuedCode(), 0x70);
    EXPECT_TRUE(Queued());
    EXPECT_FALSE(Box()->isEnabled());
    EXPECT_EQ(Slot().optionChangePending, 1);

    // A poll served before the command leaves the box greyed: the setting
    // is still to be sent.
    State().shell.pollRequestFlags.fetch_or(poll::kStatusPoll);
    window->serveMonitorRequest();
    EXPECT_TRUE(Queued());
    EXPECT_EQ(Slot().optionChangePending, 1);
    EXPECT_FALSE(Box()->isEnabled());

    // The worker sends it; the box waits for the poll after it.
    window->serveMonitorRequest();
    EXPECT_EQ(Sent(), std::vector<std::uint8_t>{0x70});
    EXPECT_FALSE(Queued());
    EXPECT_FALSE(Box()->isEnabled());
    Poll();
    EXPECT_EQ(Slot().optionChangePending, 0);
    EXPECT_TRUE(Box()->isEnabled());
    EXPECT_TRUE(Box()->isChecked());
    const auto& r = State().monitor.deviceStatusRecord[0];
    EXPECT_EQ(r[rec::kOptionBits] & 0x01, 0);  // no "Z": muted

    Box()->click();
    EXPECT_FALSE(Box()->isChecked());
    EXPECT_EQ(QueuedCode(), 0x71);
    ServeRequests();
    Poll();
    EXPECT_EQ(Sent(), (std::vector<std::uint8_t>{0x70, 0x71}));
    EXPECT_TRUE(Box()->isEnabled());
    EXPECT_FALSE(Box()->isChecked());
    EXPECT_EQ(r[rec::kOptionBits] & 0x01, 0x01);
}

TEST_F(BuzzerMuteTest, EachCommandLeavesItsSettingsLineInTheDayLog) {
    AddEnclosure("raid1");
    MakeWindow();
    RunDiscovery();
    ServeRequests();
    Box()->click();
    ServeRequests();
    Poll();
    Box()->click();
    ServeRequests();
    Poll();
    const std::string log = DayFile();
    const auto on = log.find("\r\nD1 Buzzer Mute(setted): ON, ");
    const auto off = log.find("\r\nD1 Buzzer Mute(setted): OFF, ");
    ASSERT_NE(on, std::string::npos) << log;
    ASSERT_NE(off, std::string::npos) << log;
    EXPECT_LT(on, off);
    const auto& lines = window->context().eventLog.eventLogLines;
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) {
                                return l.rfind("D1 Buzzer Mute(setted): ON, ", 0) == 0;
                            }),
              1);
}

TEST_F(BuzzerMuteTest, ARejectedMuteIsUntickedByTheNextRefresh) {
    AddEnclosure("raid1");  // "Z": the buzzer sounds
    MakeWindow();
    RunDiscovery();
    ServeRequests();
    ASSERT_EQ(disks->Emulator(0)->Control("settingfault fail"), "");
    Box()->click();
    ServeRequests();
    EXPECT_EQ(Sent(), std::vector<std::uint8_t>{0x70});
    EXPECT_TRUE(Box()->isChecked());  // not read back yet
    EXPECT_FALSE(Box()->isEnabled());
    Poll();
    EXPECT_TRUE(Box()->isEnabled());
    EXPECT_FALSE(Box()->isChecked());
}

TEST_F(BuzzerMuteTest, EachDeviceShowsItsOwnBuzzer) {
    AddEnclosure("raid1");                                                   // sounding
    AddEnclosure("raid1", [](sim::Enclosure& e) { e.buzzerLetter = 'Y'; });  // muted
    MakeWindow();
    RunDiscovery();
    ServeRequests();
    EXPECT_FALSE(Box()->isChecked());
    window->statusPage().selectDevice(1);
    EXPECT_TRUE(Box()->isChecked());
    Poll();
    EXPECT_TRUE(Box()->isChecked());
    window->statusPage().selectDevice(0);
    EXPECT_FALSE(Box()->isChecked());
    EXPECT_TRUE(Box()->isEnabled());

    // A change asked for on one device stays with it while the other is shown.
    Box()->click();
    window->statusPage().selectDevice(1);
    EXPECT_TRUE(Box()->isEnabled());
    EXPECT_TRUE(Box()->isChecked());
    window->statusPage().selectDevice(0);
    EXPECT_FALSE(Box()->isEnabled());
    EXPECT_TRUE(Box()->isChecked());
}

TEST_F(BuzzerMuteTest, ADeviceWithoutTheSettingNeverShowsTheBox) {
    AddEnclosure("raid1");
    AddEnclosure("nosensors", [](sim::Enclosure& e) { e.settingCapabilityBits = 0; });
    MakeWindow();
    RunDiscovery();
    ASSERT_EQ(Slot(1).optionCapability & 0x01, 0);
    ServeRequests();
    EXPECT_FALSE(Box()->isHidden());

    window->statusPage().selectDevice(1);
    EXPECT_TRUE(Box()->isHidden());
    Poll();
    EXPECT_TRUE(Box()->isHidden());
    window->openSetupPage();
    window->openStatusPage();
    EXPECT_TRUE(Box()->isHidden());

    window->statusPage().selectDevice(0);
    EXPECT_FALSE(Box()->isHidden());
}

}  // namespace
}  // namespace raid::app::test
