// raidctl monitor as a service: the health bits of --once, enclosures that
// come and go while it runs, the metrics file, and a stop in the middle of
// device work.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "platform/program_folder.h"
#include "service/monitor_report.h"
#include "tests/prometheus_textfile.h"
#include "tests/unit/raidctl_monitor_fixture.h"
#include "tests/unit/raidctl_run.h"

namespace raid::cli {
namespace {

using namespace monitor_test;

using raid::test_support::ParseTextfile;
using raid::test_support::Value;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class RaidctlMonitorServiceTest : public RaidctlMonitorTest {};

TEST_F(RaidctlMonitorServiceTest, OnceExitsWithTheHealthBits) {
    Plug("raid1");
    EXPECT_EQ(Monitor({"--once"}), 0) << err_;
    EXPECT_EQ(FileLines().size(), 15u);  // the start header: event detection ran
    EXPECT_EQ(SplitLines(out_).size(), 15u);

    Plug("degraded");
    EXPECT_EQ(Monitor({"--once"}), int(health::kMemberDown)) << err_;
    EXPECT_TRUE(Has(err_, "raidctl: 2: a member disk is absent or failed")) << err_;

    Plug("rebuild");
    EXPECT_EQ(Monitor({"--once"}) & int(health::kRebuilding), int(health::kRebuilding)) << err_;

    // Found by discovery, silent at the poll.
    Plug("raid1");
    EXPECT_EQ(Monitor({"--once"}, {},
                      [&](std::uint32_t done) {
                          if (done == 0) Control(0, "silent on");
                          return false;
                      }),
              int(health::kNoAnswer))
        << err_;

    // Two enclosures: one degraded, one healthy; the bits add up.
    Plug("raid1+raid0");
    EXPECT_EQ(Monitor({"--once"}, {},
                      [&](std::uint32_t done) {
                          if (done == 0) {
                              Control(0, "fail 2");
                              Control(1, "silent on");
                          }
                          return false;
                      }),
              int(health::kMemberDown | health::kNoAnswer))
        << err_;

    auto plain = std::make_unique<sim::SimDiskSystem>();
    plain->AddPlainDisk();
    disks_ = std::move(plain);
    EXPECT_EQ(Monitor({"--once"}), int(health::kNoEnclosure));
    EXPECT_TRUE(Has(err_, "1: no enclosure found")) << err_;
}

TEST_F(RaidctlMonitorServiceTest, OnceSeesASmartError) {
    auto model = sim::ScenarioEnclosure("raid1");
    ASSERT_TRUE(model.has_value());
    // HDD1's reallocated sectors worn below their threshold.
    test_support::SetAttributeByte(model->members[0].smartData, 5, 4, 100);
    auto disks = std::make_unique<sim::SimDiskSystem>();
    disks->AddEnclosure(std::make_shared<sim::ControllerEmulator>(*model, &clock_));
    disks_ = std::move(disks);
    EXPECT_EQ(Monitor({"--once"}), int(health::kSmartError)) << err_;
    EXPECT_TRUE(Has(err_, "16: a member disk's SMART verdict is Error")) << err_;
}

TEST_F(RaidctlMonitorServiceTest, EnclosuresComingAndGoingAreFollowed) {
    Plug("raid1");
    auto& sim = dynamic_cast<sim::SimDiskSystem&>(*disks_);
    bool changed = false;
    std::vector<std::string> mails;
    configure_ = [&](MonitorOptions& o) {
        o.deviceEvents = [&] { return std::exchange(changed, false); };
        o.raiseMail = [&](int kind, int device, int member) {
            mails.push_back(std::to_string(kind) + "/" + std::to_string(device) + "/" +
                            std::to_string(member));
        };
    };
    int added = -1;
    ASSERT_EQ(Monitor({"--polls", "8"},
                      [&](std::uint32_t done) {
                          if (done == 1) {
                              auto model = sim::ScenarioEnclosure("raid0");
                              ASSERT_TRUE(model.has_value());
                              added = sim.AddEnclosure(
                                  std::make_shared<sim::ControllerEmulator>(*model, &clock_));
                              changed = true;
                          }
                          if (done == 4) {
                              sim.RemoveDisk(added);
                              changed = true;
                          }
                      }),
              kExitOk)
        << err_;
    const std::string out = out_;
    EXPECT_EQ(Count(out, "D2 New Device was found."), 1u) << out;
    EXPECT_EQ(Count(out, "D2 Device was removed."), 1u) << out;
    EXPECT_LT(out.find("D2 New Device was found."), out.find("D2 Device was removed.")) << out;
    // The found device was described, the log header names it, and its
    // removal raised the removed-device mail.
    EXPECT_TRUE(Has(err_, "monitoring Device1 (disk 0 (/dev/sim0)), Device2 (disk ")) << err_;
    EXPECT_EQ(mails, std::vector<std::string>{"2/1/0"}) << testing::PrintToString(mails);
    // The whole output went to the day's file too.
    EXPECT_EQ(SplitLines(out_), FileLines());
}

TEST_F(RaidctlMonitorServiceTest, WaitsForAnEnclosureWhenFollowingDevices) {
    auto disks = std::make_unique<sim::SimDiskSystem>();
    disks->AddPlainDisk();
    auto* sim = disks.get();
    disks_ = std::move(disks);
    bool changed = false;
    std::vector<std::pair<std::uint64_t, std::string>> told;
    configure_ = [&](MonitorOptions& o) {
        o.deviceEvents = [&] { return std::exchange(changed, false); };
        o.notify = [&](const std::string& what) { told.emplace_back(clock_.NowMs(), what); };
    };
    std::uint64_t plugged = 0;
    const int code = Monitor({"--polls", "1"}, {}, [&](std::uint32_t) {
        if (plugged == 0) {
            plugged = clock_.NowMs();
            auto model = sim::ScenarioEnclosure("raid1");
            sim->AddEnclosure(std::make_shared<sim::ControllerEmulator>(*model, &clock_));
            changed = true;
        }
        // A guard against a monitor that never notices.
        return clock_.NowMs() > plugged + 60'000;
    });
    EXPECT_EQ(code, kExitOk) << err_;
    EXPECT_TRUE(Has(err_, "No Drive found! - waiting for an enclosure")) << err_;
    EXPECT_TRUE(Has(err_, "monitoring Device1")) << err_;
    // The debounce (about 5 s) and one tick to apply the discovery.
    EXPECT_LT(clock_.NowMs() - plugged, 10'000u);
    EXPECT_EQ(FileLines().size(), 15u);

    // systemd hears: the state in a line, ready, watchdog pings once a
    // second while the device-change debounce waits with nothing to poll
    // (and after the discovery and the poll), the state after each poll,
    // and the stop.
    ASSERT_GE(told.size(), 4u);
    EXPECT_EQ(told[0].second, "STATUS=no enclosure; waiting for one");
    EXPECT_EQ(told[1].second, "READY=1");
    EXPECT_EQ(told.back().second, "STOPPING=1");
    EXPECT_TRUE(std::any_of(told.begin(), told.end(), [](const auto& t) {
        return t.second == "STATUS=1 enclosure: healthy";
    }));
    std::size_t waiting = 0, after = 0;
    for (const auto& [at, what] : told) {
        if (what != "WATCHDOG=1") continue;
        if (at >= plugged && at < plugged + 5000) ++waiting;
        if (at >= plugged + 5000) ++after;
    }
    EXPECT_GE(waiting, 4u);
    EXPECT_GE(after, 1u);
}

TEST_F(RaidctlMonitorServiceTest, MetricsFileFollowsEveryPoll) {
    Plug("raid1");
    const fs::path metrics = logDir_ / "raid.prom";
    // Open to clients only once a poll has asked the enclosure: what they
    // are told is never a poll that has not run.
    std::string atReady;
    configure_ = [&](MonitorOptions& o) {
        o.metricsFile = metrics;
        o.serveClients = [&] { atReady = ReadAll(metrics) + "(ready)"; };
    };
    std::vector<std::string> seen;
    ASSERT_EQ(Monitor({"--polls", "4"},
                      [&](std::uint32_t done) {
                          seen.push_back(ReadAll(metrics));
                          if (done == 2) Control(0, "pull 2");
                          if (done == 3) Control(0, "silent on");
                      }),
              kExitOk)
        << err_;
    ASSERT_EQ(seen.size(), 3u);
    ASSERT_TRUE(atReady.ends_with("(ready)")) << "never served";
    EXPECT_EQ(Value(ParseTextfile(atReady.substr(0, atReady.size() - 7)), "raid_enclosure_up",
                    {{"enclosure", "Device1"}, {"disk", "sim0"}, {"model", "SIM RAID1 ENCLOSURE"}}),
              1)
        << atReady;
    const auto first = ParseTextfile(seen[0]);
    const std::map<std::string, std::string> d1{{"enclosure", "Device1"}};
    EXPECT_EQ(Value(first, "raid_health_mask", {}), 0);
    EXPECT_EQ(Value(first, "raid_enclosure_up",
                    {{"enclosure", "Device1"}, {"disk", "sim0"}, {"model", "SIM RAID1 ENCLOSURE"}}),
              1);
    EXPECT_EQ(Value(first, "raid_member_present", {{"enclosure", "Device1"}, {"bay", "HDD2"}}), 1);
    EXPECT_TRUE(Value(first, "raid_temperature_celsius", d1));
    EXPECT_FALSE(Value(first, "raid_rebuild_percent", d1));
    // The SMART reads after the first poll.
    const auto second = ParseTextfile(seen[1]);
    EXPECT_EQ(Value(second, "raid_smart_verdict", {{"enclosure", "Device1"}, {"bay", "HDD2"}}), 0);

    const auto pulled = ParseTextfile(seen[2]);
    EXPECT_EQ(Value(pulled, "raid_member_present", {{"enclosure", "Device1"}, {"bay", "HDD2"}}), 0);
    EXPECT_EQ(Value(pulled, "raid_health_mask", {}), health::kMemberDown);
    EXPECT_EQ(Value(pulled, "raid_smart_verdict", {{"enclosure", "Device1"}, {"bay", "HDD1"}}), 0);
    EXPECT_FALSE(Value(pulled, "raid_smart_verdict", {{"enclosure", "Device1"}, {"bay", "HDD2"}}));

    // A silent poll: down, counted, and its stale state left out.
    const auto silent = ParseTextfile(ReadAll(metrics));
    EXPECT_EQ(Value(silent, "raid_enclosure_up", d1), 0);
    EXPECT_EQ(Value(silent, "raid_poll_failures_total", d1), 1);
    EXPECT_FALSE(Value(silent, "raid_member_present", d1));
    // Only the file itself is left: the temporary one was renamed.
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(logDir_)) ++files;
    EXPECT_EQ(files, 2u);  // the day's log and the metrics
}

TEST(MonitorReport, LabelsAreEscapedAndStaleStateLeftOut) {
    MonitorReport report;
    MonitoredEnclosure e;
    e.status.polled = true;
    e.status.pollOk = true;
    e.status.path = "/dev/sdb";
    e.status.model = "A \"quoted\" back\\slash\nmodel";
    e.status.members[0] = {"HDD1", 0x00, "present", true, {}, {}, 0};
    e.status.members[1] = {"HDD2", 0x21, "inserted", false, {}, {}, 0};
    e.status.rebuildPercent = 42;
    report.enclosures.push_back(e);
    const std::string text = MetricsText(report);
    EXPECT_TRUE(Has(text, "model=\"A \\\"quoted\\\" back\\\\slash\\nmodel\"")) << text;
    const auto samples = ParseTextfile(text);
    EXPECT_EQ(Value(samples, "raid_rebuild_percent", {}), 42);
    EXPECT_EQ(Value(samples, "raid_member_state", {{"bay", "HDD2"}}), 0x21);
    EXPECT_EQ(Value(samples, "raid_health_mask", {}), health::kRebuilding);
    EXPECT_FALSE(Value(samples, "raid_fan_rpm", {}));  // no sensors

    report.enclosures[0].status.pollOk = false;
    EXPECT_EQ(HealthMask(report), health::kNoAnswer);
    report.enclosures[0].status.polled = false;  // dropped after failing
    EXPECT_EQ(HealthMask(report), health::kNoEnclosure);
    EXPECT_EQ(HealthTexts(health::kNoEnclosure | health::kSmartError),
              (std::vector<std::string>{"1: no enclosure found",
                                        "16: a member disk's SMART verdict is Error"}));
}

TEST_F(RaidctlMonitorServiceTest, InterruptEndsDeviceWorkAtItsNextStep) {
    Plug("raid1");
    int asked = 0;
    bool interrupt = false;
    configure_ = [&](MonitorOptions& o) {
        o.interrupted = [&] {
            ++asked;
            return interrupt;
        };
    };
    // Set during the wait after the first poll; seen at the second poll's
    // first pause, which then ends without logging.
    ASSERT_EQ(Monitor({"--polls", "5", "--verbose"},
                      [&](std::uint32_t done) {
                          if (done == 1) {
                              Control(0, "pull 2");
                              interrupt = true;
                          }
                      }),
              kExitOk);
    EXPECT_GT(asked, 0);
    EXPECT_EQ(FileLines().size(), 15u);
    EXPECT_FALSE(Has(out_, "was removed")) << out_;
    EXPECT_TRUE(Has(err_, "raidctl: poll [")) << err_;
}

TEST(ProgramFolder, InstalledCopiesKeepTheirLogsInTheLogFolder) {
    EXPECT_EQ(platform::ProgramDataFolder(platform::InstalledBinFolder()),
              platform::InstalledLogFolder());
    EXPECT_EQ(platform::ProgramDataFolder("/tmp"), fs::path("/tmp"));
    EXPECT_EQ(platform::ProgramDataFolder(""), fs::path());
}

}  // namespace
}  // namespace raid::cli
