// Sending the queued settings command and the settings line it leaves for
// the event log, against the emulated controller.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "device/protocol.h"
#include "discovery/drive_enum.h"
#include "discovery/probe.h"
#include "monitor/pending_command.h"
#include "monitor/quiet_host.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"

namespace raid::monitor {
namespace {

namespace cmd = device::cmd;

class RecordingHost final : public QuietMonitorHost {
public:
    void SetStatusPanel(int panel, const std::string& text) override {
        panels.emplace_back(panel, text);
    }
    bool DeviceSwitchInProgress() const override { return switching; }
    void Message(const std::string& text, const std::string& caption) override {
        messages.emplace_back(text, caption);
    }
    std::string TimeStampText(TimePoint) override { return "15/03/2024 12:00:00"; }

    bool switching = false;
    std::vector<std::pair<int, std::string>> panels;
    std::vector<std::pair<std::string, std::string>> messages;
};

struct CommandRig {
    platform::ManualClock clock;
    sim::SimDiskSystem disks;
    device::CommandChannel ch{disks, clock};
    AppState state;
    RecordingHost host;
    std::vector<std::shared_ptr<sim::ControllerEmulator>> emus;

    explicit CommandRig(int enclosures) {
        for (int k = 0; k < enclosures; ++k) {
            auto emu = std::make_shared<sim::ControllerEmulator>(
                *sim::ScenarioEnclosure(k == 0 ? "raid1" : "raid0"), &clock);
            disks.AddEnclosure(emu);
            emus.push_back(emu);
        }
        discovery::TakeDriveBaselines(state.discovery, ch);
        discovery::RunDiscovery(state, ch);
        state.discovery.deviceTable = state.discovery.newDeviceTable;
        state.discovery.deviceCount = state.discovery.newDeviceCount;
        state.shell.detecting = false;
        for (auto& e : emus) e->ClearTrace();
    }
    std::size_t Sent(int k) const { return emus[static_cast<std::size_t>(k)]->Trace().size(); }
    std::uint8_t LastCommand(int k) const {
        return emus[static_cast<std::size_t>(k)]->ExecutedCommands().back();
    }
    bool Apply(std::uint8_t code) {
        if (code != 0) QueueSettingsCommand(state.monitor, code);
        return ApplyPendingCommand(state, ch, clock, host);
    }
    std::vector<std::string>& Lines() { return state.monitor.settingsLogLines; }
};

TEST(BackupPeriodText, DaysAndHours) {
    EXPECT_EQ(BackupPeriodText(30, 1), "1d-6h, ");
    EXPECT_EQ(BackupPeriodText(48, 1), "2d, ");
    EXPECT_EQ(BackupPeriodText(5, 1), "5h, ");
    EXPECT_EQ(BackupPeriodText(0, 24), "OFF, ");
    EXPECT_EQ(BackupPeriodText(7, 0), "OFF, ");
    EXPECT_EQ(BackupPeriodText(255, 31), "329d-9h, ");
}

TEST(PendingCommand, BuzzerAndPresetLines) {
    CommandRig rig(1);
    const std::string ts = "15/03/2024 12:00:00";
    ASSERT_EQ(rig.state.discovery.deviceSlots[0].optionCapability & 0x02, 0x02);
    ASSERT_EQ(rig.state.discovery.deviceSlots[0].scheduleKind, 24);

    EXPECT_TRUE(rig.Apply(cmd::kBuzzerMuteOn));
    EXPECT_EQ(rig.LastCommand(0), cmd::kBuzzerMuteOn);
    EXPECT_TRUE(rig.Apply(cmd::kBuzzerMuteOff));
    for (std::uint8_t code = cmd::kBackupPreset0; code <= cmd::kBackupPreset3; ++code)
        EXPECT_TRUE(rig.Apply(code));
    EXPECT_EQ(rig.ch.params[1], 30);  // the preset sent last
    EXPECT_EQ(rig.Lines(), (std::vector<std::string>{
                               "D1 Buzzer Mute(setted): ON, " + ts,
                               "D1 Buzzer Mute(setted): OFF, " + ts,
                               "D1 Backup Period(Setted): OFF, " + ts,
                               "D1 Backup Period(Setted): 1d, " + ts,
                               "D1 Backup Period(Setted): 7d, " + ts,
                               "D1 Backup Period(Setted): 30d, " + ts,
                           }));
    EXPECT_EQ(rig.state.shell.nowTime, rig.clock.WallNow());
    // Each sent command leaves the queue.
    EXPECT_TRUE(rig.state.monitor.settingQueue.empty());
}

TEST(PendingCommand, ParameterisedSettingLines) {
    CommandRig rig(2);
    rig.host.selected = 1;
    auto& slot = rig.state.discovery.deviceSlots[1];
    slot.optionCapability |= 0x02;
    slot.scheduleKind = 1;  // hours per unit

    QueueSettingsCommand(rig.state.monitor, cmd::kSetting, 1, 0x5A, 0xDF);
    EXPECT_TRUE(ApplyPendingCommand(rig.state, rig.ch, rig.clock, rig.host));
    QueueSettingsCommand(rig.state.monitor, cmd::kSetting, 1, 0x00, 0xDF);
    EXPECT_TRUE(ApplyPendingCommand(rig.state, rig.ch, rig.clock, rig.host));
    QueueSettingsCommand(rig.state.monitor, cmd::kSetting, 2, 30, 0xDF);
    EXPECT_TRUE(ApplyPendingCommand(rig.state, rig.ch, rig.clock, rig.host));
    QueueSettingsCommand(rig.state.monitor, cmd::kSetting, 3, 30, 0xDF);
    EXPECT_TRUE(
        ApplyPendingCommand(rig.state, rig.ch, rig.clock, rig.host));  // sent, but leaves no line
    EXPECT_EQ(rig.Sent(0), 0u);
    EXPECT_EQ(rig.LastCommand(1), cmd::kSetting);
    EXPECT_EQ(rig.state.discovery.currentDevice, 1);
    const std::string ts = "15/03/2024 12:00:00";
    EXPECT_EQ(rig.Lines(), (std::vector<std::string>{
                               "D2 Buzzer Mute(setted): OFF, " + ts,
                               "D2 Buzzer Mute(setted): ON, " + ts,
                               "D2 Backup Period(Setted): 1d-6h, " + ts,
                           }));
}

TEST(PendingCommand, QueuedParametersGoOutEvenAfterADiscoverySentItsOwn) {
    CommandRig rig(1);
    QueueSettingsCommand(rig.state.monitor, cmd::kSetting, 2, 3, 0xDF);
    // A discovery runs between queueing and sending: its capability query
    // (0x78 with 0x33, 0xEF, 0xDF) goes through the same channel.
    discovery::RunDiscovery(rig.state, rig.ch);
    rig.emus[0]->ClearTrace();
    const auto before = rig.emus[0]->ExecutedCommandBytes().size();
    EXPECT_TRUE(ApplyPendingCommand(rig.state, rig.ch, rig.clock, rig.host));
    const auto sent = rig.emus[0]->ExecutedCommandBytes();
    ASSERT_EQ(sent.size(), before + 1);
    EXPECT_EQ(sent.back(), (std::array<std::uint8_t, 4>{cmd::kSetting, 2, 3, 0xDF}));
    EXPECT_EQ(rig.Lines().back(), "D1 Backup Period(Setted): 3d, 15/03/2024 12:00:00");
}

TEST(PendingCommand, NothingSentOrLoggedWhenItCannotOrNeedNotBe) {
    CommandRig rig(1);
    // No code queued: the device is checked, nothing is sent.
    EXPECT_TRUE(rig.Apply(0));
    EXPECT_EQ(rig.Sent(0), 0u);

    rig.state.shell.operationDeviceIndex = 0;
    EXPECT_FALSE(rig.Apply(cmd::kBuzzerMuteOn));
    rig.state.shell.operationDeviceIndex = kNoOperationDevice;
    rig.host.switching = true;
    EXPECT_FALSE(rig.Apply(cmd::kBuzzerMuteOn));
    rig.host.switching = false;
    EXPECT_EQ(rig.Sent(0), 0u);
    EXPECT_TRUE(rig.host.messages.empty());

    // The controller does not answer: success, but no line.
    ASSERT_EQ(rig.emus[0]->Control("silent on"), "");
    EXPECT_TRUE(rig.Apply(cmd::kBuzzerMuteOn));
    EXPECT_GT(rig.Sent(0), 0u);
    EXPECT_TRUE(rig.Lines().empty());
    ASSERT_EQ(rig.emus[0]->Control("silent off"), "");

    rig.disks.SetOpenError(0, platform::OpenError::PermissionDenied);
    EXPECT_FALSE(rig.Apply(cmd::kBuzzerMuteOn));
    EXPECT_EQ(rig.host.messages,
              (std::vector<std::pair<std::string, std::string>>{{"Invalid Drive", ""}}));

    rig.state.discovery.deviceCount = 0;
    EXPECT_FALSE(rig.Apply(cmd::kBuzzerMuteOn));
    EXPECT_EQ(rig.host.messages.back(),
              (std::pair<std::string, std::string>{"No Device found !", "Message"}));
    EXPECT_EQ(rig.host.panels,
              (std::vector<std::pair<int, std::string>>{{4, "Device not found!!!"}}));
    EXPECT_TRUE(rig.Lines().empty());
}

}  // namespace
}  // namespace raid::monitor
