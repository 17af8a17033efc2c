// Time from a device-change message to the applied discovery result, in real
// time: the device-change debounce ticks every 500 ms, the probe with its pauses
// on a detection thread, and the application of the result. Two emulated
// enclosures are plugged in, then a third one arrives.
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "device/channel.h"
#include "discovery/device_change_debounce.h"
#include "discovery/discovery_host.h"
#include "discovery/drive_enum.h"
#include "discovery/probe.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"

namespace {

using namespace raid;

// A window that shows nothing; counts come from the emulated disks.
class HeadlessHost final : public discovery::DiscoveryHost {
public:
    HeadlessHost(AppState& s, device::CommandChannel& ch) : state_(s), ch_(ch) {}
    void SetStatusPanel(int, const std::string&) override {}
    void SetDeviceSelector(int, bool) override {}
    std::string DetectionNoticeText() const override { return text_; }
    bool DetectionNoticeVisible() const override { return visible_; }
    void SetDetectionNoticeText(const std::string& t) override { text_ = t; }
    void SetDetectionNoticeVisible(bool v) override { visible_ = v; }
    void SetPageButtonsEnabled(bool) override {}
    void SetUpgradeButtonEnabled(bool) override {}
    void ShowEventLogButton() override {}
    void RefreshDeviceSummary() override {}
    void ShowStatusPage() override {}
    void SetStatusTimeReference(TimePoint) override {}
    void EnablePollTimers() override {}
    void StopSmartCountdown() override {}
    int CountLogicalDrives() override {
        return discovery::ListLogicalDrives(state_.discovery, ch_.disks);
    }
    int CountPhysicalDisks() override { return discovery::CountPhysicalDisks(ch_); }
    TimePoint Now() override { return std::chrono::system_clock::now(); }
    void RaiseMailEvent(int, int, int) override {}
    void Pump() override {}

private:
    AppState& state_;
    device::CommandChannel& ch_;
    std::string text_;
    bool visible_ = false;
};

}  // namespace

int main() {
    platform::SystemClock clock;
    sim::SimDiskSystem disks;
    for (const char* name : {"raid1", "raid0"})
        disks.AddEnclosure(
            std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure(name), &clock));
    device::CommandChannel ch(disks, clock);
    AppState state;
    discovery::TakeDriveBaselines(state.discovery, ch);
    HeadlessHost host(state, ch);

    auto runUntilApplied = [&] {
        using namespace std::chrono;
        const auto start = steady_clock::now();
        std::thread worker;
        while (true) {
            if (state.shell.detectRequest && !worker.joinable())
                worker = std::thread([&] { discovery::ServeDetectRequest(state, ch); });
            const bool wasDone = state.shell.detectDone;
            discovery::OnDeviceChangeTick(state, host);
            if (wasDone && !state.shell.detectDone) break;
            std::this_thread::sleep_for(milliseconds(500));
        }
        if (worker.joinable()) worker.join();
        return duration_cast<milliseconds>(steady_clock::now() - start).count();
    };

    const auto first = runUntilApplied();
    std::printf("start-up discovery of 2 enclosures: %lld ms (devices found: %d)\n",
                static_cast<long long>(first), state.discovery.deviceCount);

    disks.AddEnclosure(
        std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure("raid1"), &clock));
    discovery::OnDeviceChangeMessage(state);
    const auto plugged = runUntilApplied();
    std::printf("device-change message to applied result (3 enclosures): %lld ms (devices: %d)\n",
                static_cast<long long>(plugged), state.discovery.deviceCount);
    return 0;
}
