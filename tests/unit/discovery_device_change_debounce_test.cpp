// The device-change debounce end to end: device-change messages, the countdown, discovery on the
// (here synchronous) detection thread, and what the window is told.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "discovery/device_change_debounce.h"
#include "discovery/drive_enum.h"
#include "discovery/probe.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"

namespace raid::discovery {
namespace {

using std::chrono::milliseconds;

// The window as the device-change tick sees it.
class FakeHost final : public DiscoveryHost {
public:
    FakeHost(AppState& state, device::CommandChannel& ch) : state_(state), ch_(ch) {}

    void SetStatusPanel(int panel, const std::string& text) override {
        panels.at(static_cast<std::size_t>(panel)) = text;
    }
    void SetDeviceSelector(int index, bool present) override {
        selector.at(static_cast<std::size_t>(index)) = present;
    }
    std::string DetectionNoticeText() const override { return text; }
    bool DetectionNoticeVisible() const override { return textVisible; }
    void SetDetectionNoticeText(const std::string& t) override { text = t; }
    void SetDetectionNoticeVisible(bool v) override { textVisible = v; }
    void SetPageButtonsEnabled(bool enabled) override {
        pageButtons = enabled;
        upgradeButton = enabled;
    }
    void SetUpgradeButtonEnabled(bool enabled) override { upgradeButton = enabled; }
    void ShowEventLogButton() override { eventLogButton = true; }
    void RefreshDeviceSummary() override { ++summaryRefreshes; }
    void ShowStatusPage() override { ++statusPageShown; }
    void SetStatusTimeReference(TimePoint when) override { timeReference = when; }
    void EnablePollTimers() override { pollTimers = true; }
    void StopSmartCountdown() override { smartCountdown = false; }
    int CountLogicalDrives() override { return ListLogicalDrives(state_.discovery, ch_.disks); }
    int CountPhysicalDisks() override { return discovery::CountPhysicalDisks(ch_); }
    TimePoint Now() override { return ch_.clock.WallNow(); }
    void RaiseMailEvent(int kind, int device, int member) override {
        mails.push_back({kind, device, member});
    }
    void Pump() override {}

    std::array<std::string, 5> panels;
    std::array<bool, 2> selector{};
    std::string text = "Drive detecting";
    bool textVisible = true;
    bool pageButtons = false;
    bool upgradeButton = false;
    bool eventLogButton = false;
    int summaryRefreshes = 0;
    int statusPageShown = 0;
    std::optional<TimePoint> timeReference;
    bool pollTimers = false;
    bool smartCountdown = true;
    std::vector<std::array<int, 3>> mails;

private:
    AppState& state_;
    device::CommandChannel& ch_;
};

sim::Enclosure Named(const std::string& model) {
    sim::Enclosure e = *sim::ScenarioEnclosure("raid1");
    e.controllerModel = model;
    return e;
}

struct Rig {
    platform::ManualClock clock{TimePoint{} + std::chrono::hours(24 * 365 * 50)};
    sim::SimDiskSystem disks;
    device::CommandChannel ch{disks, clock};
    AppState state;
    FakeHost host{state, ch};
    int discoveries = 0;

    // An enclosure with `volumes` partitions on it.
    std::shared_ptr<sim::ControllerEmulator> Plug(sim::Enclosure e, int volumes = 1) {
        auto emu = std::make_shared<sim::ControllerEmulator>(std::move(e), &clock);
        const int n = disks.AddEnclosure(emu);
        for (int k = 1; k <= volumes; ++k) {
            platform::VolumeInfo v;
            v.name = "sim" + std::to_string(n) + "p" + std::to_string(k);
            v.diskNumber = n;
            v.driveType = platform::kDriveFixed;
            disks.AddVolume(v);
        }
        return emu;
    }
    // The detection thread's loop, one pass.
    void DetectionThread() {
        if (ServeDetectRequest(state, ch)) ++discoveries;
    }
    // What the program does at start: baselines, the first discovery, and the
    // tick that applies it; then the first status is shown.
    void StartUp() {
        TakeDriveBaselines(state.discovery, ch);
        DetectionThread();
        Tick();
        state.shell.firstStatusPending = false;
    }
    // One device-change tick, after which the detection thread serves a request.
    void Tick() {
        clock.Advance(kDeviceChangeTickMs);
        OnDeviceChangeTick(state, host);
        DetectionThread();
    }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i) Tick();
    }
};

