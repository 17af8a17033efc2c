// Applying a schedule-backup period: refusals and the unchanged period, the
// two waits for the monitoring worker with their error codes, closing the
// window meanwhile, the settings-busy bit; and the buzzer mute request.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "device/protocol.h"
#include "maintenance/period_setting.h"

namespace raid::maintenance {
namespace {

namespace cmd = device::cmd;

// A window that records what it is told and lets a test play the worker
// from its pump.
class FakeWindow final : public PeriodSettingHost {
public:
    void Pump() override {
        ++pumps;
        if (onPump) onPump(pumps);
    }
    void SleepMs(std::uint32_t ms) override { sleptMs += ms; }
    void SetStatusPanel(int panel, const std::string& text) override {
        events.push_back("panel" + std::to_string(panel) + " " + text);
    }
    void Message(const std::string& text, const std::string& caption, bool warning) override {
        events.push_back((warning ? "warning " : "box ") + caption + ": " + text);
    }
    void RefreshPeriodDisplay() override { events.push_back("display"); }

    std::function<void(int)> onPump;
    int pumps = 0;
    std::uint32_t sleptMs = 0;
    std::vector<std::string> events;
};

struct Rig {
    AppState state;
    FakeWindow window;
    bool busy = false;

    Rig() {
        state.shell.detecting = false;
        state.shell.detectBusy = false;
    }
    PeriodSettingOutcome Apply(const PeriodCommand& command, std::uint8_t current = 0) {
        asked = command.value;
        return ApplyPeriodSetting(state, busy, command, current, 0, window);
    }
    // The worker: serves request `bit` at pump `at`; settings commands are
    // answered with `answer`.
    void ServeAt(int at, std::uint8_t bit, std::uint8_t answer = 0) {
        auto before = window.onPump;
        window.onPump = [this, at, bit, answer, before](int pump) {
            if (before) before(pump);
            if (pump != at) return;
            if (bit == poll::kPendingCommand) SendQueued(answer);
            if (bit == poll::kStatusPoll && pollReadsDevice) {
                state.monitor.changedDeviceMask = 1;
                state.monitor.deviceStatusRecord[0][rec::kSchedule] =
                    keptPeriod >= 0 ? static_cast<std::uint8_t>(keptPeriod) : asked;
            }
            state.shell.pollRequestFlags.fetch_and(static_cast<std::uint8_t>(~bit));
        };
    }
    void SendQueued(std::uint8_t answer) {
        auto& m = state.monitor;
        while (!m.settingQueue.empty()) {
            const QueuedSetting s = m.settingQueue.front();
            m.settingQueue.pop_front();
            sent.push_back(s);
            if (s.report) m.settingResults.emplace_back(s.ticket, SettingResult{true, answer});
        }
    }
    std::uint8_t QueuedCode() const {
        return state.monitor.settingQueue.empty() ? 0 : state.monitor.settingQueue.back().code;
    }
    std::vector<QueuedSetting> sent;
    std::uint8_t asked = 0;
    // What the poll reads back of device 0: the asked period unless the
    // controller kept `keptPeriod`.
    bool pollReadsDevice = true;
    int keptPeriod = -1;
};

PeriodCommand Preset(int k) {
    PeriodCommand c;
    c.code = static_cast<std::uint8_t>(cmd::kBackupPreset0 + k);
    c.value = static_cast<std::uint8_t>(k * 7);
    return c;
}

const std::string kFail = "warning Setting: Schedule Backup Setting fail!\n Please try again!";

TEST(PeriodSetting, WorkerAndPollDoneIsOk) {
    Rig rig;
    std::uint8_t queued = 0;
    rig.window.onPump = [&](int pump) {
        if (pump == 1) queued = rig.QueuedCode();
    };
    rig.ServeAt(3, poll::kPendingCommand);
    rig.ServeAt(5, poll::kStatusPoll);
    PeriodCommand c;
    c.code = cmd::kSetting;
    c.value = 3;
    c.params = {0x02, 0x03, 0xDF};
    EXPECT_EQ(rig.Apply(c, 7), PeriodSettingOutcome::Done);
    EXPECT_EQ(queued, cmd::kSetting);
    ASSERT_EQ(rig.sent.size(), 1u);
    EXPECT_EQ(rig.sent[0].params, (std::array<std::uint8_t, 3>{2, 3, 0xDF}));
    EXPECT_TRUE(rig.state.monitor.settingQueue.empty());
    EXPECT_TRUE(rig.state.monitor.settingResults.empty());  // taken
    EXPECT_EQ(rig.window.events,
              (std::vector<std::string>{"box Setting: Schedule Backup Setting OK!", "display"}));
    EXPECT_EQ(rig.window.sleptMs, 3u * kSettingWaitMs);  // after pumps 1, 2 and 4
    EXPECT_FALSE(rig.busy);
}

TEST(PeriodSetting, TimedOutWaitsGiveCodesOneAndTwo) {
    {
        Rig rig;  // nobody serves bit 1
        EXPECT_EQ(rig.Apply(Preset(3)), PeriodSettingOutcome::Failed);
        EXPECT_EQ(rig.window.pumps, kSettingWaitRounds + 1);
        EXPECT_EQ(rig.window.sleptMs, kSettingWaitRounds * kSettingWaitMs);
        EXPECT_EQ(rig.window.events,
                  (std::vector<std::string>{"panel4 Backup Setting error code :01", kFail,
                                            "panel4 ", "display"}));
        // No poll is asked for after the worker failed.
        EXPECT_EQ(rig.state.shell.pollRequestFlags & poll::kStatusPoll, 0);
        EXPECT_TRUE(rig.state.monitor.settingQueue.empty());
        EXPECT_FALSE(rig.busy);
    }
    {
        Rig rig;  // the command is sent, the poll never ends
        rig.ServeAt(1, poll::kPendingCommand);
        EXPECT_EQ(rig.Apply(Preset(1)), PeriodSettingOutcome::Failed);
        EXPECT_NE(rig.state.shell.pollRequestFlags & poll::kStatusPoll, 0);
        EXPECT_EQ(rig.window.events[0], "panel4 Backup Setting error code :02");
        EXPECT_EQ(rig.window.events[1], kFail);
    }
    {
        // The worker takes it on the last round that still counts.
        Rig rig;
        rig.ServeAt(kSettingWaitRounds + 1, poll::kPendingCommand);
        rig.ServeAt(kSettingWaitRounds + 2, poll::kStatusPoll);
        EXPECT_EQ(rig.Apply(Preset(1)), PeriodSettingOutcome::Done);
    }
}

TEST(PeriodSetting, OkOnlyWhenTheControllerTookThePeriod) {
    {
        Rig rig;  // the controller answers its failure code
        rig.ServeAt(1, poll::kPendingCommand, 0xF1);
        EXPECT_EQ(rig.Apply(Preset(2)), PeriodSettingOutcome::Failed);
        EXPECT_EQ(rig.window.events,
                  (std::vector<std::string>{"panel4 Backup Setting error code :F1", kFail,
                                            "panel4 ", "display"}));
        EXPECT_EQ(rig.state.shell.pollRequestFlags & poll::kStatusPoll, 0);
    }
    {
        Rig rig;  // it answers success but the poll reads the old period
        rig.keptPeriod = 7;
        rig.ServeAt(1, poll::kPendingCommand);
        rig.ServeAt(2, poll::kStatusPoll);
        EXPECT_EQ(rig.Apply(Preset(2), 7), PeriodSettingOutcome::Failed);
        EXPECT_EQ(rig.window.events[0], "panel4 Backup Setting error code :03");
        EXPECT_EQ(rig.window.events[1], kFail);
        // The poll was told to read the settings back.
        EXPECT_EQ(rig.state.discovery.deviceSlots[0].optionChangePending, 1);
    }
    {
        Rig rig;  // the poll ends without having read the device
        rig.pollReadsDevice = false;
        rig.ServeAt(1, poll::kPendingCommand);
        rig.ServeAt(2, poll::kStatusPoll);
        EXPECT_EQ(rig.Apply(Preset(2)), PeriodSettingOutcome::Failed);
        EXPECT_EQ(rig.window.events[0], "panel4 Backup Setting error code :02");
    }
    {
        Rig rig;  // the request ends but the command was dropped unsent
        rig.window.onPump = [&rig](int pump) {
            if (pump == 1) rig.state.monitor.settingQueue.clear();
            if (pump == 1)
                rig.state.shell.pollRequestFlags.fetch_and(
                    static_cast<std::uint8_t>(~poll::kPendingCommand));
        };
        EXPECT_EQ(rig.Apply(Preset(2)), PeriodSettingOutcome::Failed);
        EXPECT_EQ(rig.window.events[0], "panel4 Backup Setting error code :01");
    }
}

TEST(PeriodSetting, NoPollIsAskedForWhileSomethingHoldsItBack) {
    for (int blocker = 0; blocker < 4; ++blocker) {
        Rig rig;
        ShellFlags& s = rig.state.shell;
        if (blocker == 0) s.deviceChangeCountdown = 2;
        if (blocker == 1) s.detecting = true;
        if (blocker == 2) s.statusPollActive = true;
        if (blocker == 3) s.exclusiveOperation = true;
        rig.ServeAt(1, poll::kPendingCommand);
        EXPECT_EQ(rig.Apply(Preset(2)), PeriodSettingOutcome::Done) << blocker;
        EXPECT_EQ(s.pollRequestFlags.load(), 0) << blocker;
    }
}

TEST(PeriodSetting, ClosingEndsTheWaitsSilently) {
    // Closing before the worker sent the command, and during the poll after it.
    for (const bool sent : {false, true}) {
        Rig rig;
        rig.window.onPump = [&rig, sent](int pump) {
            if (sent && pump == 1) rig.SendQueued(0);
            if (sent && pump == 1)
                rig.state.shell.pollRequestFlags.fetch_and(
                    static_cast<std::uint8_t>(~poll::kPendingCommand));
            if (pump == 2) rig.state.shell.closing = true;
        };
        EXPECT_EQ(rig.Apply(Preset(2)), PeriodSettingOutcome::Closing) << sent;
        EXPECT_EQ(rig.window.pumps, 2) << sent;
        EXPECT_TRUE(rig.window.events.empty()) << sent;
        EXPECT_FALSE(rig.busy);
        EXPECT_TRUE(rig.state.monitor.settingQueue.empty());
    }
}

TEST(PeriodSetting, RefusedUnchangedAndBusyQueueNothing) {
    Rig rig;
    PeriodCommand tooLong;
    tooLong.refusal =
        "The period is too long for this enclosure: the longest it allows is 10 days "
        "15 hours.";
    EXPECT_EQ(rig.Apply(tooLong), PeriodSettingOutcome::Refused);
    EXPECT_EQ(rig.window.events, std::vector<std::string>{"warning Setting: " + tooLong.refusal});

    rig.window.events.clear();
    EXPECT_EQ(rig.Apply(Preset(2), 14), PeriodSettingOutcome::Unchanged);
    EXPECT_TRUE(rig.window.events.empty());

    rig.busy = true;  // a click from inside the pump of a running setting
    EXPECT_EQ(rig.Apply(Preset(2)), PeriodSettingOutcome::Busy);
    EXPECT_TRUE(rig.busy);
    EXPECT_EQ(rig.window.pumps, 0);
    EXPECT_EQ(rig.state.shell.pollRequestFlags.load(), 0);
    EXPECT_TRUE(rig.state.monitor.settingQueue.empty());

    // While the procedure waits, a second click is turned away.
    rig.busy = false;
    PeriodSettingOutcome inner = PeriodSettingOutcome::Done;
    rig.window.onPump = [&](int pump) {
        if (pump == 1) inner = ApplyPeriodSetting(rig.state, rig.busy, Preset(1), 0, 0, rig.window);
    };
    rig.ServeAt(2, poll::kPendingCommand);
    rig.ServeAt(3, poll::kStatusPoll);
    EXPECT_EQ(rig.Apply(Preset(3)), PeriodSettingOutcome::Done);
    EXPECT_EQ(inner, PeriodSettingOutcome::Busy);
}

TEST(BuzzerMute, QueuesTheCommandAndMarksTheDeviceForReading) {
    AppState state;
    SetBuzzerMute(state, 1, true);
    ASSERT_EQ(state.monitor.settingQueue.size(), 1u);
    EXPECT_EQ(state.monitor.settingQueue.back().code, cmd::kBuzzerMuteOn);
    EXPECT_EQ(state.monitor.settingQueue.back().device, 1);
    EXPECT_NE(state.shell.pollRequestFlags & poll::kPendingCommand, 0);
    EXPECT_EQ(state.discovery.deviceSlots[1].optionChangePending, 1);
    EXPECT_EQ(state.discovery.deviceSlots[0].optionChangePending, 0);
    SetBuzzerMute(state, 0, false);  // queued behind the first, not over it
    ASSERT_EQ(state.monitor.settingQueue.size(), 2u);
    EXPECT_EQ(state.monitor.settingQueue.front().code, cmd::kBuzzerMuteOn);
    EXPECT_EQ(state.monitor.settingQueue.back().code, cmd::kBuzzerMuteOff);
    EXPECT_EQ(state.monitor.settingQueue.back().device, 0);
    SetBuzzerMute(state, 9, true);  // no such slot: the selected device
    EXPECT_EQ(state.monitor.settingQueue.back().code, cmd::kBuzzerMuteOn);
    EXPECT_EQ(state.monitor.settingQueue.back().device, -1);

    DeviceSlot slot;
    slot.optionCapability = 0x02;
    EXPECT_FALSE(TakesUserPeriod(slot));
    slot.optionCapability = 0x82;
    EXPECT_TRUE(TakesUserPeriod(slot));
    slot.optionCapability = 0x81;
    EXPECT_FALSE(TakesUserPeriod(slot));
}

}  // namespace
}  // namespace raid::maintenance
