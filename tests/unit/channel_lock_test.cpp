// One conversation per controller: commands of other threads (and, through
// flock, other processes) wait for their turn, and a command started from a
// pump inside another command is refused rather than interleaved.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <fstream>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "device/channel.h"
#include "platform/linux_disk_handle.h"
#include "sim/enclosure_data.h"
#include "sim/sim_disks.h"

namespace raid::device {
namespace {

class ChannelLockTest : public ::testing::Test {
protected:
    ChannelLockTest() {
        emulator =
            std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure("raid1"), &clock);
        disk = disks.AddEnclosure(emulator);
    }

    platform::ManualClock clock;
    sim::SimDiskSystem disks;
    std::shared_ptr<sim::ControllerEmulator> emulator;
    int disk = 0;
    CommandChannel ch{disks, clock};
    ReplySector out{};
};

TEST_F(ChannelLockTest, CommandFromAPumpInsideACommandIsRefusedAndTheOuterOneFinishes) {
    int pumps = 0;
    std::uint8_t innerResult = 0;
    std::string innerMessage;
    ch.pump = [&] {
        if (++pumps != 5) return;
        ReplySector inner{};
        innerResult = QueryController(ch, disk, cmd::kArrayStatus, inner);
        innerMessage = ch.lastOpenMessage;
    };
    ASSERT_EQ(QueryController(ch, disk, cmd::kInformation, out), kResultSuccess);
    EXPECT_EQ(innerResult, kResultOpenFailed);
    EXPECT_NE(innerMessage.find("under way"), std::string::npos);
    EXPECT_EQ(emulator->ExecutedCommands(), std::vector<std::uint8_t>{cmd::kInformation});

    // The refusal leaves nothing behind: the next command runs normally.
    ch.pump = nullptr;
    EXPECT_EQ(QueryController(ch, disk, cmd::kArrayStatus, out), kResultSuccess);
}

TEST_F(ChannelLockTest, SpiCommandFromAPumpIsRefusedWithoutTouchingTheRequest) {
    auto handle = OpenDevice(ch, disk);
    ASSERT_TRUE(handle);
    SpiBlock block{};
    std::uint8_t innerResult = 0;
    bool tried = false;
    ch.pump = [&] {
        if (std::exchange(tried, true)) return;
        SpiBlock other{};
        innerResult = ReadSPI(ch, *handle, 0x1000, other);
    };
    EXPECT_EQ(ReadSPI(ch, *handle, 0, block), kResultSuccess);
    EXPECT_EQ(innerResult, kResultOpenFailed);
    EXPECT_EQ(emulator->ExecutedCommands(), std::vector<std::uint8_t>{cmd::kReadSpi});
}

TEST_F(ChannelLockTest, HeldLockMakesACommandWaitSayItOnceAndGiveUpWithoutAnyRead) {
    platform::OpenResult holder = disks.OpenDisk(disk);
    ASSERT_TRUE(holder);
    ASSERT_TRUE(holder.handle->TryLockCommands());
    emulator->ClearTrace();

    int notices = 0;
    ch.onLockWait = [&] { ++notices; };
    const std::uint64_t start = clock.NowMs();
    EXPECT_EQ(QueryController(ch, disk, cmd::kInformation, out), kResultOpenFailed);
    EXPECT_EQ(ch.lastOpenError, platform::OpenError::Busy);
    EXPECT_EQ(notices, 1);
    EXPECT_GE(clock.NowMs() - start, kCommandLockLimitMs);
    EXPECT_TRUE(emulator->Trace().empty());

    holder.handle.reset();  // releases the lock
    EXPECT_EQ(QueryController(ch, disk, cmd::kInformation, out), kResultSuccess);
}

TEST_F(ChannelLockTest, LockFreedWhileWaitingLetsTheCommandRun) {
    platform::OpenResult holder = disks.OpenDisk(disk);
    ASSERT_TRUE(holder.handle->TryLockCommands());
    int notices = 0;
    ch.onLockWait = [&] { ++notices; };
    clock.onSleep = [&](std::uint64_t) {
        if (holder.handle) holder.handle->UnlockCommands();
    };
    EXPECT_EQ(QueryController(ch, disk, cmd::kInformation, out), kResultSuccess);
    EXPECT_EQ(notices, 0);
    clock.onSleep = nullptr;
}

TEST(ChannelLockThreads, TwoThreadsTakeTurnsOnOneControllerAndEveryReplyIsTheirOwn) {
    // Real time here: the point is two threads racing for the same disk.
    platform::SystemClock clock;
    sim::SimDiskSystem disks;
    auto emulator = std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure("raid1"));
    const int disk = disks.AddEnclosure(emulator);
    constexpr int kPerThread = 300;
    std::atomic<int> successes{0};
    std::atomic<int> foreignReplies{0};
    // What each command answers when it runs alone; the model does not change.
    std::map<std::uint8_t, ReplySector> alone;
    for (std::uint8_t code : {cmd::kInformation, cmd::kArrayStatus}) {
        CommandChannel ch{disks, clock};
        ASSERT_EQ(QueryController(ch, disk, code, alone[code]), kResultSuccess);
    }
    ASSERT_NE(alone[cmd::kInformation], alone[cmd::kArrayStatus]);
    emulator->ClearTrace();
    auto worker = [&](std::uint8_t code) {
        CommandChannel ch{disks, clock};
        for (int i = 0; i < kPerThread; ++i) {
            ReplySector reply{};
            if (QueryController(ch, disk, code, reply) != kResultSuccess) continue;
            ++successes;
            if (reply != alone.at(code)) ++foreignReplies;
        }
    };
    std::thread a(worker, cmd::kInformation);
    std::thread b(worker, cmd::kArrayStatus);
    a.join();
    b.join();
    EXPECT_EQ(successes.load(), 2 * kPerThread);
    EXPECT_EQ(foreignReplies.load(), 0);
    EXPECT_EQ(emulator->ExecutedCommands().size(), static_cast<std::size_t>(2 * kPerThread + 2));
    const auto sequences = emulator->Sequences();
    EXPECT_EQ(sequences.started, sequences.executed);
    EXPECT_EQ(sequences.badCrc, 0u);
}

TEST(LinuxDiskLock, FlockKeepsASecondOpenOfTheSameNodeOutUntilTheFirstLetsGo) {
    const auto path =
        std::filesystem::temp_directory_path() / ("raid-lock-test-" + std::to_string(::getpid()));
    std::ofstream(path) << std::string(4096, '\0');
    auto open = [&] {
        const int fd = ::open(path.c_str(), O_RDONLY);
        return std::make_unique<platform::LinuxDiskHandle>(path.string(), fd, -1, 0,
                                                           platform::SysfsIdentity{}, nullptr);
    };
    auto first = open();
    auto second = open();
    EXPECT_TRUE(first->TryLockCommands());
    EXPECT_TRUE(first->TryLockCommands());  // already held: still ours
    EXPECT_FALSE(second->TryLockCommands());
    first->UnlockCommands();
    EXPECT_TRUE(second->TryLockCommands());
    EXPECT_FALSE(first->TryLockCommands());
    second.reset();  // closing releases it
    EXPECT_TRUE(first->TryLockCommands());
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace raid::device
