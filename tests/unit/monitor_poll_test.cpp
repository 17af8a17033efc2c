// The status poll against emulated enclosures: which devices it queries,
// what it decodes into the status records, the back-off for silent devices,
// rebuild progress, and how it stops for an exclusive operation or Closing.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "device/protocol.h"
#include "discovery/drive_enum.h"
#include "discovery/probe.h"
#include "monitor/status_poll.h"
#include "sim/emulator.h"
#include "sim/enclosure_data.h"
#include "sim/sim_disks.h"

namespace raid::monitor {
namespace {

namespace cmd = device::cmd;

// The main window as the poll sees it.
class FakeHost final : public MonitorHost {
public:
    void SetStatusPanel(int panel, const std::string& text) override {
        panels.at(static_cast<std::size_t>(panel)).push_back(text);
    }
    void Pump() override {
        ++pumps;
        if (onPump) onPump(pumps);
    }
    bool IsSelectorChecked(int index) const override {
        return selectors.at(static_cast<std::size_t>(index));
    }
    void UncheckSelector(int index) override {
        selectors.at(static_cast<std::size_t>(index)) = false;
    }
    int CurrentPage() const override { return page; }
    int SelectedDevice() const override { return 0; }
    bool DeviceSwitchInProgress() const override { return false; }
    void DetectEvents(std::uint8_t mask) override { detected.push_back(mask); }
    void RefreshStatusPage(bool full) override { statusRefreshes.push_back(full); }
    void RefreshSetupPage() override { ++setupRefreshes; }
    void Message(const std::string& text, const std::string& caption) override {
        messages.emplace_back(text, caption);
    }
    std::string TimeStampText(TimePoint) override { return "TS"; }

    std::array<std::vector<std::string>, 5> panels;
    std::array<bool, 2> selectors{true, true};
    int page = kPageStatus;
    int pumps = 0;
    std::function<void(int pumpCount)> onPump;
    std::vector<std::uint8_t> detected;
    std::vector<bool> statusRefreshes;
    int setupRefreshes = 0;
    std::vector<std::pair<std::string, std::string>> messages;
};

// An enclosure whose rebuild progress reply never reports a running rebuild,
// whatever the member states say: the two replies disagree forever.
class DisagreeingDisks final : public platform::DiskSystem {
public:
    explicit DisagreeingDisks(sim::SimDiskSystem& inner) : inner_(inner) {}
    std::vector<platform::DiskInfo> ListDisks() override { return inner_.ListDisks(); }
    std::vector<platform::VolumeInfo> ListVolumes() override { return inner_.ListVolumes(); }
    platform::OpenResult OpenDisk(int number) override {
        auto r = inner_.OpenDisk(number);
        if (r) r.handle = std::make_unique<Handle>(std::move(r.handle), inner_.Emulator(number));
        return r;
    }

private:
    class Handle final : public platform::DiskHandle {
    public:
        Handle(std::unique_ptr<platform::DiskHandle> inner,
               std::shared_ptr<sim::ControllerEmulator> emu)
            : inner_(std::move(inner)), emu_(std::move(emu)) {}
        bool ReadSectors(std::uint32_t lba, std::span<std::uint8_t> buffer,
                         std::uint8_t count) override {
            const bool ok = inner_->ReadSectors(lba, buffer, count);
            if (ok && lba == device::kReplyLba && emu_) {
                const auto done = emu_->ExecutedCommands();
                if (!done.empty() && done.back() == cmd::kRebuildProgress) buffer[84] = 0;
            }
            return ok;
        }
        bool InquiryDevice(std::span<std::uint8_t> buffer) override {
            return inner_->InquiryDevice(buffer);
        }
        bool TryLockCommands() override { return inner_->TryLockCommands(); }
        void UnlockCommands() override { inner_->UnlockCommands(); }

    private:
        std::unique_ptr<platform::DiskHandle> inner_;
        std::shared_ptr<sim::ControllerEmulator> emu_;
    };
    sim::SimDiskSystem& inner_;
};

struct PollRig {
    platform::ManualClock clock;
    sim::SimDiskSystem sim;
    platform::DiskSystem* disks = &sim;
    std::unique_ptr<device::CommandChannel> ch;
    AppState state;
    FakeHost host;
    std::vector<std::shared_ptr<sim::ControllerEmulator>> emus;

