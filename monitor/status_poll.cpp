#include "monitor/status_poll.h"

#include <cstdio>

#include "device/protocol.h"
#include "monitor/status_decode.h"

namespace raid::monitor {
namespace {

constexpr std::size_t kRebuildRunningByte = 84;
constexpr std::uint8_t kRebuildRunning = 2;
constexpr std::size_t kMemberOrderByte = 49;
constexpr std::uint8_t kMemberOrderBit = 0x10;

bool Aborted(const AppState& state) {
    return state.shell.exclusiveOperation.load() || state.shell.closing.load();
}

// What one device's queries came to.
enum class Outcome { Success, Failure, Aborted };

class Poll {
public:
    Poll(AppState& state, device::CommandChannel& ch, platform::Clock& clock, MonitorHost& host)
        : state_(state), ch_(ch), clock_(clock), host_(host) {}

    void Run();

private:
    Outcome QueryDevice(int index);
    // Sleeps, sends `code` to `disk`; false when the poll must stop.
    bool Query(int disk, std::uint8_t code, std::uint8_t& result);
    // Status bar panel 0: the step `prefix` and the poll counter.
    void ShowPollStep(const std::string& prefix) {
        host_.SetStatusPanel(0, prefix + Hex2(counter_));
    }
    void EndActive() { state_.shell.statusPollActive = false; }

    AppState& state_;
    device::CommandChannel& ch_;
    platform::Clock& clock_;
    MonitorHost& host_;
    std::uint32_t counter_ = 0;
    device::ReplySector reply_{};
};

bool Poll::Query(int disk, std::uint8_t code, std::uint8_t& result) {
    result = device::QueryController(ch_, disk, code, reply_);
    return !Aborted(state_);
}

Outcome Poll::QueryDevice(int index) {
    auto& d = state_.discovery;
    auto& slot = d.deviceSlots[static_cast<std::size_t>(index)];
    d.currentDevice = index;
    const int disk = d.DiskOf(index);
    // Discovery only records disks 0..9; anything else cannot have a record.
    if (disk >= kMaxDisks) return Outcome::Failure;
    auto& record = state_.monitor.deviceStatusRecord[static_cast<std::size_t>(disk)];
    const auto& identify = d.identifyRecord[static_cast<std::size_t>(disk)];
    const bool buzzerCapability = (slot.optionCapability & kBuzzerCapability) != 0;

    std::uint8_t result = device::kResultSuccess;
    if (slot.hasSensors != 0 || slot.optionChangePending != 0) {
        clock_.SleepMs(kPollQueryPauseMs);
        ShowPollStep("1y,");
        if (!Query(disk, device::cmd::kInformation, result)) return Outcome::Aborted;
        if (result == device::kResultSuccess) {
            DecodeInformation(record, reply_, buzzerCapability);
            // A setting still queued will be read back by a later poll.
            if ((state_.shell.pollRequestFlags.load() & poll::kPendingCommand) == 0)
                slot.optionChangePending = 0;
        }
    }

    ShowPollStep("2x,");
    std::uint16_t pass = 0;
    while (result == device::kResultSuccess) {
        ++pass;
        const std::string passText = Hex2(pass);
        host_.SetStatusPanel(0, passText + ",yy," + Hex2(counter_));
        if (slot.rebuildTracking != 0) {
            clock_.SleepMs(kPollQueryPauseMs);
            host_.SetStatusPanel(1, "y0," + passText);
            if (!Query(disk, device::cmd::kRebuildProgress, result)) return Outcome::Aborted;
            host_.SetStatusPanel(1, "y1," + passText);
            if (result == device::kResultSuccess) {
                if (reply_[kRebuildRunningByte] == kRebuildRunning) {
                    record[rec::kRebuildPercent] = RebuildPercent(reply_);
                    break;
                }
                slot.rebuildTracking = 0;
            }
        }
        if (slot.rebuildTracking == 0) {
            clock_.SleepMs(kPollQueryPauseMs);
            host_.SetStatusPanel(1, "y2," + passText);
            if (!Query(disk, device::cmd::kArrayStatus, result)) return Outcome::Aborted;
            host_.SetStatusPanel(1, "y3," + passText);
            if (result == device::kResultSuccess) {
                DecodeArrayStatus(record, reply_,
                                  (identify[kMemberOrderByte] & kMemberOrderBit) != 0,
                                  MemberFill::Poll);
                if (record[rec::kRebuildFlags] == 0) break;
                slot.rebuildTracking = 1;
            }
        }
        host_.SetStatusPanel(0, passText + ",yz," + Hex2(counter_));
        // The replies keep disagreeing: keep what the array status said.
        if (result == device::kResultSuccess && pass >= kMaxQueryPasses) break;
    }
    return result == device::kResultSuccess ? Outcome::Success : Outcome::Failure;
}

void Poll::Run() {
    auto& shell = state_.shell;
    auto& mon = state_.monitor;
    auto& d = state_.discovery;
    counter_ = ++mon.pollCounter;
    host_.SetStatusPanel(3, "G = 2x, " + Hex2(counter_));
    if (shell.deviceChangeCountdown.load() != 0 || shell.detecting.load()) return;
    if (Aborted(state_)) return;

    host_.SetStatusPanel(
        2, "SC = 1x" + Hex2(static_cast<std::uint32_t>(d.deviceCount)) + Hex2(counter_));
    shell.statusPollActive = true;
    mon.changedDeviceMask = 0;

    for (int i = 0; i < kShownDevices; ++i) {
        host_.Pump();
        if (Aborted(state_)) return EndActive();
        ShowPollStep("0x,");
        if (i >= d.deviceCount || !host_.IsSelectorChecked(i) ||
            static_cast<std::uint32_t>(i) == shell.operationDeviceIndex.load())
            continue;
        const auto bit = static_cast<std::uint8_t>(1u << i);
        if (shell.firstStatusPending.load()) {
            mon.changedDeviceMask |= bit;
            continue;
        }
        ShowPollStep("1x,");
        auto& slot = d.deviceSlots[static_cast<std::size_t>(i)];
        d.currentDevice = i;
        if ((slot.failureCount & 1) != 0) {
            ++slot.failureCount;
            continue;
        }
        switch (QueryDevice(i)) {
            case Outcome::Aborted:
                return EndActive();
            case Outcome::Failure:
                if (++slot.failureCount > kMaxFailureCount) {
                    host_.UncheckSelector(i);
                    slot.failureCount = 0;
                }
                break;
            case Outcome::Success:
                mon.changedDeviceMask |= bit;
                slot.failureCount = 0;
                break;
        }
    }

    ShowPollStep("3x,");
    if (Aborted(state_)) return EndActive();
    ShowPollStep("4x,");
    host_.DetectEvents(mon.changedDeviceMask);
    if (mon.changedDeviceMask != 0 && host_.CurrentPage() == kPageStatus)
        host_.RefreshStatusPage(shell.firstStatusPending.load() || d.deviceChangeRedraw);
    if (host_.CurrentPage() == kPageSetup) host_.RefreshSetupPage();
    EndActive();
    ShowPollStep("5x,");
}

}  // namespace

std::string Hex2(std::uint32_t value) {
    char buf[12];
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(value));
    return buf;
}

void StatusPoll(AppState& state, device::CommandChannel& ch, platform::Clock& clock,
                MonitorHost& host) {
    Poll(state, ch, clock, host).Run();
}

}  // namespace raid::monitor
