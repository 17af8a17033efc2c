// The window keeps answering during device work, device changes never cut
// into a command, and a device that goes away does not stay the shown one.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <algorithm>
#include <atomic>
#include <thread>

#include "app/status_page.h"
#include "device/channel.h"
#include "main_window_fixture.h"
#include "monitor/pending_command.h"

namespace raid::app::test {
namespace {

class ResponsivenessTest : public MainWindowTest {
protected:
    void TwoEnclosures() {
        AddEnclosure("raid1");
        AddEnclosure("raid0");
        MakeWindow();
        RunDiscovery();
        ServeRequests();  // the first, full refresh
    }
    void RequestPoll() {
        window->onPollTick();
        window->onPollTick();
    }
    // Records the clock at every turn of the window's event loop that device
    // work gives it, and runs `during` at each.
    void WatchPumps(std::function<void()> during = {}) {
        auto& ctx = window->context();
        inner_ = ctx.windowPump;
        ctx.windowPump = [this, during] {
            pumpedAt.push_back(clock->NowMs());
            if (during) during();
            if (inner_) inner_();
        };
    }
    std::uint64_t LongestGap() const {
        std::uint64_t longest = 0;
        for (std::size_t i = 1; i < pumpedAt.size(); ++i)
            longest = std::max(longest, pumpedAt[i] - pumpedAt[i - 1]);
        return longest;
    }
    std::vector<std::uint64_t> pumpedAt;

private:
    platform::PumpHook inner_;
};

TEST_F(ResponsivenessTest, PausesOfAPollAndASettingsCommandKeepTheEventLoopTurning) {
    TwoEnclosures();
    WatchPumps();
    const std::uint64_t start = clock->NowMs();
    RequestPoll();
    ServeRequests();
    // Two devices, two 200 ms pauses each: the pauses happened, in slices.
    EXPECT_GE(clock->NowMs() - start, 800u);
    EXPECT_LE(LongestGap(), platform::PumpingClock::kSliceMs);

    pumpedAt.clear();
    monitor::QueueSettingsCommand(window->state().monitor, device::cmd::kBuzzerMuteOn);
    window->state().shell.pollRequestFlags |= poll::kPendingCommand;
    ServeRequests();
    EXPECT_EQ(disks->Emulator(0)->ExecutedCommands().back(), device::cmd::kBuzzerMuteOn);
    ASSERT_FALSE(pumpedAt.empty());
    EXPECT_LE(LongestGap(), platform::PumpingClock::kSliceMs);
}

TEST_F(ResponsivenessTest, DeviceChangeDuringAPollWaitsUntilThePollIsOver) {
    TwoEnclosures();
    AddEnclosure("raid1");  // a third one is plugged in
    bool changed = false;
    WatchPumps([&] {
        // Messages and debounce ticks arrive while the poll pauses and sends.
        if (!changed) {
            window->onDeviceChangeMessage();
            changed = true;
        }
        window->onDeviceChangeTick();
        EXPECT_FALSE(window->state().shell.detectRequest.load());
        EXPECT_FALSE(window->state().shell.detecting.load());
    });
    const auto before0 = disks->Emulator(0)->Sequences();
    RequestPoll();
    ServeRequests();
    for (int k = 0; k < 2; ++k) {
        const auto seq = disks->Emulator(k)->Sequences();
        EXPECT_EQ(seq.started, seq.executed) << k;
        EXPECT_EQ(seq.badCrc, 0u) << k;
    }
    EXPECT_GT(disks->Emulator(0)->Sequences().executed, before0.executed);

    // Once the poll is over the debounce goes on and finds the third one.
    window->context().windowPump = nullptr;
    for (int i = 0; i < 12 && !window->state().shell.detectRequest.load(); ++i)
        window->onDeviceChangeTick();
    EXPECT_TRUE(window->state().shell.detectRequest.load());
}

TEST_F(ResponsivenessTest, QueryFromAnotherProgramBesideThePollsTakesTurns) {
    TwoEnclosures();
    // raidctl's query runs in its own process with its own channel; here a
    // thread with its own channel and a real clock stands in for it.
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0};
    std::thread other([&] {
        platform::SystemClock realClock;
        device::CommandChannel ch{*disks, realClock};
        while (!stop.load()) {
            device::ReplySector reply{};
            if (device::QueryController(ch, 0, device::cmd::kInformation, reply) ==
                device::kResultSuccess)
                ++answered;
        }
    });
    for (int i = 0; i < 20; ++i) {
        RequestPoll();
        ServeRequests();
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (answered.load() < 20 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_GE(answered.load(), 20);
    stop = true;
    other.join();
    const auto seq = disks->Emulator(0)->Sequences();
    EXPECT_EQ(seq.badCrc, 0u);
    EXPECT_EQ(seq.started, seq.executed);
    EXPECT_EQ(window->state().discovery.deviceSlots[0].failureCount, 0);
}

TEST_F(ResponsivenessTest, ShownDeviceMovesWhenItsSelectorIsUntickedForIt) {
    TwoEnclosures();
    window->statusPage().selectDevice(1);
    ASSERT_EQ(window->SelectedDevice(), 1);
    // Ten failed polls in a row untick Device2's selector.
    window->UncheckSelector(1);
    EXPECT_FALSE(Find<QCheckBox>("device2Box")->isChecked());
    EXPECT_EQ(window->SelectedDevice(), 0);
    EXPECT_EQ(window->state().discovery.currentDevice, 0);

    // The debounce finds Device2 gone: the same.
    Find<QCheckBox>("device2Box")->setChecked(true);
    window->statusPage().onSelectorClicked(1);
    window->statusPage().selectDevice(1);
    window->SetDeviceSelector(1, false);
    EXPECT_EQ(window->SelectedDevice(), 0);
}

}  // namespace
}  // namespace raid::app::test