    std::shared_ptr<sim::ControllerEmulator> Plug(sim::Enclosure e) {
        auto emu = std::make_shared<sim::ControllerEmulator>(std::move(e), &clock);
        sim.AddEnclosure(emu);
        emus.push_back(emu);
        return emu;
    }
    std::shared_ptr<sim::ControllerEmulator> Plug(const std::string& scenario = "raid1") {
        return Plug(*sim::ScenarioEnclosure(scenario));
    }
    // Discovery as the detection thread and the device-change tick leave it, then the first
    // status shown: the next poll queries.
    void Discover(bool firstStatusShown = true) {
        ch = std::make_unique<device::CommandChannel>(*disks, clock);
        state.shell.detecting = true;
        discovery::TakeDriveBaselines(state.discovery, *ch);
        discovery::RunDiscovery(state, *ch);
        auto& d = state.discovery;
        d.deviceTable = d.newDeviceTable;
        d.deviceCount = d.newDeviceCount;
        state.shell.detecting = false;
        state.shell.detectBusy = false;
        state.shell.detectRequest = false;
        state.shell.firstStatusPending = !firstStatusShown;
        ClearTraces();
    }
    void ClearTraces() {
        for (auto& e : emus) e->ClearTrace();
        queriedBefore.assign(emus.size(), 0);
        for (std::size_t k = 0; k < emus.size(); ++k)
            queriedBefore[k] = emus[k]->ExecutedCommands().size();
    }
    // Commands device k's controller executed since the last ClearTraces.
    std::vector<std::uint8_t> Executed(std::size_t k) const {
        auto all = emus[k]->ExecutedCommands();
        return {all.begin() + static_cast<long>(queriedBefore[k]), all.end()};
    }
    void Poll() {
        if (!ch) ch = std::make_unique<device::CommandChannel>(*disks, clock);
        StatusPoll(state, *ch, clock, host);
    }
    Record512& RecordOf(int device) {
        return state.monitor
            .deviceStatusRecord[static_cast<std::size_t>(state.discovery.DiskOf(device))];
    }
    std::vector<std::size_t> queriedBefore;
};

std::vector<std::uint8_t> Bytes(const Record512& r, std::size_t offset, std::size_t n) {
    return {r.begin() + static_cast<long>(offset), r.begin() + static_cast<long>(offset + n)};
}

std::string Model(const Record512& r, std::size_t offset) {
    std::string s;
    for (std::size_t k = 0; k < 40; ++k) s.push_back(static_cast<char>(r[offset + (k ^ 1)]));
    return s.substr(0, s.find_last_not_of(' ') + 1);
}

std::uint64_t Le48(const Record512& r, std::size_t offset) {
    std::uint64_t v = 0;
    for (std::size_t k = 6; k-- > 0;) v = (v << 8) | r[offset + k];
    return v;
}

TEST(StatusPollDevices, NoDeviceQueriesNothingAndStillDetectsEvents) {
    PollRig rig;
    auto emu = rig.Plug();  // present, but no discovery has recorded it
    rig.state.shell.detecting = false;
    rig.state.shell.firstStatusPending = false;
    rig.Poll();

    EXPECT_TRUE(emu->Trace().empty());
    EXPECT_EQ(rig.host.detected, std::vector<std::uint8_t>{0});
    EXPECT_TRUE(rig.host.statusRefreshes.empty());
    EXPECT_FALSE(rig.state.shell.statusPollActive.load());
    EXPECT_EQ(rig.host.panels[3], std::vector<std::string>{"G = 2x, 01"});
    EXPECT_EQ(rig.host.panels[2], std::vector<std::string>{"SC = 1x0001"});
    EXPECT_EQ(rig.host.panels[0],
              (std::vector<std::string>{"0x,01", "0x,01", "3x,01", "4x,01", "5x,01"}));

    // Blocked polls count but neither query nor detect.
    rig.state.shell.detecting = true;
    rig.Poll();
    rig.state.shell.detecting = false;
    rig.state.shell.deviceChangeCountdown = 17;
    rig.Poll();
    rig.state.shell.deviceChangeCountdown = 0;
    rig.state.shell.closing = true;
    rig.Poll();
    EXPECT_EQ(rig.host.panels[3].back(), "G = 2x, 04");
    EXPECT_EQ(rig.host.detected.size(), 1u);
    EXPECT_EQ(rig.host.panels[2].size(), 1u);
}

TEST(StatusPollDevices, FirstPollReportsCheckedDevicesWithoutQuerying) {
    PollRig rig;
    rig.Plug();
    rig.Plug("raid0");
    rig.Discover(/*firstStatusShown=*/false);
    ASSERT_EQ(rig.state.discovery.deviceCount, 2);
    rig.state.discovery.deviceChangeRedraw = false;

    rig.host.selectors = {true, false};
    rig.Poll();
    EXPECT_EQ(rig.host.detected, std::vector<std::uint8_t>{0x01});
    rig.host.selectors = {true, true};
    rig.Poll();
    EXPECT_EQ(rig.host.detected.back(), 0x03);
    EXPECT_TRUE(rig.emus[0]->Trace().empty());
    EXPECT_TRUE(rig.emus[1]->Trace().empty());
    // Full redraws while the first status is pending.
    EXPECT_EQ(rig.host.statusRefreshes, (std::vector<bool>{true, true}));
}

TEST(StatusPollDevices, ThirdDeviceIsNeverPolled) {
    PollRig rig;
    rig.Plug();
    rig.Plug("raid0");
    rig.Plug("jbod");
    rig.Discover();
    ASSERT_EQ(rig.state.discovery.deviceCount, 3);
    rig.host.page = kPageSetup;

    rig.Poll();
    EXPECT_EQ(rig.host.detected, std::vector<std::uint8_t>{0x03});
    EXPECT_FALSE(rig.emus[0]->Trace().empty());
    EXPECT_FALSE(rig.emus[1]->Trace().empty());
    EXPECT_TRUE(rig.emus[2]->Trace().empty());
    // Not on the status page: only the setup page is refreshed.
    EXPECT_TRUE(rig.host.statusRefreshes.empty());
    EXPECT_EQ(rig.host.setupRefreshes, 1);
    // A healthy mirror with sensors: information, then array status.
    EXPECT_EQ(rig.Executed(0), (std::vector<std::uint8_t>{cmd::kInformation, cmd::kArrayStatus}));
}

TEST(StatusPollDevices, DeviceHeldByAnUpgradeIsSkipped) {
    PollRig rig;
    rig.Plug();
    rig.Plug("raid0");
    rig.Discover();
    rig.state.shell.operationDeviceIndex = 1;
    rig.Poll();
    EXPECT_EQ(rig.host.detected, std::vector<std::uint8_t>{0x01});
    EXPECT_TRUE(rig.emus[1]->Trace().empty());
}

TEST(StatusPollBackOff, SilentDeviceIsSkippedEveryOtherPollThenUnticked) {
    PollRig rig;
    auto silent = rig.Plug();
    auto healthy = rig.Plug("raid0");
    rig.Discover();
    ASSERT_EQ(silent->Control("silent on"), "");

    std::vector<int> queriedPolls;
    for (int poll = 1; poll <= 12; ++poll) {
        silent->ClearTrace();
        healthy->ClearTrace();
        const bool checkedBefore = rig.host.selectors[0];
        rig.Poll();
        if (!silent->Trace().empty()) queriedPolls.push_back(poll);
        EXPECT_FALSE(healthy->Trace().empty()) << poll;
        // The silent device never counts as changed; the healthy one always.
        EXPECT_EQ(rig.host.detected.back(), 0x02) << poll;
        if (poll < 11) {
            EXPECT_TRUE(rig.host.selectors[0]) << poll;
        }
        if (poll == 11) {
            EXPECT_TRUE(checkedBefore);
            EXPECT_FALSE(rig.host.selectors[0]);
            EXPECT_EQ(rig.state.discovery.deviceSlots[0].failureCount, 0);
        }
    }
    EXPECT_EQ(queriedPolls, (std::vector<int>{1, 3, 5, 7, 9, 11}));

    // Ticked again and answering: one success resets the count.
    ASSERT_EQ(silent->Control("silent off"), "");
    rig.host.selectors[0] = true;
    rig.state.discovery.deviceSlots[0].failureCount = 2;
    rig.Poll();
    EXPECT_EQ(rig.host.detected.back(), 0x03);
    EXPECT_EQ(rig.state.discovery.deviceSlots[0].failureCount, 0);
}

TEST(StatusPollDecode, ArrayModes) {
    PollRig rig;
    auto emu = rig.Plug();
    rig.Discover();
    const std::pair<std::uint8_t, std::uint8_t> cases[] = {{0, 3}, {1, 0}, {2, 1}, {5, 63}};
    for (const auto& [replyByte, code] : cases) {
        emu->WithModel([&](sim::Enclosure& m) { m.arrayModeByte = replyByte; });
        rig.Poll();
        EXPECT_EQ(rig.RecordOf(0)[rec::kArrayMode], code) << int{replyByte};
        EXPECT_EQ(rig.host.detected.back(), 0x01);
    }
}

TEST(StatusPollDecode, StateCodeSevenIsAbsentAndKeepsTheLastKnownDisk) {
    PollRig rig;
    auto emu = rig.Plug();
    rig.Discover();
    const auto before = rig.RecordOf(0);
    ASSERT_EQ(before[rec::kDiskStateFlags], 0x22);

    emu->WithModel([](sim::Enclosure& m) {
        m.members[0].state = 7;
        m.members[0].model = "SOMETHING ELSE";
        m.members[0].serial = "OTHER";
        m.members[0].capacitySectors = 12345;
        m.members[1].serial = "NEWSERIAL2";
    });
    rig.Poll();
    const auto& after = rig.RecordOf(0);
    EXPECT_EQ(after[rec::kHdd1State], 7);
    EXPECT_EQ(after[rec::kDiskStateFlags], 0x24);
    EXPECT_EQ(Bytes(after, rec::kHdd1Model, 40), Bytes(before, rec::kHdd1Model, 40));
    EXPECT_EQ(Bytes(after, rec::kHdd1Serial, 20), Bytes(before, rec::kHdd1Serial, 20));
    EXPECT_EQ(Bytes(after, rec::kHdd1Capacity, 6), Bytes(before, rec::kHdd1Capacity, 6));
    // The present member is read afresh.
    std::vector<std::uint8_t> serial2(20);
    sim::PutAtaText(serial2, "NEWSERIAL2");
    EXPECT_EQ(Bytes(after, rec::kHdd2Serial, 20), serial2);
    EXPECT_EQ(rig.host.detected.back(), 0x01);
}

TEST(StatusPollDecode, MemberOrderFollowsIdentifyByte49) {
    PollRig rig;
    auto emu = rig.Plug();
    emu->WithModel([](sim::Enclosure& m) {
        m.members[0].model = "FIRST MEMBER";
        m.members[0].capacitySectors = 2000000;
        m.members[1].model = "SECOND MEMBER";
        m.members[1].state = 9;
    });
    rig.Discover();
    auto& identify = rig.state.discovery.identifyRecord[0];
    ASSERT_EQ(identify[49] & 0x10, 0);  // HDD1 is the port block at 160

    rig.Poll();
    EXPECT_EQ(Model(rig.RecordOf(0), rec::kHdd1Model), "FIRST MEMBER");
    EXPECT_EQ(Le48(rig.RecordOf(0), rec::kHdd1Capacity), 2000000u);
    EXPECT_EQ(Model(rig.RecordOf(0), rec::kHdd2Model), "SECOND MEMBER");
    EXPECT_EQ(rig.RecordOf(0)[rec::kDiskStateFlags], 0x82);

    identify[49] |= 0x10;  // now HDD1 is the block at 84
    rig.Poll();
    EXPECT_EQ(Model(rig.RecordOf(0), rec::kHdd1Model), "SECOND MEMBER");
    EXPECT_EQ(rig.RecordOf(0)[rec::kHdd1State], 9);
    EXPECT_EQ(rig.RecordOf(0)[rec::kDiskStateFlags], 0x28);
}

TEST(StatusPollRebuild, ProgressIsReadOnceTheArrayReportsARebuild) {
    PollRig rig;
    auto emu = rig.Plug();
    rig.Discover();
    emu->WithModel([](sim::Enclosure& m) {
        m.members[0].state = 1;
        m.rebuildTotal = 1000;
        m.rebuildDone = 333;
        m.rebuildStepPercent = 0;
    });
    const std::uint64_t start = rig.clock.NowMs();
    rig.Poll();
    const auto& r = rig.RecordOf(0);
    EXPECT_EQ(r[rec::kRebuildPercent], 33);
    EXPECT_EQ(r[rec::kRebuildFlags], 0x01);
    EXPECT_EQ(rig.state.discovery.deviceSlots[0].rebuildTracking, 1);
    EXPECT_EQ(rig.host.detected.back(), 0x01);
    // Pass 1 finds the rebuild in the array status, pass 2 reads progress.
    EXPECT_EQ(rig.Executed(0), (std::vector<std::uint8_t>{cmd::kInformation, cmd::kArrayStatus,
                                                          cmd::kRebuildProgress}));
    EXPECT_EQ(rig.host.panels[1], (std::vector<std::string>{"y2,01", "y3,01", "y0,02", "y1,02"}));
    EXPECT_GE(rig.clock.NowMs() - start, 3u * kPollQueryPauseMs);

    // Next poll goes straight to progress; then the rebuild ends.
    rig.ClearTraces();
    emu->WithModel([](sim::Enclosure& m) { m.rebuildDone = 500; });
    rig.Poll();
    EXPECT_EQ(r[rec::kRebuildPercent], 50);
    EXPECT_EQ(rig.Executed(0),
              (std::vector<std::uint8_t>{cmd::kInformation, cmd::kRebuildProgress}));
    ASSERT_EQ(emu->Control("rebuild-done"), "");
    rig.ClearTraces();
    rig.Poll();
    EXPECT_EQ(r[rec::kRebuildFlags], 0);
    EXPECT_EQ(rig.state.discovery.deviceSlots[0].rebuildTracking, 0);
    EXPECT_EQ(rig.Executed(0), (std::vector<std::uint8_t>{cmd::kInformation, cmd::kRebuildProgress,
                                                          cmd::kArrayStatus}));
}

TEST(StatusPollRebuild, DisagreeingControllerEndsAfterBoundedPassesOrOnClosing) {
    PollRig rig;
    DisagreeingDisks disagreeing(rig.sim);
    rig.disks = &disagreeing;
    auto emu = rig.Plug();
    emu->WithModel([](sim::Enclosure& m) { m.members[1].state = 1; });
    rig.Discover();
    ASSERT_EQ(rig.state.discovery.deviceSlots[0].rebuildTracking, 1);

    rig.Poll();
    const auto done = rig.Executed(0);
    // Information, then per pass progress and array status.
    EXPECT_EQ(done.size(), 1u + 2u * kMaxQueryPasses);
    EXPECT_EQ(rig.host.detected.back(), 0x01);
    EXPECT_EQ(rig.RecordOf(0)[rec::kRebuildFlags], 0x02);
    EXPECT_EQ(rig.state.discovery.deviceSlots[0].rebuildTracking, 1);
    EXPECT_FALSE(rig.state.shell.statusPollActive.load());

    // Closing while the passes repeat: the poll ends at the next check.
    rig.ClearTraces();
    int sleeps = 0;
    rig.clock.onSleep = [&](std::uint64_t) {
        if (++sleeps == 6) rig.state.shell.closing = true;
    };
    const auto detections = rig.host.detected.size();
    rig.Poll();
    EXPECT_LE(rig.Executed(0).size(), 6u);
    EXPECT_EQ(rig.host.detected.size(), detections);
    EXPECT_FALSE(rig.state.shell.statusPollActive.load());
}

TEST(StatusPollAbort, ExclusiveOperationStartedDuringThePollStopsIt) {
    PollRig rig;
    rig.Plug();
    rig.Plug("raid0");
    rig.Discover();
    rig.host.onPump = [&](int count) {
        EXPECT_TRUE(rig.state.shell.statusPollActive.load());
        if (count == 2) rig.state.shell.exclusiveOperation = true;  // before device 2
    };
    rig.emus[0]->WithModel([](sim::Enclosure& m) { m.temperature = 51; });
    rig.Poll();
    EXPECT_FALSE(rig.emus[0]->Trace().empty());
    EXPECT_TRUE(rig.emus[1]->Trace().empty());
    EXPECT_TRUE(rig.host.detected.empty());
    EXPECT_TRUE(rig.host.statusRefreshes.empty());
    EXPECT_FALSE(rig.state.shell.statusPollActive.load());
    EXPECT_EQ(rig.RecordOf(0)[rec::kTemperature], 51);  // decoded values stay

    // Set from a pause inside the first query: nothing after it is sent.
    rig.state.shell.exclusiveOperation = false;
    rig.host.onPump = nullptr;
    rig.ClearTraces();
    rig.clock.onSleep = [&](std::uint64_t) { rig.state.shell.exclusiveOperation = true; };
    rig.Poll();
    EXPECT_EQ(rig.Executed(0), std::vector<std::uint8_t>{cmd::kInformation});
    EXPECT_TRUE(rig.host.detected.empty());
    EXPECT_FALSE(rig.state.shell.statusPollActive.load());
}

TEST(StatusPollTrace, PanelTextsOfOneHealthyPoll) {
    PollRig rig;
    rig.Plug();
    rig.Discover();
    rig.state.monitor.pollCounter = 0x1FF;
    rig.host.selectors = {true, false};
    rig.Poll();
    EXPECT_EQ(rig.host.panels[3], std::vector<std::string>{"G = 2x, 200"});
    EXPECT_EQ(rig.host.panels[2], std::vector<std::string>{"SC = 1x01200"});
    EXPECT_EQ(rig.host.panels[0],
              (std::vector<std::string>{"0x,200", "1x,200", "1y,200", "2x,200", "01,yy,200",
                                        "0x,200", "3x,200", "4x,200", "5x,200"}));
    EXPECT_EQ(rig.host.panels[1], (std::vector<std::string>{"y2,01", "y3,01"}));
    EXPECT_EQ(rig.host.statusRefreshes, std::vector<bool>{false});
}

}  // namespace
}  // namespace raid::monitor
