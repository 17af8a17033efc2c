#pragma once
// The schedule-backup period as the setup page shows and chooses it: texts of
// the current period and of the time to the next backup, preset captions,
// the "User Period" lists, and which controller command a choice queues.
// Pure functions over the status record and the device's preset table.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/state.h"
#include "monitor/pending_command.h"

namespace raid::maintenance {

// The backup fields of a DeviceStatusRecord.
struct BackupStatus {
    std::uint8_t period = 0;      // in period units; 0 = backup off
    std::uint16_t waitTicks = 0;  // 10-second ticks to the next backup
    std::uint8_t waitWeeks = 0;   // whole weeks to add
    bool backingUp = false;       // a backup runs now
};
BackupStatus BackupStatusOf(const Record512& record);

// Minutes to the next backup: weeks x 10080 + ceil(ticks / 6).
std::uint32_t WaitMinutes(const BackupStatus& status);

// " Wait to Backup in minutes : " followed by " (Backup off)", " (Backing
// up...)" or the minutes and, when above 0, " (Dd:Hh:Mm)".
std::string WaitText(const BackupStatus& status);
// The same from the period, whether a backup runs and the minutes to the next.
std::string WaitText(std::uint8_t period, bool backingUp, std::uint32_t waitMinutes);

// "Schedule Backup Period(Setted): " followed by "off", "1 day 12 hours" or
// "3 days".
std::string PeriodText(std::uint8_t period, std::uint8_t unitHours);

// "1 day 12 hours", "7 days", "5 hours"; empty for 0.
std::string HoursText(std::uint32_t hours);

// A preset's caption: "5 hours", "1 day", "7 days".
std::string PresetCaption(std::uint8_t units, std::uint8_t unitHours);

// The hour list of a user period: 0, unit, 2 x unit, ... below 24 as "00",
// "01", ... Empty when the unit is 0 (no user period possible).
std::vector<std::string> HourChoices(std::uint8_t unitHours);

// "00" .. "30": the day list.
std::vector<std::string> DayChoices();

// The choices of the schedule sub-page.
enum class PeriodChoice { Off, Preset1, Preset2, Preset3, UserPeriod };

// The controller command a choice queues, or why it cannot be queued.
struct PeriodCommand {
    std::uint8_t code = 0;
    std::uint8_t value = 0;  // the period in units that the command sets
    std::array<std::uint8_t, 3> params{0xCF, 0xDF, 0xEF};
    std::string refusal;  // not empty: nothing may be queued
};

// For UserPeriod, `dayIndex` and `hourIndex` are the positions in the day and
// hour lists. A user period that is no whole number of units, or does not fit
// the controller's byte, is refused (the latter naming the longest allowed).
PeriodCommand CommandFor(PeriodChoice choice, const monitor::BackupPresetTable& presets,
                         int dayIndex, int hourIndex);

// What the page shows checked when it opens, for period `period`. No choice
// when the period is a user period that the day and hour lists cannot hold.
struct InitialChoice {
    std::optional<PeriodChoice> choice = PeriodChoice::Off;
    int dayIndex = 0;
    int hourIndex = 0;
};
// `userPeriodCapable`: capability bits 1 and 7 are both set.
InitialChoice InitialChoiceFor(std::uint8_t period, const monitor::BackupPresetTable& presets,
                               bool userPeriodCapable);

}  // namespace raid::maintenance
