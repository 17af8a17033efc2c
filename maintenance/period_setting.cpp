#include "maintenance/period_setting.h"

#include <cstdio>
#include <optional>

#include "device/protocol.h"
#include "monitor/pending_command.h"

namespace raid::maintenance {
namespace {

const char* const kErrorCodeText = "Backup Setting error code :";

constexpr int kWorkerDidNotTake = 1;
constexpr int kPollDidNotFinish = 2;
constexpr int kPeriodNotTaken = 3;

enum class WaitEnd { Cleared, TimedOut, Closing };

// Waits for the worker to clear request `bit`, letting the window run
// between rounds.
WaitEnd WaitForRequest(AppState& state, std::uint8_t bit, PeriodSettingHost& host) {
    for (int rounds = 0;;) {
        host.Pump();
        if ((state.shell.pollRequestFlags.load() & bit) == 0) return WaitEnd::Cleared;
        if (++rounds > kSettingWaitRounds) return WaitEnd::TimedOut;
        if (state.shell.closing.load()) return WaitEnd::Closing;
        host.SleepMs(kSettingWaitMs);
    }
}

// A status poll may be asked for unless something would hold it back anyway.
bool PollMayStart(const ShellFlags& s) {
    return s.deviceChangeCountdown.load() == 0 && !s.detecting.load() &&
           !s.statusPollActive.load() && !s.exclusiveOperation.load() && !s.closing.load();
}

// Clears the settings-busy bit however the procedure ends.
class BusyScope {
public:
    explicit BusyScope(bool& busy) : busy_(busy) { busy_ = true; }
    ~BusyScope() { busy_ = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    bool& busy_;
};

// The period the last poll read from device `deviceIndex`; nullopt when that
// poll did not read the device.
std::optional<std::uint8_t> PolledPeriod(const AppState& state, int deviceIndex) {
    if (deviceIndex < 0 || deviceIndex >= kShownDevices) return std::nullopt;
    if ((state.monitor.changedDeviceMask & (1u << deviceIndex)) == 0) return std::nullopt;
    const int disk = state.discovery.DiskOf(deviceIndex);
    if (disk >= kMaxDisks) return std::nullopt;
    return BackupStatusOf(state.monitor.deviceStatusRecord[static_cast<std::size_t>(disk)]).period;
}

}  // namespace

PeriodSettingOutcome ApplyPeriodSetting(AppState& state, bool& settingBusy,
                                        const PeriodCommand& command, std::uint8_t currentPeriod,
                                        int deviceIndex, PeriodSettingHost& host) {
    if (settingBusy) return PeriodSettingOutcome::Busy;
    const BusyScope busy(settingBusy);

    if (!command.refusal.empty()) {
        host.Message(command.refusal, kSettingCaption, true);
        return PeriodSettingOutcome::Refused;
    }
    if (command.value == currentPeriod) return PeriodSettingOutcome::Unchanged;

    ShellFlags& shell = state.shell;
    // Only one period is applied at a time: a result left over is from one
    // that gave up waiting for it.
    state.monitor.settingResults.clear();
    const std::uint32_t ticket =
        monitor::QueueSettingsCommand(state.monitor, command.code, command.params[0],
                                      command.params[1], command.params[2], deviceIndex, true);
    shell.pollRequestFlags.fetch_or(poll::kPendingCommand);
    const WaitEnd sent = WaitForRequest(state, poll::kPendingCommand, host);
    // A command the worker did not take is not sent later behind the user's
    // back; other queued commands stay.
    monitor::WithdrawSetting(state.monitor, ticket);
    const auto result = monitor::TakeSettingResult(state.monitor, ticket);
    if (shell.closing.load()) return PeriodSettingOutcome::Closing;

    int code = 0;
    if (sent != WaitEnd::Cleared || !result || !result->sent) {
        code = kWorkerDidNotTake;
    } else if (result->answer != device::kResultSuccess) {
        // The controller's own failure code tells the user what went wrong.
        code = result->answer;
    } else {
        const bool asked = PollMayStart(shell);
        if (asked) {
            // The poll reads the controller's settings back.
            if (deviceIndex >= 0 && deviceIndex < kDeviceSlots)
                state.discovery.deviceSlots[static_cast<std::size_t>(deviceIndex)]
                    .optionChangePending = 1;
            shell.pollRequestFlags.fetch_or(poll::kStatusPoll);
        }
        const WaitEnd polled = WaitForRequest(state, poll::kStatusPoll, host);
        if (polled == WaitEnd::Closing) return PeriodSettingOutcome::Closing;
        if (polled == WaitEnd::TimedOut) {
            code = kPollDidNotFinish;
        } else if (asked) {
            // Without a poll the controller's answer is all there is to go by.
            const auto period = PolledPeriod(state, deviceIndex);
            if (!period)
                code = kPollDidNotFinish;
            else if (*period != command.value)
                code = kPeriodNotTaken;
        }
    }

    if (code != 0) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%02X", code);
        host.SetStatusPanel(4, kErrorCodeText + std::string(digits));
        host.Message(kPeriodFailText, kSettingCaption, true);
        host.SetStatusPanel(4, "");
    } else {
        host.Message(kPeriodOkText, kSettingCaption, false);
    }
    host.RefreshPeriodDisplay();
    return code != 0 ? PeriodSettingOutcome::Failed : PeriodSettingOutcome::Done;
}

void SetBuzzerMute(AppState& state, int deviceIndex, bool muted) {
    const bool known = deviceIndex >= 0 && deviceIndex < kDeviceSlots;
    monitor::QueueSettingsCommand(state.monitor,
                                  muted ? device::cmd::kBuzzerMuteOn : device::cmd::kBuzzerMuteOff,
                                  0xCF, 0xDF, 0xEF, known ? deviceIndex : -1);
    state.shell.pollRequestFlags.fetch_or(poll::kPendingCommand);
    if (known)
        state.discovery.deviceSlots[static_cast<std::size_t>(deviceIndex)].optionChangePending = 1;
}

bool TakesUserPeriod(const DeviceSlot& slot) {
    constexpr std::uint8_t kBoth = kScheduleCapability | kUserPeriodCapability;
    return (slot.optionCapability & kBoth) == kBoth;
}

}  // namespace raid::maintenance
