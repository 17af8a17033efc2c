// raidctl smart against simulated enclosures: the command line, the text and
// JSON of one enclosure's members, and the exit codes a script can meet.
#include "cli/raidctl_smart.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/raidctl_args.h"
#include "cli/raidctl_sim.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"
#include "tests/unit/raidctl_run.h"

namespace raid::cli {
namespace {

using test_support::CliRun;

CliRun Smart(platform::DiskSystem& disks, std::vector<std::string_view> words) {
    EXPECT_EQ(ParseArguments(words).args.command, Command::Smart);
    platform::ManualClock clock;
    return test_support::RunCommand(RunSmart, disks, clock, std::move(words));
}

// What --simulate=SCENARIO runs on: its enclosures, then a plain disk.
std::unique_ptr<platform::DiskSystem> Simulated(const std::string& scenario,
                                                platform::Clock& clock) {
    std::string error;
    auto disks = MakeSimulatedDisks(scenario, clock, error);
    EXPECT_TRUE(disks) << error;
    return disks;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Sets byte `offset` (3 current, 4 worst, 5.. raw) of attribute `id` of a
// 512-byte SMART data block.
using test_support::SetAttributeByte;

TEST(RaidctlSmartArguments, DiskIsRequiredAndTheHelpNamesExitFour) {
    auto r = ParseArguments(std::vector<std::string_view>{"--simulate", "smart", "0", "--json"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.args.command, Command::Smart);
    EXPECT_EQ(r.args.disk, "0");
    EXPECT_TRUE(r.args.json);
    EXPECT_TRUE(r.args.simulate);
    for (const std::vector<std::string_view>& bad :
         {std::vector<std::string_view>{"smart"}, {"smart", ""}, {"smart", "0", "1"}})
        EXPECT_FALSE(ParseArguments(bad).ok()) << testing::PrintToString(bad);

    const auto help = ParseArguments(std::vector<std::string_view>{"smart", "--help"});
    EXPECT_TRUE(Has(help.info, "Usage: raidctl smart [OPTIONS] DISK\n")) << help.info;
    EXPECT_TRUE(Has(help.info, "4 a disk's verdict is Error.")) << help.info;
    const auto main = ParseArguments(std::vector<std::string_view>{"--help"});
    EXPECT_TRUE(Has(main.info, "  smart  ")) << main.info;
    EXPECT_TRUE(Has(main.info, "\n  4   smart: a disk's SMART verdict is Error\n")) << main.info;
    EXPECT_EQ(kExitSmartError, 4);
}

TEST(RaidctlSmart, HealthyMirrorAsText) {
    platform::ManualClock clock;
    auto disks = Simulated("raid1", clock);
    const CliRun run = Smart(*disks, {"--simulate", "smart", "0"});
    EXPECT_EQ(run.code, kExitOk) << run.err;
    EXPECT_EQ(run.err, "");
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 1u + 2u * (3u + 9u + 1u)) << run.out;
    EXPECT_EQ(lines[0], "Device1: disk 0 (/dev/sim0), SIM RAID1 ENCLOSURE");
    EXPECT_EQ(lines[1], "  HDD1: SIM-DISK 1000GB");
    EXPECT_EQ(lines[2], "    4K Sector supported : Yes (WORD[106]=0x6003)");
    EXPECT_EQ(lines[3],
              "    ID  ATTRIBUTE                          VALUE WORST THRESHOLD  RAW          "
              "  RAW (DECIMAL)  STATUS");
    EXPECT_EQ(lines[4],
              "    01  Raw read error rate                  200   200        51  000000000000 "
              "              0  Good");
    EXPECT_EQ(lines[8],
              "    09  Power-on hours count                  88    88         0  000000002238 "
              "           8760  Good");
    EXPECT_EQ(lines[10],
              "    C2  Temperature                          112    98         0  000000000023 "
              "             35  Good");
    EXPECT_EQ(lines[13], "    verdict: Good");
    EXPECT_EQ(lines[14], "  HDD2: SIM-DISK 1000GB");
    EXPECT_EQ(lines.back(), "    verdict: Good");
}

TEST(RaidctlSmart, JsonOfAMemberAndOfAnAbsentOne) {
    platform::ManualClock clock;
    auto disks = Simulated("degraded", clock);  // HDD2 pulled
    const CliRun run = Smart(*disks, {"smart", "/dev/sim0", "--json"});
    EXPECT_EQ(run.code, kExitOk) << run.err;
    ASSERT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
    const auto j = nlohmann::ordered_json::parse(run.out);
    EXPECT_EQ(j["name"], "Device1");
    EXPECT_EQ(j["disk"], 0);
    EXPECT_EQ(j["path"], "/dev/sim0");
    EXPECT_EQ(j["thresholdsRead"], true);
    EXPECT_EQ(j["dataRead"], true);
    ASSERT_EQ(j["members"].size(), 2u);

    const auto& hdd1 = j["members"][0];
    EXPECT_EQ(hdd1["name"], "HDD1");
    EXPECT_EQ(hdd1["present"], true);
    EXPECT_EQ(hdd1["model"], "SIM-DISK 1000GB");
    EXPECT_EQ(hdd1["word106"], 0x6003);
    EXPECT_EQ(hdd1["sector4K"], "Yes");
    EXPECT_EQ(hdd1["verdict"], "Good");
    ASSERT_EQ(hdd1["attributes"].size(), 9u);
    const auto& hours = hdd1["attributes"][4];
    EXPECT_EQ(hours.dump(),
              "{\"id\":9,\"name\":\"Power-on hours count\",\"current\":88,\"worst\":88,"
              "\"threshold\":0,\"raw\":\"000000002238\",\"rawValue\":8760,\"status\":\"Good\","
              "\"reason\":\"\"}");

    const auto& hdd2 = j["members"][1];
    EXPECT_EQ(hdd2["present"], false);
    EXPECT_EQ(hdd2["word106"], 0xFFFF);
    EXPECT_EQ(hdd2["sector4K"], "Unknown");
    EXPECT_EQ(hdd2["sector4KHint"], "Code=0xFFFF");
    EXPECT_TRUE(hdd2["attributes"].empty());
    EXPECT_TRUE(hdd2["verdict"].is_null());

    const CliRun text = Smart(*disks, {"smart", "0"});
    EXPECT_EQ(Lines(text.out).back(), "  HDD2: absent");
}

TEST(RaidctlSmart, ErrorVerdictAlertsAndUnknownIds) {
    platform::ManualClock clock;
    auto model = sim::ScenarioEnclosure("raid1");
    ASSERT_TRUE(model.has_value());
    // HDD1: reallocated sectors worn below their threshold (140); HDD2: a
    // pending sector and an id the name table does not know.
    SetAttributeByte(model->members[0].smartData, 5, 4, 100);
    SetAttributeByte(model->members[1].smartData, 197, 5, 3);
    SetAttributeByte(model->members[1].smartData, 199, 0, 0x64);
    SetAttributeByte(model->members[1].smartThresholds, 199, 0, 0x64);
    sim::SimDiskSystem disks;
    disks.AddEnclosure(std::make_shared<sim::ControllerEmulator>(*model, &clock));

    const CliRun run = Smart(disks, {"smart", "0", "--json"});
    EXPECT_EQ(run.code, kExitSmartError) << run.err;
    const auto j = nlohmann::ordered_json::parse(run.out);
    EXPECT_EQ(j["members"][0]["verdict"], "Error");
    EXPECT_EQ(j["members"][0]["attributes"][3]["id"], 5);
    EXPECT_EQ(j["members"][0]["attributes"][3]["status"], "Error");
    EXPECT_EQ(j["members"][0]["attributes"][3]["reason"],
              "worst value 100 is below the threshold 140");
    EXPECT_EQ(j["members"][1]["verdict"], "Warning");
    EXPECT_EQ(j["members"][1]["attributes"][7]["status"], "Alert");
    EXPECT_EQ(j["members"][1]["attributes"][7]["reason"], "raw count 3 is not zero");
    EXPECT_EQ(j["members"][1]["attributes"][8]["id"], 0x64);
    EXPECT_EQ(j["members"][1]["attributes"][8]["name"], "UnKnown");

    const CliRun text = Smart(disks, {"smart", "0"});
    EXPECT_EQ(text.code, kExitSmartError);
    EXPECT_TRUE(Has(text.out, "    verdict: Error\n")) << text.out;
    EXPECT_TRUE(Has(text.out, "    64  UnKnown  ")) << text.out;
}

TEST(RaidctlSmart, FailuresAndTheirExitCodes) {
    platform::ManualClock clock;
    auto disks = Simulated("raid1", clock);  // disk 1 is a plain disk

    const CliRun notADisk = Smart(*disks, {"smart", "7"});
    EXPECT_EQ(notADisk.code, kExitCannotOpen);
    EXPECT_EQ(notADisk.out, "");
    EXPECT_EQ(notADisk.err, "raidctl: 7 is not one of the physical disks (see 'raidctl disks')\n");

    const CliRun plain = Smart(*disks, {"smart", "1"});
    EXPECT_EQ(plain.code, kExitCommandFailed);
    EXPECT_EQ(plain.err, "raidctl: disk 1 (/dev/sim1) holds no enclosure (see 'raidctl list')\n");

    // A member whose data never comes: the read is not answered in full.
    auto* sim = dynamic_cast<sim::SimDiskSystem*>(disks.get());
    ASSERT_NE(sim, nullptr);
    ASSERT_EQ(sim->Emulator(0)->Control("diskfault 2 D0 0 silent always"), "");
    const CliRun silent = Smart(*disks, {"smart", "0"});
    EXPECT_EQ(silent.code, kExitCommandFailed);
    EXPECT_TRUE(Has(silent.out, "not every SMART read was answered in full")) << silent.out;
    EXPECT_TRUE(Has(silent.out,
                    "  HDD2: SIM-DISK 1000GB\n    4K Sector supported : Yes (WORD[106]=0x6003)\n"
                    "    no SMART attributes\n"))
        << silent.out;
    EXPECT_EQ(silent.err,
              "raidctl: Device1 (disk 0 (/dev/sim0)) did not answer every SMART read\n");
    const CliRun silentJson = Smart(*disks, {"smart", "0", "--json"});
    EXPECT_EQ(silentJson.code, kExitCommandFailed);
    EXPECT_EQ(nlohmann::ordered_json::parse(silentJson.out)["dataRead"], false);

    sim::SimDiskSystem denied;
    denied.AddEnclosure(
        std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure("raid1"), &clock));
    denied.SetOpenError(0, platform::OpenError::PermissionDenied);
    const CliRun refused = Smart(denied, {"smart", "0"});
    EXPECT_EQ(refused.code, kExitCannotOpen);
    EXPECT_TRUE(Has(refused.err, "disk group")) << refused.err;
}

TEST(RaidctlSmart, OnlyTheEnclosureOnDiskIsAsked) {
    platform::ManualClock clock;
    sim::SimDiskSystem disks;
    std::vector<std::shared_ptr<sim::ControllerEmulator>> emulators;
    for (const char* scenario : {"raid1", "raid0", "portmultiplier"}) {
        emulators.push_back(
            std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure(scenario), &clock));
        disks.AddEnclosure(emulators.back());
    }
    const CliRun run = Smart(disks, {"smart", "2", "--json"});
    EXPECT_EQ(run.code, kExitOk) << run.err;
    const auto j = nlohmann::ordered_json::parse(run.out);
    EXPECT_EQ(j["name"], "Device3");
    EXPECT_EQ(j["members"][0]["model"], "SIM-SSD 256GB");
    EXPECT_EQ(j["members"][0]["word106"], 0x4000);
    for (std::size_t k = 0; k < emulators.size(); ++k) {
        const auto commands = emulators[k]->ExecutedCommands();
        const auto diskCommands = std::count(commands.begin(), commands.end(), 0xB1);
        // Per member: thresholds, IDENTIFY and data.
        EXPECT_EQ(diskCommands, k == 2 ? 6 : 0) << k;
    }
}

}  // namespace
}  // namespace raid::cli
