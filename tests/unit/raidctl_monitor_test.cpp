// raidctl monitor against simulated enclosures on a manual clock: the day's
// log gets the start header and the member changes between polls, every new
// line is printed as it comes, and trouble with the log folder or a device
// does not stop monitoring.
#include "cli/raidctl_monitor.h"

#include <gtest/gtest.h>

#include "tests/unit/raidctl_monitor_fixture.h"

namespace raid::cli {
namespace {

using namespace monitor_test;

TEST(RaidctlMonitorArguments, OptionsDefaultsAndBounds) {
    auto parse = [](std::vector<std::string_view> w) { return ParseArguments(w); };
    auto r = parse({"--simulate", "monitor"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.args.command, Command::Monitor);
    EXPECT_EQ(r.args.logDir, "");
    EXPECT_EQ(r.args.polls, 0u);
    EXPECT_EQ(r.args.intervalMs, 5000u);

    r = parse(
        {"monitor", "--log-dir", "/var/log/raid", "--polls=6", "--interval-ms", "1000", "--json"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.args.logDir, "/var/log/raid");
    EXPECT_EQ(r.args.polls, 6u);
    EXPECT_EQ(r.args.intervalMs, 1000u);
    EXPECT_TRUE(r.args.json);

    EXPECT_FALSE(parse({"monitor", "--polls"}).ok());
    EXPECT_FALSE(parse({"monitor", "--polls", "0"}).ok());
    EXPECT_FALSE(parse({"monitor", "--polls", "-1"}).ok());
    EXPECT_FALSE(parse({"monitor", "--polls", "99999999999"}).ok());
    EXPECT_FALSE(parse({"monitor", "--interval-ms", "5s"}).ok());
    EXPECT_FALSE(parse({"monitor", "--interval-ms", "99"}).ok());
    EXPECT_FALSE(parse({"monitor", "--log-dir="}).ok());
    EXPECT_FALSE(parse({"monitor", "0"}).ok());
    const auto misplaced = parse({"status", "--polls", "2"});
    EXPECT_FALSE(misplaced.ok());
    EXPECT_TRUE(Has(misplaced.error, "--polls")) << misplaced.error;
    const std::string help = parse({"monitor", "--help"}).info;
    EXPECT_TRUE(Has(help, "to systemd's LogsDirectory=, else to the installed copy's log folder"))
        << help;
    EXPECT_TRUE(Has(help, "16 a SMART verdict Error; 0 all healthy")) << help;

    r = parse({"monitor", "--once", "--metrics", "/run/raid.prom", "--verbose"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_TRUE(r.args.once);
    EXPECT_TRUE(r.args.verbose);
    EXPECT_EQ(r.args.metricsFile, "/run/raid.prom");
    EXPECT_FALSE(parse({"monitor", "--metrics="}).ok());
}

TEST_F(RaidctlMonitorTest, StartHeaderThenPulledMemberAtTheNextPoll) {
    Plug("raid1");
    const int code = Monitor({"--polls", "3"}, [&](std::uint32_t done) {
        if (done == 1) Control(0, "pull 2");
    });
    ASSERT_EQ(code, kExitOk) << err_;

    const Lines file = FileLines();
    // The pull happened after the first poll: the second reports it, once.
    ASSERT_EQ(file.size(), 16u) << testing::PrintToString(file);
    EXPECT_EQ(file[0], kSep);
    EXPECT_EQ(file[1].rfind("RAID GUI v0.50.11-5 has started from 15/03/2024 12:00:", 0), 0u)
        << file[1];
    EXPECT_EQ(file[2], "Device1 information :");
    EXPECT_EQ(file[3], "Model# SIM RAID1 ENCLOSURE");
    EXPECT_EQ(file[4], "Mirroring(RAID1), F/W Rev. 100126.1");
    EXPECT_EQ(file[6], "  HDD1 is present.(SATA)00");
    EXPECT_EQ(file[10], "  HDD2 is present.(SATA)00");
    EXPECT_EQ(file[14], kSep);
    EXPECT_EQ(file[15].rfind("D1 HDD2 was removed, 0415/03/2024 12:00:", 0), 0u) << file[15];

    // Every line was printed as it was logged, and nothing else.
    EXPECT_EQ(SplitLines(out_), file);
    EXPECT_TRUE(Has(err_, "monitoring Device1 (disk 0 (/dev/sim0))")) << err_;
    EXPECT_FALSE(Has(err_, "did not answer")) << err_;

    // Polls start one interval apart on the clock, asked to stop in between.
    ASSERT_EQ(stopCalls_.size(), 3u);
    const std::uint64_t firstStart = stopCalls_[0].back();
    EXPECT_EQ(stopCalls_[1].back(), firstStart + kDefaultMonitorIntervalMs);
    EXPECT_GE(stopCalls_[1].size(), kDefaultMonitorIntervalMs / kMonitorWaitSliceMs / 2);
    EXPECT_EQ(stopCalls_[2].back(), firstStart + 2 * kDefaultMonitorIntervalMs);
}

TEST_F(RaidctlMonitorTest, RestartSameDayContinuesTheFileAndPrintsOnlyNewLines) {
    Plug("raid1");
    ASSERT_EQ(Monitor({"--polls", "1"}), kExitOk) << err_;
    const Lines first = FileLines();
    ASSERT_EQ(first.size(), 15u);

    clock_.Advance(60'000);
    ASSERT_EQ(Monitor({"--polls", "2", "--interval-ms", "1000"},
                      [&](std::uint32_t done) {
                          if (done == 1) Control(0, "insert 1");
                      }),
              kExitOk)
        << err_;
    const Lines second = FileLines();
    ASSERT_EQ(second.size(), 31u) << testing::PrintToString(second);
    EXPECT_EQ(Lines(second.begin(), second.begin() + 15), first);
    EXPECT_EQ(second[16].rfind("RAID GUI v0.50.11-5 has started from 15/03/2024 12:01:", 0), 0u)
        << second[16];
    EXPECT_EQ(second[30].rfind("D1 HDD1 was inserted, 06", 0), 0u) << second[30];
    EXPECT_EQ(SplitLines(out_), Lines(second.begin() + 15, second.end()));
}

TEST_F(RaidctlMonitorTest, JsonLinesNameTheirPoll) {
    Plug("raid1");
    ASSERT_EQ(Monitor({"--json", "--polls", "2"},
                      [&](std::uint32_t done) {
                          if (done == 1) Control(0, "pull 1");
                      }),
              kExitOk)
        << err_;
    const Lines out = SplitLines(out_);
    ASSERT_EQ(out.size(), 16u) << out_;
    EXPECT_EQ(out[0], "{\"poll\":1,\"line\":\"" + kSep + "\"}");
    EXPECT_EQ(out[8], "{\"poll\":1,\"line\":\"    Serial no.: \\\"SIM1000A0001        \\\"\"}");
    EXPECT_EQ(out[15].rfind("{\"poll\":2,\"line\":\"D1 HDD1 was removed, 04", 0), 0u) << out[15];
}

TEST_F(RaidctlMonitorTest, StopRequestEndsBeforeTheNextPoll) {
    Plug("raid1");
    // Stop while waiting after the first poll.
    ASSERT_EQ(Monitor({}, {}, [&](std::uint32_t done) { return done == 1; }), kExitOk);
    EXPECT_EQ(FileLines().size(), 15u);
    EXPECT_EQ(stopCalls_.size(), 2u);

    // Stopped before the first poll: nothing is logged.
    fs::remove(DayFile());
    ASSERT_EQ(Monitor({}, {}, [](std::uint32_t) { return true; }), kExitOk);
    EXPECT_FALSE(fs::exists(DayFile()));
    EXPECT_EQ(out_, "");
}

TEST_F(RaidctlMonitorTest, UnwritableLogIsReportedOnceAndMonitoringGoesOn) {
    Plug("raid1");
    // The day's "file" is a folder: it can be neither read nor replaced.
    fs::create_directory(DayFile());
    ASSERT_EQ(Monitor({"--polls", "3"},
                      [&](std::uint32_t done) {
                          if (done == 1) Control(0, "pull 2");
                      }),
              kExitOk);
    EXPECT_EQ(Count(err_, "raidctl: "), 2u) << err_;  // the start note and one failure
    EXPECT_TRUE(Has(err_, "raidctl: Cannot read log file " + DayFile().string())) << err_;
    const Lines out = SplitLines(out_);
    ASSERT_EQ(out.size(), 16u) << out_;
    EXPECT_EQ(out[15].rfind("D1 HDD2 was removed, 04", 0), 0u);
}

TEST_F(RaidctlMonitorTest, SilentDeviceIsReportedAndFinallyDropped) {
    Plug("raid1+raid0");
    ASSERT_EQ(Monitor({"--polls", "16", "--interval-ms", "1000"},
                      [&](std::uint32_t done) {
                          if (done == 1) Control(1, "silent on");
                          if (done == 14) Control(1, "silent off");
                      }),
              kExitOk);
    EXPECT_TRUE(Has(err_, "monitoring Device1 (disk 0 (/dev/sim0)), Device2 (disk 1 (/dev/sim1))"))
        << err_;
    EXPECT_EQ(Count(err_, "Device2 (disk 1 (/dev/sim1)) did not answer the status poll"), 1u)
        << err_;
    EXPECT_EQ(Count(err_, "Device2 did not answer repeatedly and is no longer monitored"), 1u)
        << err_;
    // Once dropped it is not polled again, so it never "answers again".
    EXPECT_FALSE(Has(err_, "answers again")) << err_;
    EXPECT_FALSE(Has(err_, "Device1 (disk 0 (/dev/sim0)) did not answer")) << err_;
    EXPECT_EQ(FileLines().size(), 27u);  // the header of both devices only
}

TEST_F(RaidctlMonitorTest, NothingToMonitor) {
    sim::SimDiskSystem plain;
    plain.AddPlainDisk();
    std::ostringstream out, err;
    Context ctx{plain, clock_, {}, out, err};
    MonitorOptions options;
    options.logDir = logDir_;
    Arguments args;
    args.command = Command::Monitor;
    EXPECT_EQ(RunMonitor(ctx, args, options), kExitUnavailable);
    EXPECT_TRUE(Has(err.str(), "No Drive found!")) << err.str();
    EXPECT_TRUE(fs::is_empty(logDir_));

    options.logDir = logDir_ / "missing";
    EXPECT_EQ(RunMonitor(ctx, args, options), kExitConfig);
    EXPECT_TRUE(Has(err.str(), "does not exist or is not a folder")) << err.str();
}

}  // namespace
}  // namespace raid::cli
