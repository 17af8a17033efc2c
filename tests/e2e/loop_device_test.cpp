// End-to-end: raidctl talks to an emulated enclosure through the real Linux
// transport (loop device with direct I/O over raid-sim-fuse). Needs root,
// /dev/fuse and loop devices; skips itself otherwise.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "device/protocol.h"
#include "platform/linux_disks.h"
#include "sim/emulator.h"
#include "sim/fuse/sim_mount.h"
#include "tests/e2e/json_field.h"

namespace raid {
namespace {

using raid::test_support::JsonField;

using sim::fuse::CommandResult;
using sim::fuse::RunCommand;
using sim::fuse::SimMount;

constexpr int kCommandTimeoutMs = 20000;

// The reads one QueryController(code) must make before its first reply
// poll: the knock sequence with a separator read between equal neighbours.
std::vector<std::uint32_t> ExpectedKnockReads(std::uint8_t code) {
    const std::vector<std::uint8_t> block =
        device::BuildCommandBlock(4, code, device::kDefaultParams[0], device::kDefaultParams[1],
                                  device::kDefaultParams[2], {});
    std::vector<std::uint32_t> reads;
    std::uint32_t previous = 0;
    for (const std::uint32_t lba : device::BuildKnockSequence(block)) {
        if (lba == previous) reads.push_back(device::kSeparatorLba);
        reads.push_back(lba);
        previous = lba;
    }
    return reads;
}

std::vector<std::uint8_t> FromHex(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

struct QueryOutcome {
    CommandResult run;
    std::optional<std::string> result;
    std::optional<std::string> controllerType;
    std::vector<std::uint8_t> reply;
};

class LoopDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string missing = SimMount::MissingPrerequisites();
        if (!missing.empty()) {
            GTEST_SKIP() << "end-to-end test needs root, /dev/fuse, loop devices, losetup and "
                            "fusermount3; missing: "
                         << missing;
        }
        const std::string error = mount_.Start(SIM_FUSE_PATH, {"--scenario", "raid1"});
        ASSERT_TRUE(error.empty()) << error;
    }

    // Runs `raidctl query LOOP CODE --json` on a cleared trace.
    QueryOutcome Query(std::uint8_t code) {
        QueryOutcome q;
        EXPECT_TRUE(mount_.ClearTrace());
        char codeText[8];
        std::snprintf(codeText, sizeof codeText, "0x%02X", code);
        q.run = RunCommand({RAIDCTL_PATH, "query", mount_.LoopDevice(), codeText, "--json"},
                           kCommandTimeoutMs);
        EXPECT_FALSE(q.run.timedOut) << "raidctl query did not end";
        q.result = JsonField(q.run.out, "result");
        q.controllerType = JsonField(q.run.out, "controllerType");
        if (const auto reply = JsonField(q.run.out, "reply")) q.reply = FromHex(*reply);
        return q;
    }

    // The trace must be the knock of `code` followed by nothing but reply
    // polls (0x5FFF, 17), at least one.
    void ExpectExactReads(std::uint8_t code) {
        const std::vector<std::uint32_t> trace = mount_.Trace();
        const std::vector<std::uint32_t> knock = ExpectedKnockReads(code);
        ASSERT_GE(trace.size(), knock.size() + 2) << "too few reads reached the enclosure";
        EXPECT_EQ(std::vector<std::uint32_t>(trace.begin(), trace.begin() + knock.size()), knock);
        const std::vector<std::uint32_t> polls(trace.begin() + knock.size(), trace.end());
        ASSERT_EQ(polls.size() % 2, 0u) << "a reply poll is incomplete";
        for (std::size_t i = 0; i < polls.size(); i += 2) {
            EXPECT_EQ(polls[i], device::kSeparatorLba) << "poll read " << i;
            EXPECT_EQ(polls[i + 1], device::kReplyLba) << "poll read " << i + 1;
        }
    }

