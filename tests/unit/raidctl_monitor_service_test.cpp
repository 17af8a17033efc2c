// raidctl monitor as a service: the health bits of --once, enclosures that
// come and go while it runs, the metrics file, and a stop in the middle of
// device work.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>

#include "platform/program_folder.h"
#include "service/enclosure_status.h"
#include "service/monitor_report.h"
#include "tests/prometheus_textfile.h"
#include "tests/unit/raidctl_monitor_fixture.h"
#include "tests/unit/raidctl_run.h"

namespace raid::cli {
namespace {

using namespace monitor_test;

using raid::test_support::ParseTextfile;
using raid::test_support::Value;
using service::ArrayState;
using service::DeviceStatus;
using service::EnclosureIdentity;

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
    const fs::path metrics = logDir_ / "raid.prom";
    configure_ = [&](MonitorOptions& o) {
        o.deviceEvents = [&] { return std::exchange(changed, false); };
        o.notify = [&](const std::string& what) { told.emplace_back(clock_.NowMs(), what); };
        o.metricsFile = metrics;
    };
    std::uint64_t plugged = 0;
    const std::uint64_t start = clock_.NowMs();
    std::string beforePlug;
    TimePoint wallAtPlug;
    const int code = Monitor({"--polls", "1"}, {}, [&](std::uint32_t) {
        // Plugged after two turns of the poll interval with nothing to poll.
        if (plugged == 0 && clock_.NowMs() >= start + 11'000) {
            beforePlug = ReadAll(metrics);
            wallAtPlug = clock_.WallNow();
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
    // Meanwhile the metrics said so, and were fresh.
    const auto none = ParseTextfile(beforePlug);
    EXPECT_EQ(Value(none, "raid_enclosures", {}), 0) << beforePlug;
    const double stamped = Value(none, "raid_last_poll_timestamp_seconds", {}).value_or(0);
    const double pluggedAt = std::chrono::duration<double>(wallAtPlug.time_since_epoch()).count();
    EXPECT_LE(stamped, pluggedAt);
    EXPECT_GT(stamped, pluggedAt - 5.0);  // within one poll interval
    EXPECT_EQ(Value(ParseTextfile(ReadAll(metrics)), "raid_enclosures", {}), 1);

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
    std::ofstream(metrics) << "raid_enclosures 7\n";  // an earlier run's
    // Open to clients only once a poll has asked the enclosure: what they
    // are told is never a poll that has not run.
    std::string atStart, atReady;
    configure_ = [&](MonitorOptions& o) {
        o.metricsFile = metrics;
        o.serveClients = [&] { atReady = ReadAll(metrics) + "(ready)"; };
    };
    std::vector<std::string> seen;
    std::vector<TimePoint> pollEnds;
    // node_exporter reads it as another user, whatever the service's umask.
    const mode_t umask = ::umask(077);
    const int code = Monitor(
        {"--polls", "4"},
        [&](std::uint32_t done) {
            seen.push_back(ReadAll(metrics));
            pollEnds.push_back(clock_.WallNow());
            if (done == 2) Control(0, "pull 2");
            if (done == 3) Control(0, "silent on");
        },
        [&](std::uint32_t done) {
            if (done == 0 && atStart.empty()) atStart = ReadAll(metrics);
            return false;
        });
    ::umask(umask);
    ASSERT_EQ(code, kExitOk) << err_;
    struct stat st {};
    ASSERT_EQ(::stat(metrics.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    ASSERT_EQ(seen.size(), 3u);
    const std::map<std::string, std::string> d1{{"enclosure", "SIM-BRIDGE-1"}};

    // Before the first poll: what discovery found, the stale file gone.
    const auto start = ParseTextfile(atStart);
    EXPECT_EQ(Value(start, "raid_enclosures", {}), 1) << atStart;
    EXPECT_EQ(Value(start, "raid_enclosure_info",
                    {{"enclosure", "SIM-BRIDGE-1"},
                     {"serial", "SIM-BRIDGE-1"},
                     {"device", "Device1"},
                     {"path", "/dev/sim0"},
                     {"model", "SIM RAID1 ENCLOSURE"},
                     {"firmware", "100126.1"},
                     {"mode", "Mirroring(RAID1)"}}),
              1)
        << atStart;
    EXPECT_FALSE(Value(start, "raid_enclosure_up", {})) << atStart;
    EXPECT_FALSE(Value(start, "raid_last_poll_timestamp_seconds", {})) << atStart;
    ASSERT_TRUE(atReady.ends_with("(ready)")) << "never served";
    EXPECT_EQ(Value(ParseTextfile(atReady.substr(0, atReady.size() - 7)), "raid_enclosure_up", d1),
              1)
        << atReady;

    const auto first = ParseTextfile(seen[0]);
    const auto seconds = [](TimePoint t) {
        return std::chrono::duration<double>(t.time_since_epoch()).count();
    };
    EXPECT_NEAR(*Value(first, "raid_last_poll_timestamp_seconds", {}), seconds(pollEnds[0]), 1e-3);
    EXPECT_EQ(Value(first, "raid_array_state", {{"state", "healthy"}}), 1);
    EXPECT_EQ(Value(first, "raid_array_state", {{"state", "degraded"}}), 0);
    EXPECT_EQ(Value(first, "raid_member_state",
                    {{"enclosure", "SIM-BRIDGE-1"},
                     {"slot", "HDD2"},
                     {"serial", "SIM1000A0002"},
                     {"state", "present"}}),
              1);
    EXPECT_TRUE(Value(first, "raid_temperature_celsius", d1));
    EXPECT_FALSE(Value(first, "raid_rebuild_progress_ratio", d1));
    // The SMART reads after the first poll.
    const auto second = ParseTextfile(seen[1]);
    EXPECT_EQ(Value(second, "raid_member_smart_verdict", {{"slot", "HDD2"}, {"verdict", "good"}}),
              1);
    EXPECT_EQ(
        Value(second, "raid_member_smart_verdict", {{"slot", "HDD2"}, {"verdict", "unknown"}}), 0);

    // The pulled disk keeps its serial; no SMART without it.
    const auto pulled = ParseTextfile(seen[2]);
    EXPECT_EQ(Value(pulled, "raid_member_state",
                    {{"slot", "HDD2"}, {"serial", "SIM1000A0002"}, {"state", "absent"}}),
              1);
    EXPECT_EQ(Value(pulled, "raid_member_state", {{"slot", "HDD2"}, {"state", "present"}}), 0);
    EXPECT_EQ(Value(pulled, "raid_array_state", {{"state", "degraded"}}), 1);
    EXPECT_EQ(Value(pulled, "raid_member_smart_verdict", {{"slot", "HDD1"}, {"verdict", "good"}}),
              1);
    EXPECT_FALSE(Value(pulled, "raid_member_smart_verdict", {{"slot", "HDD2"}}));

    // A silent poll: down, counted, its stale state left out, and the poll's
    // end stamped all the same.
    const auto silent = ParseTextfile(ReadAll(metrics));
    EXPECT_EQ(Value(silent, "raid_enclosure_up", d1), 0);
    EXPECT_EQ(Value(silent, "raid_poll_failures_total", d1), 1);
    EXPECT_FALSE(Value(silent, "raid_member_state", d1));
    EXPECT_EQ(Value(silent, "raid_enclosure_info", d1), 1);
    EXPECT_GT(*Value(silent, "raid_last_poll_timestamp_seconds", {}), seconds(pollEnds[2]));
    // Only the file itself is left: the temporary one was renamed.
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(logDir_)) ++files;
    EXPECT_EQ(files, 2u);  // the day's log and the metrics
}

// What promtool, Prometheus' own checker, says of a metrics file, and its
// exit status (127: promtool is not installed).
std::pair<int, std::string> PromtoolCheck(const fs::path& file) {
    const std::string command = "promtool check metrics < '" + file.string() + "' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return {-1, "popen failed"};
    std::string out;
    char buffer[512];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

TEST_F(RaidctlMonitorServiceTest, MetricsFilesPassPromtool) {
    // Device1 rebuilding HDD2, Device2 silent after the first poll.
    Plug("rebuild+raid1");
    const fs::path rich = logDir_ / "rich.prom";
    const fs::path none = logDir_ / "none.prom";
    configure_ = [&](MonitorOptions& o) { o.metricsFile = rich; };
    ASSERT_EQ(Monitor({"--polls", "3"},
                      [&](std::uint32_t done) {
                          if (done == 1) Control(1, "silent on");
                      }),
              kExitOk)
        << err_;
    const auto samples = ParseTextfile(ReadAll(rich));
    EXPECT_EQ(Value(samples, "raid_array_state",
                    {{"enclosure", "SIM-BRIDGE-1"}, {"state", "rebuilding"}}),
              1);
    EXPECT_TRUE(Value(samples, "raid_rebuild_progress_ratio", {{"enclosure", "SIM-BRIDGE-1"}}));
    EXPECT_EQ(Value(samples, "raid_enclosure_up", {{"enclosure", "SIM-BRIDGE-2"}}), 0);

    auto plain = std::make_unique<sim::SimDiskSystem>();
    plain->AddPlainDisk();
    disks_ = std::move(plain);
    configure_ = [&](MonitorOptions& o) { o.metricsFile = none; };
    EXPECT_EQ(Monitor({"--once"}), int(health::kNoEnclosure));
    EXPECT_EQ(Value(ParseTextfile(ReadAll(none)), "raid_enclosures", {}), 0);

    for (const fs::path& file : {rich, none}) {
        const auto [status, said] = PromtoolCheck(file);
        EXPECT_EQ(status, 0) << file << ": " << said
                             << (status == 127 ? "(promtool comes with Debian's prometheus)" : "");
    }
}

TEST(MonitorReport, StatesAreSeriesOfTheirOwnAndStaleStateIsLeftOut) {
    MonitorReport report;
    MonitoredEnclosure e;
    e.identity = "NA01";
    e.status.polled = true;
    e.status.pollOk = true;
    e.status.path = "/dev/sdb";
    e.status.model = "A \"quoted\" back\\slash\nmodel";
    e.status.arrayMode = 1;  // a mirror
    auto& hdd1 = e.status.members[0];
    hdd1.name = "HDD1";
    hdd1.stateClass = "present";
    hdd1.rebuilding = true;
    hdd1.serial = "S1";
    auto& hdd2 = e.status.members[1];
    hdd2.name = "HDD2";
    hdd2.stateCode = 0x21;
    hdd2.stateClass = "inserted";
    e.status.rebuildPercent = 42;
    report.enclosures.push_back(e);
    // Before the first poll only what discovery found.
    auto samples = ParseTextfile(MetricsText(report));
    EXPECT_EQ(Value(samples, "raid_enclosures", {}), 1);
    EXPECT_EQ(Value(samples, "raid_enclosure_info", {{"enclosure", "NA01"}}), 1);
    EXPECT_FALSE(Value(samples, "raid_enclosure_up", {}));

    report.lastPollEnd = TimePoint(std::chrono::milliseconds(1'710'504'000'050));
    const std::string text = MetricsText(report);
    EXPECT_TRUE(Has(text, "model=\"A \\\"quoted\\\" back\\\\slash\\nmodel\"")) << text;
    EXPECT_TRUE(Has(text, "\nraid_last_poll_timestamp_seconds 1710504000.050\n")) << text;
    samples = ParseTextfile(text);
    EXPECT_EQ(Value(samples, "raid_rebuild_progress_ratio", {}), 0.42);
    EXPECT_EQ(Value(samples, "raid_member_info", {{"slot", "HDD2"}, {"state_code", "0x21"}}), 1);
    EXPECT_EQ(Value(samples, "raid_array_state", {{"state", "rebuilding"}}), 1);
    double hdd2States = 0;
    std::size_t hdd2Series = 0;
    for (const auto& sample : samples)
        if (sample.name == "raid_member_state" && sample.labels.at("slot") == "HDD2") {
            hdd2States += sample.value;
            ++hdd2Series;
        }
    EXPECT_EQ(hdd2Series, 5u);
    EXPECT_EQ(hdd2States, 1);
    EXPECT_EQ(Value(samples, "raid_member_state", {{"slot", "HDD2"}, {"state", "inserted"}}), 1);
    EXPECT_EQ(Value(samples, "raid_member_smart_verdict",
                    {{"slot", "HDD1"}, {"serial", "S1"}, {"verdict", "unknown"}}),
              1);
    EXPECT_FALSE(Value(samples, "raid_member_smart_verdict", {{"slot", "HDD2"}}));
    EXPECT_FALSE(Value(samples, "raid_fan_rpm", {}));  // no sensors
    EXPECT_EQ(HealthMask(report), health::kRebuilding);

    // What a lost member means depends on the mode.
    DeviceStatus s = e.status;
    s.members[0].rebuilding = false;
    s.members[1].stateClass = "present";
    EXPECT_STREQ(ArrayState(s), "healthy");
    s.members[1].stateClass = "absent";
    EXPECT_STREQ(ArrayState(s), "degraded");
    s.arrayMode = 63;  // bypass: the other disk stays readable
    EXPECT_STREQ(ArrayState(s), "degraded");
    s.arrayMode = 0;  // a stripe
    EXPECT_STREQ(ArrayState(s), "failed");
    s.arrayMode = 1;
    s.members[0].stateClass = "failed";
    EXPECT_STREQ(ArrayState(s), "failed");

    report.enclosures[0].status.pollOk = false;
    EXPECT_EQ(HealthMask(report), health::kNoAnswer);
    samples = ParseTextfile(MetricsText(report));
    EXPECT_EQ(Value(samples, "raid_enclosure_up", {}), 0);
    EXPECT_FALSE(Value(samples, "raid_array_state", {}));
    // Not polled while its firmware is rewritten, yet not gone.
    report.enclosures[0].status.polled = false;
    report.enclosures[0].flashing = true;
    samples = ParseTextfile(MetricsText(report));
    EXPECT_EQ(Value(samples, "raid_enclosures", {}), 1);
    EXPECT_EQ(Value(samples, "raid_enclosure_info", {{"enclosure", "NA01"}}), 1);
    EXPECT_FALSE(Value(samples, "raid_enclosure_up", {}));
    report.enclosures[0].flashing = false;  // dropped after failing
    EXPECT_EQ(HealthMask(report), health::kNoEnclosure);
    EXPECT_EQ(Value(ParseTextfile(MetricsText(report)), "raid_enclosures", {}), 0);
    EXPECT_EQ(HealthTexts(health::kNoEnclosure | health::kSmartError),
              (std::vector<std::string>{"1: no enclosure found",
                                        "16: a member disk's SMART verdict is Error"}));
}

TEST(EnclosureIdentity, BridgeSerialElsePortElseDeviceNameAndNeverTwice) {
    AppState state;
    state.discovery.deviceCount = 2;
    state.discovery.deviceTable[0] = kDeviceEntryRecognised | 3;
    state.discovery.deviceTable[1] = kDeviceEntryRecognised | 5;
    std::vector<platform::DiskInfo> disks{{3, "sdd", "/dev/sdd", "NA01", "usb-2-1"},
                                          {5, "sdf", "/dev/sdf", "NA02", "usb-2-2"}};
    using Pair = std::pair<std::string, std::string>;
    const auto both = [&] {
        return Pair(EnclosureIdentity(state, 0, disks), EnclosureIdentity(state, 1, disks));
    };
    EXPECT_EQ(both(), Pair("NA01", "NA02"));
    disks[1].serial = "NA01";  // one make's bridges, one serial
    EXPECT_EQ(both(), Pair("NA01@usb-2-1", "NA01@usb-2-2"));
    disks[0].port = disks[1].port = "";
    EXPECT_EQ(both(), Pair("NA01@Device1", "NA01@Device2"));
    disks[0].serial = "";
    disks[0].port = "ata3";
    EXPECT_EQ(both(), Pair("ata3", "NA01"));
    disks.pop_back();  // gone
    EXPECT_EQ(both(), Pair("ata3", "Device2"));
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
