// Waiting for the reply and turning it into a result code, against the
// emulated controller and a clock that never sleeps.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

#include "device/channel.h"
#include "sim/enclosure_data.h"
#include "sim/sim_disks.h"

namespace raid::device {
namespace {

class ChannelReplyTest : public ::testing::Test {
protected:
    ChannelReplyTest() {
        emulator =
            std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure("raid1"), &clock);
        disk = disks.AddEnclosure(emulator);
    }

    long ReplyPolls() const {
        const auto trace = emulator->Trace();
        return std::count(trace.begin(), trace.end(), kReplyLba);
    }

    platform::ManualClock clock;
    sim::SimDiskSystem disks;
    std::shared_ptr<sim::ControllerEmulator> emulator;
    int disk = 0;
    CommandChannel ch{disks, clock};
    ReplySector out{};
};

TEST_F(ChannelReplyTest, WrongSignatureBIsNotAReplySoPollingGoesOn) {
    emulator->CorruptSignatureB(2);
    ASSERT_EQ(QueryController(ch, disk, cmd::kInformation, out), kResultSuccess);
    EXPECT_EQ(ReplyPolls(), 3);
    EXPECT_EQ(RecognizeSignature(out), kControllerRaidBridge);
}

TEST_F(ChannelReplyTest, StatusByteBecomesTheResult) {
    EXPECT_EQ(QueryController(ch, disk, cmd::kArrayStatus, out), kResultSuccess);
    emulator->SetStatusOverride(0x33);
    EXPECT_EQ(QueryController(ch, disk, cmd::kArrayStatus, out), kResultUnknownStatus);
    EXPECT_EQ(out[kStatusOffset], 0x33);
    emulator->SetStatusOverride(0xD0);
    EXPECT_EQ(QueryController(ch, disk, cmd::kArrayStatus, out), 0xD0);
    emulator->SetStatusOverride(std::nullopt);
    EXPECT_EQ(QueryController(ch, disk, cmd::kArrayStatus, out), kResultSuccess);
}

TEST_F(ChannelReplyTest, ControllerTypeFollowsTheSignature) {
    auto pm = std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure("portmultiplier"),
                                                        &clock);
    const int pmDisk = disks.AddEnclosure(pm);
    ASSERT_EQ(QueryController(ch, pmDisk, cmd::kInformation, out), kResultSuccess);
    EXPECT_EQ(ch.controllerType, kControllerPortMultiplier);
    ASSERT_EQ(QueryController(ch, disk, cmd::kInformation, out), kResultSuccess);
    EXPECT_EQ(ch.controllerType, kControllerRaidBridge);
}

TEST_F(ChannelReplyTest, TimeoutStillFillsTheCallersBuffer) {
    emulator->FailNextReplies(1'000'000);
    out.fill(0xAA);
    EXPECT_EQ(QueryController(ch, disk, cmd::kInformation, out), kResultNoReply);
    ReplySector ordinary{};
    sim::OrdinarySector(kReplyLba, ordinary);
    EXPECT_EQ(out, ordinary);
    EXPECT_EQ(ch.request.result, kResultNoReply);
}

TEST_F(ChannelReplyTest, CountLimitOfThreeAllowsFourPolls) {
    auto handle = OpenDevice(ch, disk);
    ASSERT_TRUE(handle);
    EXPECT_EQ(AwaitReply(ch, *handle, 3), kResultNoReply);
    EXPECT_EQ(ReplyPolls(), 4);
}

TEST_F(ChannelReplyTest, TimeLimitGivesUpOnlyAfterMoreThanThreeWholeSeconds) {
    emulator->FailNextReplies(1'000'000);
    // Make one poll fall on 3999 ms: still within the limit.
    std::vector<std::uint64_t> sleptUntil;
    clock.onSleep = [&](std::uint64_t now) {
        if (now == 3990) clock.Advance(9);
        sleptUntil.push_back(clock.NowMs());
    };
    EXPECT_EQ(QueryController(ch, disk, cmd::kArrayStatus, out), kResultNoReply);
    EXPECT_GE(clock.NowMs(), 4000u);
    EXPECT_NE(std::find(sleptUntil.begin(), sleptUntil.end(), 3999u), sleptUntil.end());
    ASSERT_FALSE(sleptUntil.empty());
    EXPECT_EQ(sleptUntil.back(), clock.NowMs());  // the poll after 3999 ms was the last
    EXPECT_EQ(ReplyPolls(), static_cast<long>(sleptUntil.size()) + 1);
}

