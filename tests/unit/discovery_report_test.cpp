// Drive lists, the volume table, and the device report of `raidctl list`.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "discovery/device_report.h"
#include "discovery/drive_enum.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"

namespace raid::discovery {
namespace {

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

// --- Drive list and volume table ---

struct DriveRig {
    platform::ManualClock clock;
    sim::SimDiskSystem disks;
    device::CommandChannel ch{disks, clock};
    DiscoveryState d;
    std::vector<std::string> messages;
    Notices notices{
        [this](const std::string& t, const std::string& c) { messages.push_back(c + "|" + t); },
        {}};
};

TEST(DriveList, KeepsPartitionsOfNumberedDisksUpTo24) {
    DriveRig rig;
    rig.disks.AddPlainDisk();
    rig.disks.AddVolume(Volume("nfs", -1));  // not on a numbered disk
    for (int i = 0; i < 30; ++i) rig.disks.AddVolume(Volume("sim0p" + std::to_string(i), 0));
    int pumps = 0;
    EXPECT_EQ(ListLogicalDrives(rig.d, rig.disks, [&] { ++pumps; }), 24);
    EXPECT_EQ(rig.d.driveLetterList.front().name, "sim0p0");
    EXPECT_EQ(rig.d.driveLetterList.back().name, "sim0p23");
    EXPECT_GE(pumps, 24);
}

TEST(DriveList, CountsOnlyDisksThatOpen) {
    DriveRig rig;
    rig.disks.AddPlainDisk();
    rig.disks.AddPlainDisk();
    rig.disks.AddPlainDisk();
    rig.disks.SetOpenError(1, platform::OpenError::PermissionDenied);
    EXPECT_EQ(CountPhysicalDisks(rig.ch), 2);
}

TEST(VolumeTableTest, TwentyFirstVolumeGivesTheMessageOnce) {
    DriveRig rig;
    rig.disks.AddPlainDisk();
    for (int i = 0; i < 21; ++i) rig.disks.AddVolume(Volume("sim0p" + std::to_string(i), 0));
    rig.d.logicalDriveCount = ListLogicalDrives(rig.d, rig.disks);
    BuildVolumeTable(rig.d, rig.notices);
    EXPECT_EQ(rig.d.volumeTable.size(), 20u);
    EXPECT_EQ(rig.messages, (std::vector<std::string>{"|Drive Count Must less than 20."}));
}

TEST(VolumeTableTest, TwentyVolumesFitAndCarryTheirExtents) {
    DriveRig rig;
    rig.disks.AddPlainDisk();
    rig.disks.AddPlainDisk();
    for (int i = 0; i < 19; ++i) rig.disks.AddVolume(Volume("sim0p" + std::to_string(i), 0));
    auto odd = Volume("sim1p1", 1, "/mnt/data");
    odd.driveType = platform::kDriveOpenFailed;
    rig.disks.AddVolume(odd);
    rig.d.logicalDriveCount = ListLogicalDrives(rig.d, rig.disks);
    BuildVolumeTable(rig.d, rig.notices);
    ASSERT_EQ(rig.d.volumeTable.size(), 20u);
    EXPECT_TRUE(rig.messages.empty());
    const auto& first = rig.d.volumeTable[0];
    EXPECT_EQ(first.driveType, platform::kDriveFixed);
    EXPECT_EQ(first.startBytes, 1u << 20);
    EXPECT_EQ(first.lengthBytes, 1u << 30);
    const auto& last = rig.d.volumeTable[19];
    EXPECT_EQ(last.driveType, platform::kDriveOpenFailed);
    EXPECT_EQ(last.lengthBytes, 0u);  // no extent for a volume that could not be looked into
    EXPECT_EQ(last.label, "/mnt/data");
}

// --- Texts from the identification record ---

Record512 IdentifyWith(std::size_t offset, const std::vector<std::uint8_t>& bytes) {
    Record512 r{};
    std::copy(bytes.begin(), bytes.end(), r.begin() + static_cast<long>(offset));
    return r;
}

TEST(DeviceTexts, FirmwareAsTextWhenPrintableElseAsHexCode) {
    // "V1.02.03" in ATA order.
    const std::string ata = "1V0..230";
    EXPECT_EQ(FirmwareText(IdentifyWith(46, {ata.begin(), ata.end()})), "V1.02.03");
    EXPECT_EQ(FirmwareText(IdentifyWith(46, {0x10, 0x01, 0x26, 0xA7, 0x27, 0x70, 0x00, 0x00})),
              "100126.7");
    EXPECT_EQ(FirmwareText(IdentifyWith(46, {0xAB, 0x0C, 0x1F, 0x1F, 0x20, 0x20, 0x20, 0x20})),
              "AB0C1F.F");
}

TEST(DeviceTexts, ModelIsReadInPairsAndTrimmed) {
    // Reading order "  SIM RAID1", blanks and NULs after it, stored pair-swapped.
    const std::string reading = "  SIM RAID1";
    std::vector<std::uint8_t> model(40, ' ');
    for (std::size_t k = 0; k < reading.size(); ++k) model[k ^ 1] = reading[k];
    model[38] = 0;
    model[39] = 0;
    EXPECT_EQ(ModelText(IdentifyWith(54, model)), "SIM RAID1");
    model[3 ^ 1] = 0x07;  // a control byte is shown as '.', not passed on
    EXPECT_EQ(ModelText(IdentifyWith(54, model)), "S.M RAID1");
    EXPECT_EQ(ModelText(Record512{}), "");
}

}  // namespace
}  // namespace raid::discovery