const std::vector<std::string> kNoLines;

TEST(DeviceChangeStartUp, FirstDiscoveryEnablesThePagesWithoutLogLines) {
    Rig rig;
    rig.Plug(Named("FIRST"));
    rig.StartUp();
    EXPECT_EQ(rig.discoveries, 1);
    EXPECT_EQ(rig.state.discovery.deviceCount, 1);
    EXPECT_EQ(rig.host.panels[1], "Detected OK");
    EXPECT_EQ(rig.host.selector, (std::array<bool, 2>{true, false}));
    EXPECT_TRUE(rig.host.pageButtons);
    EXPECT_TRUE(rig.host.eventLogButton);
    EXPECT_TRUE(rig.host.pollTimers);
    EXPECT_EQ(rig.host.summaryRefreshes, 1);
    EXPECT_FALSE(rig.host.textVisible);
    EXPECT_EQ(rig.host.text, " ");
    EXPECT_FALSE(rig.state.shell.detecting.load());
    EXPECT_EQ(rig.state.shell.pollRequestFlags.load() & 0x29, 0x29);
    EXPECT_EQ(rig.state.discovery.deviceChangeLines, kNoLines);
    // The status page dates its first status by the identification's change.
    ASSERT_TRUE(rig.host.timeReference.has_value());
    EXPECT_EQ(*rig.host.timeReference, rig.state.discovery.identityChangedAt[0]);
    EXPECT_NE(rig.state.discovery.identityChangedAt[0], TimePoint{});
}

TEST(DeviceChangeStartUp, NothingFoundShowsTheMessageAndKeepsPagesDisabled) {
    Rig rig;
    rig.disks.AddPlainDisk();
    rig.StartUp();
    EXPECT_EQ(rig.state.discovery.deviceCount, 0);
    EXPECT_EQ(rig.host.text, "No Drive found! ");
    EXPECT_TRUE(rig.host.textVisible);
    EXPECT_FALSE(rig.host.pageButtons);
    EXPECT_FALSE(rig.host.smartCountdown);
    EXPECT_FALSE(rig.state.shell.detecting.load());
}

TEST(DeviceChangeDebounce, SecondEnclosurePluggedIn) {
    Rig rig;
    rig.Plug(Named("FIRST"));
    rig.StartUp();
    rig.Plug(Named("SECOND"));
    OnDeviceChangeMessage(rig.state);

    rig.Ticks(10);  // the countdown
    EXPECT_EQ(rig.discoveries, 1);
    EXPECT_FALSE(rig.state.shell.detecting.load());
    rig.Tick();  // counts changed: discovery requested and run
    EXPECT_EQ(rig.discoveries, 2);
    EXPECT_FALSE(rig.host.upgradeButton);  // no upgrade while discovery runs
    rig.Tick();                            // result applied

    EXPECT_EQ(rig.state.discovery.deviceChangeLines,
              (std::vector<std::string>{"D2 New Device was found.", "    Device had changed."}));
    EXPECT_TRUE(rig.state.discovery.deviceChangeLinesPending);
    EXPECT_EQ(rig.host.selector, (std::array<bool, 2>{true, true}));
    EXPECT_EQ(rig.state.discovery.deviceCount, 2);
    EXPECT_EQ(rig.state.discovery.deviceTable[1], 0x41u);
    EXPECT_TRUE(rig.host.upgradeButton);
    EXPECT_TRUE(rig.host.mails.empty());
}

