// raidctl buzzer and backup-period against emulated enclosures: their
// command lines, what each sends, what it prints, and its exit code when the
// enclosure takes the setting, has no such setting, does not answer, or
// answers and keeps its old setting.
#include "cli/raidctl_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/raidctl_args.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"

namespace raid::cli {
namespace {

using Bytes = std::array<std::uint8_t, 4>;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

ParseResult Parse(std::vector<std::string_view> words) { return ParseArguments(words); }

struct CliRun {
    int code = -1;
    std::string out;
    std::string err;
};

class RaidctlSettingsTest : public ::testing::Test {
protected:
    // An enclosure of `scenario` on disk 0 (`edit` may change it first), then
    // a plain disk.
    template <typename Edit>
    void Plug(const std::string& scenario, Edit edit) {
        auto model = sim::ScenarioEnclosure(scenario);
        ASSERT_TRUE(model.has_value());
        edit(*model);
        emulator = std::make_shared<sim::ControllerEmulator>(*model, &clock);
        disks.AddEnclosure(emulator);
        disks.AddPlainDisk();
    }
    void Plug(const std::string& scenario = "raid1") {
        Plug(scenario, [](sim::Enclosure&) {});
    }

    CliRun Raidctl(std::vector<std::string_view> words) {
        const ParseResult parsed = ParseArguments(words);
        EXPECT_TRUE(parsed.ok()) << parsed.error;
        std::ostringstream out, err;
        Context ctx{disks, clock, {}, out, err};
        CliRun run;
        run.code = parsed.args.command == Command::Buzzer ? RunBuzzer(ctx, parsed.args)
                                                          : RunBackupPeriod(ctx, parsed.args);
        run.out = out.str();
        run.err = err.str();
        return run;
    }

    // The setting commands the enclosure ran (not discovery's capability query).
    std::vector<Bytes> Settings() {
        std::vector<Bytes> sent;
        for (const Bytes& b : emulator->ExecutedCommandBytes())
            if ((b[0] >= 0x70 && b[0] <= 0x75) || (b[0] == 0x78 && b[1] != 0x33)) sent.push_back(b);
        return sent;
    }
    char BuzzerLetter() {
        return emulator->WithModel([](sim::Enclosure& e) { return e.buzzerLetter; });
    }
    std::uint8_t Period() {
        return emulator->WithModel([](sim::Enclosure& e) { return e.backupPeriod; });
    }

