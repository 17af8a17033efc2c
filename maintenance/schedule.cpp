#include "maintenance/schedule.h"

#include "device/protocol.h"

namespace raid::maintenance {
namespace {

constexpr std::size_t kPeriodByte = rec::kSchedule;         // 190
constexpr std::size_t kWaitTicksHigh = rec::kSchedule + 1;  // 191
constexpr std::size_t kWaitTicksLow = rec::kSchedule + 2;   // 192
constexpr std::size_t kWaitWeeks = rec::kSchedule + 3;      // 193
constexpr std::uint8_t kBackingUpBit = 0x02;                // of record byte 105
constexpr std::uint32_t kMinutesPerWeek = 10080;
constexpr int kMaxDays = 30;
constexpr std::uint8_t kSettingPeriod = 0x02;

std::string Plural(std::uint64_t n, const char* unit) {
    return std::to_string(n) + " " + unit + (n > 1 ? "s" : "");
}

constexpr int kHoursPerDay = 24;

}  // namespace

BackupStatus BackupStatusOf(const Record512& record) {
    BackupStatus s;
    s.period = record[kPeriodByte];
    s.waitTicks = static_cast<std::uint16_t>(record[kWaitTicksHigh] << 8 | record[kWaitTicksLow]);
    s.waitWeeks = record[kWaitWeeks];
    s.backingUp = (record[rec::kRebuildFlags] & kBackingUpBit) != 0;
    return s;
}

std::uint32_t WaitMinutes(const BackupStatus& status) {
    return status.waitWeeks * kMinutesPerWeek + (status.waitTicks + 5u) / 6u;
}

std::string WaitText(const BackupStatus& status) {
    return WaitText(status.period, status.backingUp, WaitMinutes(status));
}

std::string WaitText(std::uint8_t period, bool backingUp, std::uint32_t waitMinutes) {
    std::string text = " Wait to Backup in minutes : ";
    if (period == 0) return text + " (Backup off)";
    if (backingUp) return text + " (Backing up...)";
    text += std::to_string(waitMinutes);
    if (waitMinutes > 0) {
        const std::uint32_t rest = waitMinutes % 1440;
        text += " (" + std::to_string(waitMinutes / 1440) + "d:" + std::to_string(rest / 60) +
                "h:" + std::to_string(rest % 60) + "m" + ")";
    }
    return text;
}

std::string HoursText(std::uint32_t hours) {
    std::string text;
    if (hours / 24 > 0) text = Plural(hours / 24, "day");
    if (hours % 24 > 0) text += (text.empty() ? "" : " ") + Plural(hours % 24, "hour");
    return text;
}

std::string PeriodText(std::uint8_t period, std::uint8_t unitHours) {
    std::string text = "Schedule Backup Period(Setted): ";
    if (period == 0) return text + "off";
    return text + HoursText(std::uint32_t{period} * unitHours);
}

std::string PresetCaption(std::uint8_t units, std::uint8_t unitHours) {
    const std::uint32_t hours = std::uint32_t{units} * unitHours;
    if (hours % 24 != 0) return Plural(hours, "hour");
    return Plural(hours / 24, "day");
}

std::vector<std::string> HourChoices(std::uint8_t unitHours) {
    std::vector<std::string> hours;
    if (unitHours == 0) return hours;
    for (unsigned h = 0; h < 24; h += unitHours) {
        hours.push_back((h < 10 ? "0" : "") + std::to_string(h));
    }
    return hours;
}

std::vector<std::string> DayChoices() {
    std::vector<std::string> days;
    for (int d = 0; d <= kMaxDays; ++d) days.push_back((d < 10 ? "0" : "") + std::to_string(d));
    return days;
}

PeriodCommand CommandFor(PeriodChoice choice, const monitor::BackupPresetTable& presets,
                         int dayIndex, int hourIndex) {
    PeriodCommand c;
    switch (choice) {
        case PeriodChoice::Off:
        case PeriodChoice::Preset1:
        case PeriodChoice::Preset2:
        case PeriodChoice::Preset3: {
            const auto k = static_cast<std::size_t>(choice);
            c.code = static_cast<std::uint8_t>(device::cmd::kBackupPreset0 + k);
            c.value = presets.entries[k];
            return c;
        }
        case PeriodChoice::UserPeriod:
            break;
    }
    const int unit = presets.unitHours;
    const int hourCount = static_cast<int>(HourChoices(presets.unitHours).size());
    if (unit == 0 || dayIndex < 0 || dayIndex > kMaxDays || hourIndex < 0 ||
        hourIndex >= hourCount) {
        c.refusal = "This enclosure does not take a user period of this length.";
        return c;
    }
    // A unit that does not divide a day leaves some days and hours between
    // two periods the controller can keep.
    const int hours = dayIndex * kHoursPerDay + hourIndex * unit;
    if (hours % unit != 0) {
        c.refusal = "This enclosure sets the period in steps of " +
                    Plural(static_cast<std::uint64_t>(unit), "hour") + ": " +
                    HoursText(static_cast<std::uint32_t>(hours)) + " is not one of them.";
        return c;
    }
    const int value = hours / unit;
    if (value > 0xFF) {
        // The controller keeps the period in one byte of period units.
        c.refusal = "The period is too long for this enclosure: the longest it allows is " +
                    HoursText(0xFFu * presets.unitHours) + ".";
        return c;
    }
    c.code = device::cmd::kSetting;
    c.value = static_cast<std::uint8_t>(value);
    c.params = {kSettingPeriod, c.value, 0xDF};
    return c;
}

InitialChoice InitialChoiceFor(std::uint8_t period, const monitor::BackupPresetTable& presets,
                               bool userPeriodCapable) {
    InitialChoice c;
    if (period == presets.entries[3]) {
        c.choice = PeriodChoice::Preset3;
    } else if (period == presets.entries[2]) {
        c.choice = PeriodChoice::Preset2;
    } else if (period == presets.entries[1]) {
        c.choice = PeriodChoice::Preset1;
    } else if (period > 0 && userPeriodCapable && presets.unitHours > 0) {
        const int unit = presets.unitHours;
        const int hours = period * unit;
        const int days = hours / kHoursPerDay;
        const int rest = hours % kHoursPerDay;
        // A period the lists cannot hold is left unchosen rather than
        // shortened: Set would send the shorter one.
        if (days > kMaxDays || rest % unit != 0) {
            c.choice.reset();
            return c;
        }
        c.choice = PeriodChoice::UserPeriod;
        c.dayIndex = days;
        c.hourIndex = rest / unit;
    }
    return c;
}

}  // namespace raid::maintenance