TEST(DeviceChangeDebounce, OnlyEnclosureUnplugged) {
    Rig rig;
    rig.Plug(Named("ONLY"));
    rig.StartUp();
    rig.disks.RemoveDisk(0);
    OnDeviceChangeMessage(rig.state);
    rig.Ticks(12);

    EXPECT_EQ(rig.state.discovery.deviceChangeLines,
              (std::vector<std::string>{"D1 Device was removed.", "    Device had changed."}));
    EXPECT_EQ(rig.host.mails, (std::vector<std::array<int, 3>>{{2, 0, 0}}));
    EXPECT_EQ(rig.host.text, "No Drive found! ");
    EXPECT_TRUE(rig.host.textVisible);
    EXPECT_FALSE(rig.host.pageButtons);
    EXPECT_FALSE(rig.host.smartCountdown);
    EXPECT_EQ(rig.host.selector, (std::array<bool, 2>{false, false}));
    EXPECT_EQ(rig.state.discovery.deviceCount, 0);
}

TEST(DeviceChangeDebounce, MessageThatChangesNoCountStartsNoDiscovery) {
    Rig rig;
    rig.Plug(Named("ONLY"));
    rig.StartUp();
    OnDeviceChangeMessage(rig.state);
    rig.Ticks(15);
    EXPECT_EQ(rig.discoveries, 1);
    EXPECT_FALSE(rig.state.shell.detectBusy.load());
    EXPECT_FALSE(rig.state.shell.detecting.load());
    EXPECT_EQ(rig.state.shell.deviceChangeCountdown.load(), 0);
    EXPECT_TRUE(rig.host.upgradeButton);
}

TEST(DeviceChangeDebounce, BurstStartsDiscoveryAboutFiveSecondsAfterTheLastMessage) {
    Rig rig;
    rig.Plug(Named("FIRST"));
    rig.StartUp();
    rig.Plug(Named("SECOND"));
    // Messages every 200 ms from t = 100 to 2100 ms, a tick every 500 ms.
    constexpr int kLastMessage = 2100;
    std::optional<int> started;
    for (int t = 0; t <= 10000 && !started; t += 100) {
        if (t % 200 == 100 && t <= kLastMessage) OnDeviceChangeMessage(rig.state);
        if (t % 500 == 0) {
            OnDeviceChangeTick(rig.state, rig.host);
            if (rig.state.shell.detectRequest.load()) started = t;
        }
    }
    ASSERT_TRUE(started.has_value());
    EXPECT_GE(*started, kLastMessage + 5000);
    EXPECT_LE(*started, kLastMessage + 5500);
}

TEST(DeviceChangeDebounce, EnclosureReplacedWithEqualCountsOnlyUpdatesItsIdentityTime) {
    Rig rig;
    rig.Plug(Named("BEFORE"), 1);
    rig.StartUp();
    const TimePoint first = rig.state.discovery.identityChangedAt[0];

    // Same enclosure, one more partition: discovery runs, identity unchanged.
    rig.disks.AddVolume({"sim0p9", "", "", 0, platform::kDriveFixed, 0, 0});
    OnDeviceChangeMessage(rig.state);
    rig.Ticks(12);
    EXPECT_EQ(rig.discoveries, 2);
    EXPECT_EQ(rig.state.discovery.identityChangedAt[0], first);

    // Another enclosure on the same disk, with another partition count.
    rig.disks.RemoveDisk(0);
    rig.Plug(Named("AFTER"), 3);
    OnDeviceChangeMessage(rig.state);
    rig.Ticks(12);
    EXPECT_EQ(rig.discoveries, 3);
    EXPECT_GT(rig.state.discovery.identityChangedAt[0], first);
    EXPECT_EQ(rig.state.discovery.deviceChangeLines, kNoLines);
    EXPECT_TRUE(rig.host.mails.empty());
}

TEST(DeviceChangeGuards, ExclusiveOperationAndPollHoldTheRunBack) {
    Rig rig;
    rig.Plug(Named("FIRST"));
    rig.StartUp();
    rig.Plug(Named("SECOND"));
    OnDeviceChangeMessage(rig.state);
    rig.Ticks(10);

    rig.state.shell.exclusiveOperation = true;
    rig.Ticks(3);
    EXPECT_EQ(rig.discoveries, 1);
    EXPECT_TRUE(rig.host.upgradeButton);  // given back at once
    EXPECT_FALSE(rig.state.shell.detecting.load());
    EXPECT_EQ(rig.state.shell.deviceChangeCountdown.load(), kCountdownEnd);
    rig.state.shell.exclusiveOperation = false;

    rig.state.shell.statusPollActive = true;
    rig.Ticks(3);
    EXPECT_EQ(rig.discoveries, 1);
    rig.state.shell.statusPollActive = false;

    rig.Tick();
    EXPECT_EQ(rig.discoveries, 2);
}

