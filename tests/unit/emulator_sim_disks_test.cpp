// The emulated machine's disks: numbering, opening, transfers and removal.
#include <gtest/gtest.h>

#include <thread>

#include "device/channel.h"
#include "sim/enclosure_data.h"
#include "sim/sim_disks.h"

namespace raid::sim {
namespace {

std::shared_ptr<ControllerEmulator> NewEnclosure(const char* scenario = "raid1") {
    return std::make_shared<ControllerEmulator>(*ScenarioEnclosure(scenario));
}

platform::VolumeInfo Volume(const char* name, int disk) {
    platform::VolumeInfo v;
    v.name = name;
    v.diskNumber = disk;
    return v;
}

TEST(SimDiskSystemTest, RemovingADiskRenumbersTheRest) {
    SimDiskSystem disks;
    const auto first = NewEnclosure();
    const auto second = NewEnclosure("raid0");
    EXPECT_EQ(disks.AddEnclosure(first), 0);
    EXPECT_EQ(disks.AddPlainDisk(), 1);
    EXPECT_EQ(disks.AddEnclosure(second), 2);
    disks.AddVolume(Volume("sim1p1", 1));
    disks.AddVolume(Volume("sim2p1", 2));
    EXPECT_EQ(disks.Emulator(1), nullptr);

    disks.RemoveDisk(1);
    EXPECT_EQ(disks.ListDisks().size(), 2u);
    EXPECT_EQ(disks.Emulator(1), second);
    const auto volumes = disks.ListVolumes();
    ASSERT_EQ(volumes.size(), 1u);
    EXPECT_EQ(volumes[0].name, "sim2p1");
    EXPECT_EQ(volumes[0].diskNumber, 1);

    const auto gone = disks.OpenDisk(2);
    EXPECT_FALSE(gone);
    EXPECT_EQ(gone.error, platform::OpenError::NoSuchDisk);
    EXPECT_FALSE(gone.message.empty());
    EXPECT_EQ(disks.Emulator(2), nullptr);
}

TEST(SimDiskSystemTest, OpenHandleFailsOnceItsDiskIsRemoved) {
    SimDiskSystem disks;
    disks.AddEnclosure(NewEnclosure());
    auto opened = disks.OpenDisk(0);
    ASSERT_TRUE(opened);
    std::vector<std::uint8_t> buffer(512);
    EXPECT_TRUE(opened.handle->ReadSectors(5, buffer, 1));
    disks.RemoveDisk(0);
    EXPECT_FALSE(opened.handle->ReadSectors(5, buffer, 1));
    std::array<std::uint8_t, 36> inquiry{};
    EXPECT_FALSE(opened.handle->InquiryDevice(inquiry));
}

TEST(SimDiskSystemTest, OpenErrorsAndCount) {
    SimDiskSystem disks;
    disks.AddEnclosure(NewEnclosure());
    disks.SetOpenError(0, platform::OpenError::PermissionDenied);
    const auto refused = disks.OpenDisk(0);
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.error, platform::OpenError::PermissionDenied);
    EXPECT_NE(refused.message.find("disk group"), std::string::npos);
    EXPECT_EQ(disks.OpenCount(), 0);
    disks.SetOpenError(0, platform::OpenError::None);
    EXPECT_TRUE(disks.OpenDisk(0));
    EXPECT_TRUE(disks.OpenDisk(0));
    EXPECT_EQ(disks.OpenCount(), 2);
    EXPECT_FALSE(disks.OpenDisk(-1));
}

TEST(SimDiskSystemTest, ReadSectorsChecksCountAndBuffer) {
    SimDiskSystem disks;
    const auto emulator = NewEnclosure();
    disks.AddEnclosure(emulator);
    auto handle = disks.OpenDisk(0).handle;
    std::vector<std::uint8_t> buffer(3 * 512);
    EXPECT_FALSE(handle->ReadSectors(10, buffer, 0));
    EXPECT_FALSE(handle->ReadSectors(10, buffer, 4));
    ASSERT_TRUE(handle->ReadSectors(10, buffer, 3));
    EXPECT_EQ(emulator->Trace(), (std::vector<std::uint32_t>{10, 11, 12}));
    std::vector<std::uint8_t> expected(512);
    OrdinarySector(12, expected);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin() + 1024));
}

TEST(SimDiskSystemTest, PlainDiskLooksLikeADisk) {
    SimDiskSystem disks;
    disks.AddPlainDisk();
    auto handle = disks.OpenDisk(0).handle;
    std::vector<std::uint8_t> buffer(512);
    ASSERT_TRUE(handle->ReadSectors(0, buffer, 1));
    EXPECT_EQ(buffer[511], 0xAA);
    std::array<std::uint8_t, 36> inquiry{};
    ASSERT_TRUE(handle->InquiryDevice(inquiry));
    EXPECT_EQ(inquiry[0], 0);
}

TEST(SimDiskSystemTest, CommandsAndControlFromTwoThreads) {
    platform::ManualClock clock;
    SimDiskSystem disks;
    const auto emulator = std::make_shared<ControllerEmulator>(*ScenarioEnclosure("raid1"), &clock);
    disks.AddEnclosure(emulator);
    std::thread control([&] {
        for (int i = 0; i < 200; ++i) {
            emulator->Control(i % 2 ? "pull 2" : "present 2");
            emulator->Control("temp " + std::to_string(30 + i % 20));
        }
    });
    device::CommandChannel ch(disks, clock);
    device::ReplySector out{};
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(device::QueryController(ch, 0, device::cmd::kArrayStatus, out),
                  device::kResultSuccess);
    control.join();
}

}  // namespace
}  // namespace raid::sim
