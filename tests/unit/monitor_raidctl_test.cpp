// raidctl list and status against simulated enclosures: arguments, one
// discovery and poll, the printed status, and the failures a user can meet.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/raidctl_args.h"
#include "cli/raidctl_sim.h"
#include "cli/raidctl_status.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"
#include "tests/unit/raidctl_run.h"

namespace raid::cli {
namespace {

using test_support::CliRun;

CliRun Raidctl(platform::DiskSystem& disks, platform::Clock& clock,
               std::vector<std::string_view> words) {
    const bool list = ParseArguments(words).args.command == Command::List;
    return test_support::RunCommand(list ? RunList : RunStatus, disks, clock, std::move(words));
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(RaidctlStatusArguments, ListAndStatus) {
    auto parse = [](std::vector<std::string_view> w) { return ParseArguments(w); };
    auto r = parse({"status", "--json"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.args.command, Command::Status);
    EXPECT_TRUE(r.args.disk.empty());
    r = parse({"--simulate=raid1+rebuild", "status", "/dev/sdb"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.args.disk, "/dev/sdb");
    EXPECT_EQ(r.args.scenario, "raid1+rebuild");
    EXPECT_EQ(parse({"list", "--json"}).args.command, Command::List);
    EXPECT_FALSE(parse({"list", "0"}).ok());
    EXPECT_FALSE(parse({"status", "0", "1"}).ok());
}

TEST(RaidctlStatusArguments, CombinedScenarios) {
    platform::ManualClock clock;
    std::string error;
    auto disks = MakeSimulatedDisks("raid1+rebuild+jbod", clock, error);
    ASSERT_TRUE(disks) << error;
    EXPECT_EQ(disks->ListDisks().size(), 4u);  // three enclosures and the plain disk
    EXPECT_FALSE(MakeSimulatedDisks("raid1+", clock, error));
    EXPECT_TRUE(Has(error, "empty scenario name"));
    EXPECT_FALSE(MakeSimulatedDisks("raid1+nonsense", clock, error));
    EXPECT_TRUE(Has(error, "unknown scenario nonsense; known:"));
}

TEST(RaidctlStatus, HealthyMirrorAsText) {
    platform::ManualClock clock;
    std::string error;
    auto disks = MakeSimulatedDisks("", clock, error);
    ASSERT_TRUE(disks) << error;
    const CliRun run = Raidctl(*disks, clock, {"status"});
    EXPECT_EQ(run.code, kExitOk) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(Has(run.out, "Device1: disk 0 (/dev/sim0), SIM RAID1 ENCLOSURE")) << run.out;
    EXPECT_TRUE(Has(run.out, "array: Mirroring(RAID1) (mode 1)"));
    EXPECT_TRUE(Has(run.out,
                    "HDD1: present (state 00), SIM-DISK 1000GB, serial SIM1000A0001, "
                    "931 GB(1953525168 Sectors)"));
    EXPECT_TRUE(Has(run.out, "rebuild: none"));
    EXPECT_TRUE(Has(run.out, "fan: 2400 RPM, temperature: 38 C"));
    EXPECT_TRUE(Has(run.out, "buzzer: not muted"));

    const CliRun list = Raidctl(*disks, clock, {"list"});
    EXPECT_EQ(list.code, 0);
    EXPECT_TRUE(Has(list.out, "Device1  0     /dev/sim0"));
}

TEST(RaidctlStatus, JsonPollsTwoDevicesAndReportsTheThird) {
    platform::ManualClock clock;
    std::string error;
    auto disks = MakeSimulatedDisks("rebuild+raid0+jbod", clock, error);
    ASSERT_TRUE(disks) << error;
    const CliRun run = Raidctl(*disks, clock, {"--json", "status"});
    EXPECT_EQ(run.code, kExitOk) << run.err;
    const std::string& j = run.out;
    EXPECT_EQ(j.rfind("{\"devices\":[{\"index\":0,\"name\":\"Device1\",\"disk\":0,", 0), 0u) << j;
    EXPECT_TRUE(Has(j, "\"class\":\"present\",\"rebuilding\":true"));
    EXPECT_TRUE(Has(j, "\"name\":\"Device2\",\"disk\":1,"));
    EXPECT_TRUE(Has(j, "\"arrayModeText\":\"Striping(RAID0)\""));
    EXPECT_TRUE(Has(j,
                    "\"name\":\"Device3\",\"disk\":2,\"path\":\"/dev/sim2\",\"model\":"
                    "\"SIM JBOD ENCLOSURE\",\"firmware\":\"100126.1\",\"polled\":false"));
    EXPECT_EQ(j.back(), '\n');
    // A rebuild in progress reports a percentage; the others none.
    const auto first = j.find("\"rebuildPercent\":");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(j.substr(first + 17, 4), "null");
    EXPECT_TRUE(Has(j.substr(first + 17), "\"rebuildPercent\":null"));
}

TEST(RaidctlStatus, OneDiskOnly) {
    platform::ManualClock clock;
    std::string error;
    auto disks = MakeSimulatedDisks("raid1+raid0", clock, error);
    ASSERT_TRUE(disks) << error;

    const CliRun second = Raidctl(*disks, clock, {"status", "1"});
    EXPECT_EQ(second.code, kExitOk) << second.err;
    EXPECT_FALSE(Has(second.out, "Device1"));
    EXPECT_TRUE(Has(second.out, "Device2: disk 1 (/dev/sim1), SIM RAID0 ENCLOSURE"));

    const CliRun plain = Raidctl(*disks, clock, {"status", "/dev/sim2"});
    EXPECT_EQ(plain.code, kExitCommandFailed);
    EXPECT_TRUE(Has(plain.err, "disk 2 (/dev/sim2) holds no enclosure")) << plain.err;

    const CliRun missing = Raidctl(*disks, clock, {"status", "7"});
    EXPECT_EQ(missing.code, kExitCannotOpen);
    EXPECT_TRUE(Has(missing.err, "is not one of the physical disks"));
}

platform::VolumeInfo Volume(const std::string& name, int disk, const std::string& mount = "") {
    platform::VolumeInfo v;
    v.name = name;
    v.devicePath = "/dev/" + name;
    v.mountPoint = mount;
    v.diskNumber = disk;
    v.driveType = platform::kDriveFixed;
    v.startBytes = 1 << 20;
    v.lengthBytes = 1 << 30;
    return v;
}

TEST(RaidctlList, ReportsEachEnclosureWithItsDrives) {
    platform::ManualClock clock;
    sim::SimDiskSystem disks;
    disks.AddPlainDisk();
    disks.AddVolume(Volume("sim0p1", 0, "/"));
    disks.AddEnclosure(
        std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure("raid1"), &clock));
    disks.AddVolume(Volume("sim1p1", 1, "/mnt/raid"));
    disks.AddVolume(Volume("sim1p2", 1));

    const CliRun text = Raidctl(disks, clock, {"list"});
    EXPECT_EQ(text.code, kExitOk);
    const std::string t = text.out;
    EXPECT_NE(t.find("Device1"), std::string::npos) << t;
    EXPECT_NE(t.find("/dev/sim1"), std::string::npos) << t;
    EXPECT_NE(t.find("SIM RAID1 ENCLOSURE"), std::string::npos) << t;
    EXPECT_NE(t.find("100126.1"), std::string::npos) << t;
    EXPECT_NE(t.find("/mnt/raid, sim1p2"), std::string::npos) << t;
    EXPECT_EQ(t.find("Device2"), std::string::npos) << t;

    const CliRun json = Raidctl(disks, clock, {"list", "--json"});
    EXPECT_EQ(json.code, kExitOk);
    EXPECT_EQ(json.out,
              "{\"devices\":[{\"index\":0,\"name\":\"Device1\",\"disk\":1,\"path\":\"/dev/sim1\","
              "\"model\":\"SIM RAID1 ENCLOSURE\",\"firmware\":\"100126.1\","
              "\"controller\":\"raid-bridge\",\"featureMask\":55,"
              "\"driveLetters\":[\"/mnt/raid\",\"sim1p2\"]}]}\n");
}

TEST(RaidctlList, NoEnclosureExplainsMissingRights) {
    platform::ManualClock clock;
    sim::SimDiskSystem disks;
    disks.AddPlainDisk();
    const CliRun plain = Raidctl(disks, clock, {"list"});
    EXPECT_EQ(plain.code, 1);
    EXPECT_EQ(plain.out, "No Drive found! \n");

    disks.SetOpenError(0, platform::OpenError::PermissionDenied);
    const CliRun denied = Raidctl(disks, clock, {"list", "--json"});
    EXPECT_EQ(denied.code, 1);
    EXPECT_NE(denied.out.find("\"devices\":[]"), std::string::npos);
    EXPECT_NE(denied.out.find("disk group"), std::string::npos) << denied.out;
}

TEST(RaidctlList, JsonOfEachEnclosureOrWhyThereIsNone) {
    platform::ManualClock clock;
    sim::SimDiskSystem disks;
    disks.AddPlainDisk();
    CliRun none = Raidctl(disks, clock, {"list", "--json"});
    EXPECT_EQ(none.code, kExitUsage);
    EXPECT_EQ(none.out, "{\"devices\":[]}\n");

    disks.AddEnclosure(
        std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure("raid1"), &clock));
    platform::VolumeInfo volume;
    volume.name = "sim1p1";
    volume.devicePath = "/dev/sim1p1";
    volume.mountPoint = "/mnt/raid";
    volume.diskNumber = 1;
    volume.driveType = platform::kDriveFixed;
    volume.lengthBytes = 1 << 30;
    disks.AddVolume(volume);
    const CliRun one = Raidctl(disks, clock, {"--json", "list"});
    EXPECT_EQ(one.code, kExitOk);
    EXPECT_EQ(one.out,
              "{\"devices\":[{\"index\":0,\"name\":\"Device1\",\"disk\":1,\"path\":\"/dev/sim1\","
              "\"model\":\"SIM RAID1 ENCLOSURE\",\"firmware\":\"100126.1\","
              "\"controller\":\"raid-bridge\",\"featureMask\":55,"
              "\"driveLetters\":[\"/mnt/raid\"]}]}\n");

    disks.SetOpenError(0, platform::OpenError::PermissionDenied);
    disks.SetOpenError(1, platform::OpenError::PermissionDenied);
    const CliRun denied = Raidctl(disks, clock, {"list", "--json"});
    EXPECT_EQ(denied.code, kExitUsage);
    EXPECT_EQ(denied.out.rfind("{\"devices\":[],\"message\":\"", 0), 0u) << denied.out;
    EXPECT_TRUE(Has(denied.out, "disk group")) << denied.out;
    const CliRun deniedText = Raidctl(disks, clock, {"list"});
    EXPECT_EQ(deniedText.out.rfind("No Drive found! \n", 0), 0u) << deniedText.out;
    EXPECT_TRUE(Has(deniedText.out, "disk group")) << deniedText.out;
}

TEST(RaidctlStatus, NoEnclosureAndNoRights) {
    platform::ManualClock clock;
    sim::SimDiskSystem disks;
    disks.AddPlainDisk();
    CliRun run = Raidctl(disks, clock, {"status"});
    EXPECT_EQ(run.code, kExitCommandFailed);
    EXPECT_EQ(run.out, "No Drive found! \n");

    disks.AddEnclosure(
        std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure("raid1"), &clock));
    disks.SetOpenError(0, platform::OpenError::PermissionDenied);
    disks.SetOpenError(1, platform::OpenError::PermissionDenied);
    run = Raidctl(disks, clock, {"--json", "status"});
    EXPECT_EQ(run.code, kExitCannotOpen);
    EXPECT_EQ(run.out.rfind("{\"devices\":[],\"message\":", 0), 0u) << run.out;
    EXPECT_TRUE(Has(run.err, "disk group")) << run.err;
}

}  // namespace
}  // namespace raid::cli
