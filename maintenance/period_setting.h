#pragma once
// Applying a chosen schedule-backup period, and the buzzer mute. Both only
// queue a controller command for the monitoring worker, which sends it with
// ApplyPendingCommand. Applying a period then waits, letting the window run,
// until the worker has sent it and a status poll has read the enclosure
// back, and tells the user how that went.
#include <cstdint>
#include <string>

#include "common/state.h"
#include "maintenance/schedule.h"

namespace raid::maintenance {

// The waits of the apply procedure: rounds of 30 ms, given up after 50.
inline constexpr int kSettingWaitRounds = 50;
inline constexpr std::uint32_t kSettingWaitMs = 30;

inline constexpr const char* kSettingCaption = "Setting";
inline constexpr const char* kPeriodOkText = "Schedule Backup Setting OK!";
inline constexpr const char* kPeriodFailText = "Schedule Backup Setting fail!\n Please try again!";

// What applying a period needs from the window. Main thread only.
class PeriodSettingHost {
public:
    virtual ~PeriodSettingHost() = default;
    // Lets pending window events run: the worker's hand-overs, timers and
    // clicks run from here, and may set Closing.
    virtual void Pump() = 0;
    // Blocks for `ms` milliseconds (the platform clock's sleep).
    virtual void SleepMs(std::uint32_t ms) = 0;
    // Status bar panel `panel` (0..4) shows `text`.
    virtual void SetStatusPanel(int panel, const std::string& text) = 0;
    // A modal box with an OK button; `warning` adds the exclamation icon.
    virtual void Message(const std::string& text, const std::string& caption, bool warning) = 0;
    // Redraws the period display from the status record.
    virtual void RefreshPeriodDisplay() = 0;
};

// The codes of a failed setting, shown as two hexadecimal digits after
// "Backup Setting error code :": 01 the worker did not send the command, 02
// the status poll after it did not finish or did not read the device, 03 the
// poll read another period back; any other code is the command's result:
// the controller's failure status, or a transport failure (0xF0 .. 0xFF).
enum class PeriodSettingOutcome {
    Busy,       // a setting was already being applied: this click did nothing
    Refused,    // the choice cannot be sent; its refusal was shown, nothing queued
    Unchanged,  // the current period was chosen again: nothing queued, nothing shown
    Closing,    // the window began to close while waiting
    Failed,     // not sent, refused by the controller, or not read back: code shown
    Done,       // the controller took the command and the poll read the period back
};

// The whole apply procedure for `command` (from CommandFor) on the device
// `deviceIndex`, whose current period is `currentPeriod`. `settingBusy` is
// the settings-busy bit: set while the procedure runs, so that a click from
// the pumped events meanwhile returns Busy. The command is queued behind any
// other queued setting, and taken out again if the worker did not take it in
// time. "Schedule Backup Setting OK!" only when the controller accepted the
// command and the status poll after it read the new period back (or, when
// nothing let a poll start, on the controller's word alone).
PeriodSettingOutcome ApplyPeriodSetting(AppState& state, bool& settingBusy,
                                        const PeriodCommand& command, std::uint8_t currentPeriod,
                                        int deviceIndex, PeriodSettingHost& host);

// Queues the buzzer mute on (0x70) or off (0x71) for device `deviceIndex`
// behind any other queued setting, and marks the device's settings to be
// re-read by the next poll.
void SetBuzzerMute(AppState& state, int deviceIndex, bool muted);

// The device's schedule backup capability bits (DeviceSlot::optionCapability;
// the buzzer's is kBuzzerCapability).
inline constexpr std::uint8_t kScheduleCapability = 0x02;
inline constexpr std::uint8_t kUserPeriodCapability = 0x80;

// Capability bits 1 and 7: schedule backup with a period of days and hours.
bool TakesUserPeriod(const DeviceSlot& slot);

}  // namespace raid::maintenance