    SimMount mount_;
};

TEST_F(LoopDeviceTest, IdentifyQueryIsSignedAndReadsExactlyTheKnockSequence) {
    const QueryOutcome q = Query(device::cmd::kIdentify);
    ASSERT_EQ(q.run.exitCode, 0) << q.run.out << q.run.err;
    EXPECT_EQ(q.result, "0") << q.run.out;
    EXPECT_EQ(q.controllerType, "0") << q.run.out;
    ASSERT_EQ(q.reply.size(), device::kReplySize);
    EXPECT_EQ(device::RecognizeSignature(q.reply), device::kControllerRaidBridge);
    ExpectExactReads(device::cmd::kIdentify);
}

TEST_F(LoopDeviceTest, ArrayStatusFollowsAPulledMember) {
    // Which port block belongs to HDD2 follows the port-order bit of the
    // firmware code (set: HDD1 first).
    const auto model = sim::ScenarioEnclosure("raid1");
    ASSERT_TRUE(model.has_value());
    const std::size_t hdd2 = (model->firmwareCode[3] & 0x10) ? 160 : 84;

    const QueryOutcome before = Query(device::cmd::kArrayStatus);
    ASSERT_EQ(before.run.exitCode, 0) << before.run.out << before.run.err;
    EXPECT_EQ(before.result, "0");
    EXPECT_EQ(before.controllerType, "0");
    ExpectExactReads(device::cmd::kArrayStatus);
    ASSERT_EQ(before.reply.size(), device::kReplySize);
    EXPECT_EQ(before.reply[hdd2], model->members[1].state);

    ASSERT_EQ(mount_.Control("pull 2"), "");
    const QueryOutcome after = Query(device::cmd::kArrayStatus);
    ASSERT_EQ(after.run.exitCode, 0) << after.run.out << after.run.err;
    EXPECT_EQ(after.result, "0");
    ASSERT_EQ(after.reply.size(), device::kReplySize);
    EXPECT_EQ(after.reply[hdd2], 4) << "HDD2 should read as pulled";
    EXPECT_EQ(after.reply[hdd2 == 84 ? 160 : 84], before.reply[hdd2 == 84 ? 160 : 84])
        << "HDD1 must not change";
}

TEST_F(LoopDeviceTest, SilentDiskFailsTheKnockAndControlRefusesBadLines) {
    EXPECT_NE(mount_.Control("no-such-command 1"), "");
    ASSERT_EQ(mount_.Control("silent on"), "");
    const QueryOutcome q = Query(device::cmd::kIdentify);
    EXPECT_NE(q.run.exitCode, 0);
    EXPECT_EQ(q.result, std::to_string(device::kResultKnockReadFailed)) << q.run.out << q.run.err;
    // The first knock read fails and the command stops there.
    EXPECT_EQ(mount_.Trace(), std::vector<std::uint32_t>{ExpectedKnockReads(0x10).front()});

    ASSERT_EQ(mount_.Control("silent off"), "");
    EXPECT_EQ(Query(device::cmd::kIdentify).result, "0");
}

TEST_F(LoopDeviceTest, DiskRefusesWrites) {
    const std::string disk = mount_.MountPoint() + "/disk";
    const int fd = open(disk.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0) << strerror(errno);
    const char sector[512] = {};
    EXPECT_EQ(pwrite(fd, sector, sizeof sector, 0), -1);
    EXPECT_EQ(errno, EROFS);
    close(fd);
    EXPECT_TRUE(mount_.Trace().empty()) << "a refused write must not reach the emulator";
}

// The access mode of this process's descriptors open on `device`.
std::vector<int> AccessModesOn(const std::string& device) {
    std::vector<int> modes;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(entry.path(), ec) != device || ec) continue;
        std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
        std::string key;
        std::string value;
        while (info >> key >> value) {
            if (key == "flags:") modes.push_back(std::stoi(value, nullptr, 8) & O_ACCMODE);
        }
    }
    return modes;
}

TEST_F(LoopDeviceTest, DiscoveryOpensTheDiskReadOnlyAndTakesItsCommandLock) {
    platform::LinuxDiskSystem disks;
    const int number = disks.DiskNumberOfPath(mount_.LoopDevice());
    ASSERT_GE(number, 0) << mount_.LoopDevice();
    platform::OpenResult open = disks.OpenDisk(number);
    ASSERT_TRUE(open) << open.message;
    const std::vector<int> modes = AccessModesOn(mount_.LoopDevice());
    ASSERT_FALSE(modes.empty());
    for (const int mode : modes) EXPECT_EQ(mode, O_RDONLY);
    // A read-only descriptor carries the lock that keeps other programs'
    // commands out.
    EXPECT_TRUE(open.handle->TryLockCommands());
    platform::OpenResult second = disks.OpenDisk(number);
    ASSERT_TRUE(second) << second.message;
    EXPECT_FALSE(second.handle->TryLockCommands());
}

TEST(RaidSimFuseTest, EndsCleanlyOnSigterm) {
    const std::string missing = SimMount::MissingPrerequisites();
    if (!missing.empty()) GTEST_SKIP() << "needs root and /dev/fuse; missing: " << missing;
    SimMount mount;
    const std::string error = mount.Start(SIM_FUSE_PATH, {}, /*attachLoop=*/false);
    ASSERT_TRUE(error.empty()) << error;
    ASSERT_TRUE(mount.Terminate(5000)) << "raid-sim-fuse ignored SIGTERM";
    EXPECT_EQ(mount.DaemonExitStatus(), 0) << mount.DaemonLog();
    EXPECT_FALSE(mount.IsMounted()) << "SIGTERM must unmount";
}

}  // namespace
}  // namespace raid