    platform::ManualClock clock;
    sim::SimDiskSystem disks;
    std::shared_ptr<sim::ControllerEmulator> emulator;
};

TEST(RaidctlSettingArguments, BuzzerAndBackupPeriod) {
    auto r = Parse({"buzzer", "0", "on"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.args.command, Command::Buzzer);
    EXPECT_EQ(r.args.disk, "0");
    EXPECT_TRUE(r.args.mute);
    r = Parse({"--simulate", "buzzer", "/dev/sim0", "off", "--json"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_FALSE(r.args.mute);
    EXPECT_TRUE(r.args.json);
    EXPECT_TRUE(r.args.simulate);

    r = Parse({"backup-period", "0", "off"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.args.command, Command::BackupPeriod);
    EXPECT_EQ(r.args.preset, 0);
    EXPECT_FALSE(r.args.userPeriod);
    r = Parse({"backup-period", "0", "preset", "3"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.args.preset, 3);
    r = Parse({"backup-period", "1", "010", "05"});  // decimal, never octal
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_TRUE(r.args.userPeriod);
    EXPECT_EQ(r.args.days, 10u);
    EXPECT_EQ(r.args.hours, 5u);
    r = Parse({"backup-period", "1", "30", "23"});
    ASSERT_TRUE(r.ok()) << r.error;

    for (const std::vector<std::string_view>& words : std::vector<std::vector<std::string_view>>{
             {"buzzer", "0"},
             {"buzzer", "0", "maybe"},
             {"buzzer", "0", "ON"},
             {"buzzer"},
             {"backup-period", "0"},
             {"backup-period", "0", "preset"},
             {"backup-period", "0", "preset", "0"},
             {"backup-period", "0", "preset", "4"},
             {"backup-period", "0", "31", "0"},
             {"backup-period", "0", "1", "24"},
             {"backup-period", "0", "0x1", "0"},
             {"backup-period", "0", "-1", "0"},
             {"backup-period", "0", "7"},
             {"backup-period", "0", "off", "1"},
             {"backup-period", "0", "1", "2", "3"},
         }) {
        const auto bad = Parse(words);
        EXPECT_FALSE(bad.ok()) << testing::PrintToString(words);
        EXPECT_EQ(bad.error.find('\n'), std::string::npos) << bad.error;
    }

    const auto help = Parse({"--help"});
    for (const char* part : {"  buzzer  ", "  backup-period  ", "\n  6   a setting was answered"})
        EXPECT_TRUE(Has(help.info, part)) << part << "\n" << help.info;
    const auto buzzerHelp = Parse({"buzzer", "--help"});
    EXPECT_TRUE(Has(buzzerHelp.info, "Usage: raidctl buzzer [OPTIONS] DISK MUTE\n"))
        << buzzerHelp.info;
    const auto periodHelp = Parse({"backup-period", "--help"});
    EXPECT_TRUE(Has(periodHelp.info, "Usage: raidctl backup-period [OPTIONS] DISK PERIOD...\n"))
        << periodHelp.info;
    EXPECT_TRUE(Has(periodHelp.info, "6 it answered but kept its old")) << periodHelp.info;
}

TEST_F(RaidctlSettingsTest, BuzzerMuteOnAndOff) {
    Plug();
    ASSERT_EQ(BuzzerLetter(), 'Z');
    const CliRun on = Raidctl({"buzzer", "0", "on"});
    EXPECT_EQ(on.code, kExitOk) << on.err;
    EXPECT_EQ(on.err, "");
    EXPECT_EQ(Settings(), (std::vector<Bytes>{{0x70, 0xCF, 0xDF, 0xEF}}));
    EXPECT_NE(BuzzerLetter(), 'Z');
    EXPECT_TRUE(Has(on.out, "Device1: disk 0 (/dev/sim0), SIM RAID1 ENCLOSURE")) << on.out;
    EXPECT_TRUE(Has(on.out, "  buzzer: muted\n")) << on.out;
    EXPECT_FALSE(Has(on.out, "poll failed"));

    const CliRun off = Raidctl({"--json", "buzzer", "/dev/sim0", "off"});
    EXPECT_EQ(off.code, kExitOk) << off.err;
    EXPECT_EQ(BuzzerLetter(), 'Z');
    EXPECT_EQ(off.out.rfind("{\"devices\":[{\"index\":0,\"name\":\"Device1\",\"disk\":0,", 0), 0u)
        << off.out;
    EXPECT_TRUE(Has(off.out, "\"pollOk\":true")) << off.out;
    EXPECT_TRUE(Has(off.out, "\"buzzer\":\"not muted\"")) << off.out;
    EXPECT_EQ(std::count(off.out.begin(), off.out.end(), '\n'), 1);
}

TEST_F(RaidctlSettingsTest, BuzzerRefusedUnansweredAndKeptOld) {
    {
        // No buzzer setting: nothing is sent.
        Plug("nosensors", [](sim::Enclosure& e) { e.settingCapabilityBits = 0; });
        const CliRun run = Raidctl({"buzzer", "0", "on"});
        EXPECT_EQ(run.code, kExitUsage);
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(Has(run.err,
                        "raidctl: Device1 on disk 0 (/dev/sim0): the enclosure has no "
                        "buzzer setting\n"))
            << run.err;
        EXPECT_TRUE(Settings().empty());
    }
    disks.RemoveDisk(1);
    disks.RemoveDisk(0);
    Plug();
    ASSERT_EQ(emulator->Control("settingfault noreply"), "");
    CliRun run = Raidctl({"buzzer", "0", "on"});
    EXPECT_EQ(run.code, kExitCommandFailed);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(Has(run.err, "did not take the buzzer mute on: result 0xF2")) << run.err;
    EXPECT_EQ(BuzzerLetter(), 'Z');

    ASSERT_EQ(emulator->Control("settingfault fail"), "");
    run = Raidctl({"buzzer", "0", "on"});
    EXPECT_EQ(run.code, kExitCommandFailed);
    EXPECT_TRUE(Has(run.err, "did not take the buzzer mute on")) << run.err;

    ASSERT_EQ(emulator->Control("settingfault keep"), "");
    run = Raidctl({"buzzer", "0", "on"});
    EXPECT_EQ(run.code, kExitSettingNotTaken) << run.err;
    EXPECT_TRUE(Has(run.out, "  buzzer: not muted\n")) << run.out;
    EXPECT_TRUE(Has(run.err,
                    "raidctl: Device1 on disk 0 (/dev/sim0) answered the buzzer mute on, but "
                    "still has its old setting\n"))
        << run.err;
    EXPECT_EQ(BuzzerLetter(), 'Z');

    // The faults are used up: the next one goes through.
    run = Raidctl({"buzzer", "0", "on"});
    EXPECT_EQ(run.code, kExitOk) << run.err;
}

TEST_F(RaidctlSettingsTest, APollThatFailsAfterTheSettingIsNoAnswer) {
    Plug();
    // Once the mute has been run, the enclosure stops answering.
    clock.onSleep = [this](std::uint64_t) {
        const auto done = emulator->ExecutedCommands();
        if (std::find(done.begin(), done.end(), 0x70) != done.end()) emulator->FailNextReplies(100);
    };
    const CliRun run = Raidctl({"buzzer", "0", "on"});
    clock.onSleep = nullptr;
    EXPECT_EQ(run.code, kExitCommandFailed);
    EXPECT_TRUE(Has(run.out, "poll failed; last known state:")) << run.out;
    EXPECT_TRUE(Has(run.err, "did not answer the status poll after the buzzer mute on")) << run.err;
}

TEST_F(RaidctlSettingsTest, DisksWithoutAnEnclosure) {
    Plug();
    const CliRun missing = Raidctl({"buzzer", "7", "on"});
    EXPECT_EQ(missing.code, kExitCannotOpen);
    EXPECT_TRUE(Has(missing.err, "is not one of the physical disks")) << missing.err;
    const CliRun plain = Raidctl({"backup-period", "/dev/sim1", "off"});
    EXPECT_EQ(plain.code, kExitCommandFailed);
    EXPECT_TRUE(Has(plain.err, "disk 1 (/dev/sim1) holds no enclosure")) << plain.err;
    EXPECT_TRUE(Settings().empty());
}

TEST_F(RaidctlSettingsTest, BackupPeriodPresetsUserPeriodAndOff) {
    Plug();  // unit 24 hours, presets 1, 7, 30
    CliRun run = Raidctl({"backup-period", "0", "preset", "2"});
    EXPECT_EQ(run.code, kExitOk) << run.err;
    EXPECT_EQ(Period(), 7);
    EXPECT_TRUE(Has(run.out, "  schedule backup: every 7 days, next in 10080 minutes\n"))
        << run.out;

    run = Raidctl({"--json", "backup-period", "0", "3", "0"});
    EXPECT_EQ(run.code, kExitOk) << run.err;
    EXPECT_EQ(Period(), 3);
    EXPECT_TRUE(Has(run.out,
                    "\"backupPeriod\":3,\"backupUnitHours\":24,\"backupWaitMinutes\":4320,"
                    "\"backingUp\":false"))
        << run.out;

    run = Raidctl({"backup-period", "0", "off"});
    EXPECT_EQ(run.code, kExitOk) << run.err;
    EXPECT_EQ(Period(), 0);
    EXPECT_TRUE(Has(run.out, "  schedule backup: off\n")) << run.out;

    run = Raidctl({"backup-period", "0", "preset", "3"});
    EXPECT_EQ(run.code, kExitOk) << run.err;
    EXPECT_EQ(Settings(), (std::vector<Bytes>{{0x74, 0xCF, 0xDF, 0xEF},
                                              {0x78, 0x02, 0x03, 0xDF},
                                              {0x72, 0xCF, 0xDF, 0xEF},
                                              {0x75, 0xCF, 0xDF, 0xEF}}));

    ASSERT_EQ(emulator->Control("settingfault keep"), "");
    run = Raidctl({"backup-period", "0", "preset", "1"});
    EXPECT_EQ(run.code, kExitSettingNotTaken);
    EXPECT_TRUE(Has(run.err, "answered the backup period 1 day, but still has its old setting"))
        << run.err;
    EXPECT_TRUE(Has(run.out, "every 30 days")) << run.out;
}

TEST_F(RaidctlSettingsTest, PeriodsThatDoNotFitAreRefusedBeforeAnythingIsSent) {
    Plug("raid1", [](sim::Enclosure& e) { e.backupKind = 1; });
    CliRun run = Raidctl({"backup-period", "0", "30", "0"});
    EXPECT_EQ(run.code, kExitUsage);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "raidctl: Device1 on disk 0 (/dev/sim0): The period is too long for this "
              "enclosure: the longest it allows is 10 days 15 hours.\n");
    EXPECT_TRUE(Settings().empty());

    run = Raidctl({"backup-period", "0", "2", "5"});  // 53 units of an hour
    EXPECT_EQ(run.code, kExitOk) << run.err;
    EXPECT_EQ(Settings(), (std::vector<Bytes>{{0x78, 0x02, 53, 0xDF}}));
    EXPECT_TRUE(Has(run.out, "every 2 days 5 hours")) << run.out;

    disks.RemoveDisk(1);
    disks.RemoveDisk(0);
    Plug();  // a unit of a whole day takes no hours
    run = Raidctl({"backup-period", "0", "1", "5"});
    EXPECT_EQ(run.code, kExitUsage);
    EXPECT_TRUE(Has(run.err, "HOURS must be a multiple of the enclosure's period unit of 24 hours"))
        << run.err;
    EXPECT_TRUE(Settings().empty());

    disks.RemoveDisk(1);
    disks.RemoveDisk(0);
    Plug("nosensors", [](sim::Enclosure& e) { e.settingCapabilityBits = 0; });
    run = Raidctl({"backup-period", "0", "off"});
    EXPECT_EQ(run.code, kExitUsage);
    EXPECT_TRUE(Has(run.err, "the enclosure has no schedule backup")) << run.err;
    EXPECT_TRUE(Settings().empty());
}

}  // namespace
}  // namespace raid::cli