TEST_F(ChannelReplyTest, IdentifyWaitsOneSecondLimit) {
    emulator->FailNextReplies(1'000'000);
    EXPECT_EQ(QueryController(ch, disk, cmd::kIdentify, out), kResultNoReply);
    EXPECT_EQ(clock.NowMs(), 2000u);
}

TEST_F(ChannelReplyTest, SlowReplyArrivesWithinTheLimit) {
    emulator->SetReplyDelayMs(1500);
    EXPECT_EQ(QueryController(ch, disk, cmd::kArrayStatus, out), kResultSuccess);
    EXPECT_GE(clock.NowMs(), 1500u);
    EXPECT_LT(clock.NowMs(), 1600u);

    emulator->SetReplyDelayMs(5000);
    EXPECT_EQ(QueryController(ch, disk, cmd::kArrayStatus, out), kResultNoReply);
}

TEST_F(ChannelReplyTest, FailuresOfTheTransportHaveTheirOwnCodes) {
    disks.SetOpenError(disk, platform::OpenError::PermissionDenied);
    EXPECT_EQ(QueryController(ch, disk, cmd::kInformation, out), kResultOpenFailed);
    EXPECT_TRUE(emulator->Trace().empty());
    EXPECT_EQ(ch.lastOpenError, platform::OpenError::PermissionDenied);
    EXPECT_FALSE(ch.lastOpenMessage.empty());
    disks.SetOpenError(disk, platform::OpenError::None);

    emulator->FailReadAt(0x71);
    EXPECT_EQ(QueryController(ch, disk, cmd::kInformation, out), kResultKnockReadFailed);
    EXPECT_EQ(emulator->Trace(), (std::vector<std::uint32_t>{0x43, 0x71}));

    emulator->ClearTrace();
    emulator->FailReadAt(kReplyLba);
    EXPECT_EQ(QueryController(ch, disk, cmd::kInformation, out), kResultReplyReadFailed);
    EXPECT_EQ(ReplyPolls(), 1);

    emulator->FailAllReads(true);
    EXPECT_EQ(QueryController(ch, disk, cmd::kInformation, out), kResultKnockReadFailed);
    emulator->FailAllReads(false);
    EXPECT_EQ(QueryController(ch, disk, cmd::kInformation, out), kResultSuccess);
}

TEST_F(ChannelReplyTest, DiskThatWasRemovedCannotBeOpened) {
    disks.RemoveDisk(disk);
    EXPECT_EQ(QueryController(ch, disk, cmd::kInformation, out), kResultOpenFailed);
    EXPECT_EQ(ch.lastOpenError, platform::OpenError::NoSuchDisk);
}

TEST_F(ChannelReplyTest, PlainDiskNeverAnswers) {
    const int plain = disks.AddPlainDisk();
    EXPECT_EQ(QueryController(ch, plain, cmd::kIdentify, out), kResultNoReply);
}

}  // namespace
}  // namespace raid::device

namespace raid::device {
namespace {

// A disk whose driver layer throws instead of failing.
class ThrowingDisks final : public platform::DiskSystem {
public:
    bool throwOnOpen = false;
    std::vector<platform::DiskInfo> ListDisks() override { return {{0, "bad", "/dev/bad"}}; }
    std::vector<platform::VolumeInfo> ListVolumes() override { return {}; }
    platform::OpenResult OpenDisk(int) override {
        if (throwOnOpen) throw std::runtime_error("open blew up");
        platform::OpenResult r;
        r.handle = std::make_unique<Handle>();
        return r;
    }

private:
    class Handle final : public platform::DiskHandle {
    public:
        bool ReadSectors(std::uint32_t, std::span<std::uint8_t>, std::uint8_t) override {
            throw std::runtime_error("transfer blew up");
        }
        bool InquiryDevice(std::span<std::uint8_t>) override { return false; }
        bool TryLockCommands() override { return true; }
        void UnlockCommands() override {}
    };
};

TEST(ChannelExceptions, CaughtExceptionIsToldOnceAndBecomesAFailure) {
    platform::ManualClock clock;
    ThrowingDisks disks;
    CommandChannel ch{disks, clock};
    std::vector<std::string> told;
    ch.onException = [&](const std::string& what) { told.push_back(what); };
    ReplySector out{};
    EXPECT_EQ(QueryController(ch, 0, cmd::kInformation, out), kResultKnockReadFailed);
    EXPECT_EQ(QueryController(ch, 0, cmd::kInformation, out), kResultKnockReadFailed);
    disks.throwOnOpen = true;
    EXPECT_EQ(QueryController(ch, 0, cmd::kInformation, out), kResultOpenFailed);
    EXPECT_EQ(told, (std::vector<std::string>{"transfer blew up", "open blew up"}));
}

}  // namespace
}  // namespace raid::device