TEST(DeviceChangeGuards, CommandOrSmartReadBeingServedHoldsTheRunAndTheApplyBack) {
    Rig rig;
    rig.Plug(Named("FIRST"));
    rig.StartUp();
    rig.Plug(Named("SECOND"));
    OnDeviceChangeMessage(rig.state);
    rig.Ticks(9);
    // A settings command pumps events while it waits: the countdown's end
    // must not count drives or start a discovery in its middle.
    rig.state.monitor.serving = true;
    rig.Ticks(3);
    EXPECT_EQ(rig.discoveries, 1);
    EXPECT_FALSE(rig.state.shell.detecting.load());
    rig.state.monitor.serving = false;

    // The discovery ran; its result waits while a poll is being served.
    rig.clock.Advance(kDeviceChangeTickMs);
    OnDeviceChangeTick(rig.state, rig.host);
    rig.DetectionThread();
    ASSERT_EQ(rig.discoveries, 2);
    ASSERT_TRUE(rig.state.shell.detectDone.load());
    rig.state.monitor.serving = true;
    OnDeviceChangeTick(rig.state, rig.host);
    EXPECT_EQ(rig.state.discovery.deviceCount, 1);
    rig.state.monitor.serving = false;
    OnDeviceChangeTick(rig.state, rig.host);
    EXPECT_EQ(rig.state.discovery.deviceCount, 2);
}

TEST(DeviceChangeGuards, NoSecondDiscoveryWhileOneProbesAndAFinishedOneIsAppliedFirst) {
    Rig rig;
    rig.Plug(Named("FIRST"));
    rig.StartUp();
    // A discovery is under way on the detection thread (not served here).
    rig.state.shell.detectBusy = true;
    rig.state.shell.detectRequest = true;
    rig.Plug(Named("SECOND"));
    OnDeviceChangeMessage(rig.state);
    for (int i = 0; i < 12; ++i) {
        rig.clock.Advance(kDeviceChangeTickMs);
        OnDeviceChangeTick(rig.state, rig.host);
    }
    // The countdown's end waits: no drive counting beside the probe.
    EXPECT_EQ(rig.state.shell.deviceChangeCountdown.load(), kCountdownEnd);
    EXPECT_FALSE(rig.state.shell.detecting.load());

    rig.DetectionThread();  // the running discovery ends
    ASSERT_TRUE(rig.state.shell.detectDone.load());
    const int before = rig.discoveries;
    OnDeviceChangeTick(rig.state, rig.host);  // applied before anything else
    EXPECT_FALSE(rig.state.shell.detectDone.load());
    EXPECT_EQ(rig.state.shell.deviceChangeCountdown.load(), kCountdownEnd);
    // Then the countdown's end counts the drives and runs its own discovery.
    rig.Tick();
    EXPECT_EQ(rig.discoveries, before + 1);
    rig.Tick();
    EXPECT_EQ(rig.state.discovery.deviceCount, 2);
}

TEST(DeviceChangeBlink, DriveDetectingBlinksWhileDiscoveryRuns) {
    Rig rig;
    rig.state.shell.detectBusy = true;
    rig.host.text = "Drive detecting";
    rig.host.textVisible = true;
    OnDeviceChangeTick(rig.state, rig.host);
    EXPECT_FALSE(rig.host.textVisible);
    OnDeviceChangeTick(rig.state, rig.host);
    EXPECT_TRUE(rig.host.textVisible);

    rig.host.text = "No Drive found! ";
    OnDeviceChangeTick(rig.state, rig.host);
    EXPECT_TRUE(rig.host.textVisible);
}

}  // namespace
}  // namespace raid::discovery
