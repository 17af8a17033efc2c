// The schedule-backup period: its texts, the user-period lists and which
// command a choice queues.
#include <gtest/gtest.h>

#include "device/protocol.h"
#include "maintenance/schedule.h"

namespace raid::maintenance {
namespace {

namespace cmd = device::cmd;

monitor::BackupPresetTable Presets(std::uint8_t p1, std::uint8_t p2, std::uint8_t p3,
                                   std::uint8_t unit) {
    monitor::BackupPresetTable t;
    t.entries = {0, p1, p2, p3};
    t.unitHours = unit;
    return t;
}

TEST(ScheduleTexts, PresetCaptionsInDaysOrHours) {
    EXPECT_EQ(PresetCaption(1, 24), "1 day");
    EXPECT_EQ(PresetCaption(7, 24), "7 days");
    EXPECT_EQ(PresetCaption(30, 24), "30 days");
    EXPECT_EQ(PresetCaption(1, 1), "1 hour");
    EXPECT_EQ(PresetCaption(36, 1), "36 hours");  // not a whole number of days
    EXPECT_EQ(PresetCaption(48, 1), "2 days");
}

TEST(ScheduleTexts, WaitAndPeriod) {
    Record512 r{};
    r[190] = 5;
    r[191] = 0;
    r[192] = 7;  // 7 ticks of 10 s: 2 minutes, rounded up
    EXPECT_EQ(WaitMinutes(BackupStatusOf(r)), 2u);
    EXPECT_EQ(WaitText(BackupStatusOf(r)), " Wait to Backup in minutes : 2 (0d:0h:2m)");
    r[193] = 1;  // plus a week
    r[191] = 0x01;
    r[192] = 0x00;  // 256 ticks: 43 minutes
    EXPECT_EQ(WaitText(BackupStatusOf(r)), " Wait to Backup in minutes : 10123 (7d:0h:43m)");
    r[191] = r[192] = r[193] = 0;
    EXPECT_EQ(WaitText(BackupStatusOf(r)), " Wait to Backup in minutes : 0");
    r[105] = 0x02;
    EXPECT_EQ(WaitText(BackupStatusOf(r)), " Wait to Backup in minutes :  (Backing up...)");
    r[190] = 0;
    EXPECT_EQ(WaitText(BackupStatusOf(r)), " Wait to Backup in minutes :  (Backup off)");

    EXPECT_EQ(PeriodText(36, 1), "Schedule Backup Period(Setted): 1 day 12 hours");
    EXPECT_EQ(PeriodText(0, 24), "Schedule Backup Period(Setted): off");
    EXPECT_EQ(PeriodText(2, 24), "Schedule Backup Period(Setted): 2 days");
    EXPECT_EQ(PeriodText(48, 1), "Schedule Backup Period(Setted): 2 days");
    EXPECT_EQ(PeriodText(5, 1), "Schedule Backup Period(Setted): 5 hours");
}

TEST(ScheduleChoices, HourAndDayLists) {
    const auto hours = HourChoices(1);
    ASSERT_EQ(hours.size(), 24u);
    EXPECT_EQ(hours.front(), "00");
    EXPECT_EQ(hours.back(), "23");
    EXPECT_EQ(HourChoices(6), (std::vector<std::string>{"00", "06", "12", "18"}));
    EXPECT_EQ(HourChoices(24), (std::vector<std::string>{"00"}));
    EXPECT_TRUE(HourChoices(0).empty());
    const auto days = DayChoices();
    ASSERT_EQ(days.size(), 31u);
    EXPECT_EQ(days[9], "09");
    EXPECT_EQ(days[30], "30");
}

TEST(ScheduleChoices, CommandsOfEachChoice) {
    const auto daily = Presets(1, 7, 30, 24);
    const PeriodCommand off = CommandFor(PeriodChoice::Off, daily, 0, 0);
    EXPECT_EQ(off.code, cmd::kBackupPreset0);
    EXPECT_EQ(off.value, 0);
    EXPECT_EQ(CommandFor(PeriodChoice::Preset3, daily, 0, 0).code, cmd::kBackupPreset3);
    EXPECT_EQ(CommandFor(PeriodChoice::Preset3, daily, 0, 0).value, 30);

    const PeriodCommand three = CommandFor(PeriodChoice::UserPeriod, daily, 3, 0);
    EXPECT_TRUE(three.refusal.empty());
    EXPECT_EQ(three.code, cmd::kSetting);
    EXPECT_EQ(three.params, (std::array<std::uint8_t, 3>{0x02, 0x03, 0xDF}));

    const PeriodCommand hourly = CommandFor(PeriodChoice::UserPeriod, Presets(1, 2, 3, 1), 2, 5);
    EXPECT_EQ(hourly.value, 53);
}

TEST(ScheduleChoices, AUnitThatDoesNotDivideADayCountsInHours) {
    // Unit 9: the hour list is 00, 09, 18; three days are 72 hours, 8 units.
    const auto nine = Presets(1, 2, 3, 9);
    const PeriodCommand three = CommandFor(PeriodChoice::UserPeriod, nine, 3, 0);
    EXPECT_TRUE(three.refusal.empty());
    EXPECT_EQ(three.value, 8);
    EXPECT_EQ(three.params, (std::array<std::uint8_t, 3>{0x02, 8, 0xDF}));
    EXPECT_EQ(CommandFor(PeriodChoice::UserPeriod, nine, 3, 2).value, 10);  // 90 hours
    // One day is no whole number of 9-hour units: nothing to send.
    const PeriodCommand one = CommandFor(PeriodChoice::UserPeriod, nine, 1, 0);
    EXPECT_EQ(one.code, 0);
    EXPECT_EQ(one.refusal,
              "This enclosure sets the period in steps of 9 hours: 1 day is not one of them.");

    // And back: 10 units are 3 days 18 hours.
    const InitialChoice ten = InitialChoiceFor(10, nine, true);
    EXPECT_EQ(ten.choice, PeriodChoice::UserPeriod);
    EXPECT_EQ(ten.dayIndex, 3);
    EXPECT_EQ(ten.hourIndex, 2);
}

TEST(ScheduleChoices, APeriodTheListsCannotHoldIsNotChosenShorter) {
    // 40 days: the day list ends at 30.
    EXPECT_FALSE(InitialChoiceFor(40, Presets(1, 7, 30, 24), true).choice.has_value());
    // 5 units of 5 hours are 1 day 1 hour: no such hour in 00, 05, ...
    EXPECT_FALSE(InitialChoiceFor(5, Presets(1, 2, 3, 5), true).choice.has_value());
    EXPECT_EQ(InitialChoiceFor(30, Presets(1, 7, 31, 24), true).dayIndex, 30);
}

TEST(ScheduleChoices, UserPeriodBeyondTheControllersByteIsRefusedNamingTheLongest) {
    // Unit 1: 255 hours at most, which is 10 days 15 hours.
    const auto hourly = Presets(1, 2, 3, 1);
    EXPECT_TRUE(CommandFor(PeriodChoice::UserPeriod, hourly, 10, 15).refusal.empty());
    const PeriodCommand tooLong = CommandFor(PeriodChoice::UserPeriod, hourly, 10, 16);
    EXPECT_EQ(tooLong.code, 0);
    EXPECT_EQ(tooLong.refusal,
              "The period is too long for this enclosure: the longest it allows is 10 days 15 "
              "hours.");
    // A unit of 0 hours takes no user period at all, and nothing divides by it.
    EXPECT_FALSE(CommandFor(PeriodChoice::UserPeriod, Presets(1, 2, 3, 0), 1, 0).refusal.empty());
    EXPECT_FALSE(CommandFor(PeriodChoice::UserPeriod, hourly, 31, 0).refusal.empty());
    EXPECT_FALSE(CommandFor(PeriodChoice::UserPeriod, hourly, 0, 24).refusal.empty());
}

TEST(ScheduleChoices, ChoiceWhenThePageOpens) {
    const auto daily = Presets(1, 7, 30, 24);
    EXPECT_EQ(InitialChoiceFor(30, daily, true).choice, PeriodChoice::Preset3);
    EXPECT_EQ(InitialChoiceFor(1, daily, true).choice, PeriodChoice::Preset1);
    EXPECT_EQ(InitialChoiceFor(0, daily, true).choice, PeriodChoice::Off);
    EXPECT_EQ(InitialChoiceFor(3, daily, false).choice, PeriodChoice::Off);
    const InitialChoice user = InitialChoiceFor(53, Presets(1, 2, 3, 1), true);
    EXPECT_EQ(user.choice, PeriodChoice::UserPeriod);
    EXPECT_EQ(user.dayIndex, 2);
    EXPECT_EQ(user.hourIndex, 5);
    // Presets are tested from the third down: equal presets pick the third.
    EXPECT_EQ(InitialChoiceFor(7, Presets(7, 7, 7, 24), true).choice, PeriodChoice::Preset3);
}

}  // namespace
}  // namespace raid::maintenance
