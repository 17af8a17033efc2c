#include "platform/linux_disks.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/linux_sysfs.h"

namespace raid::platform {
namespace {

namespace fs = std::filesystem;

// A made-up sysfs tree, /dev folder and mounts table in a temp folder.
class FakeMachine {
public:
    FakeMachine() {
        std::string tmpl = testing::TempDir() + "linux_disks_XXXXXX";
        EXPECT_NE(::mkdtemp(tmpl.data()), nullptr);
        root = tmpl;
        fs::create_directories(root + "/sys/block");
        fs::create_directories(root + "/dev");
    }
    ~FakeMachine() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    void Write(const std::string& relative, const std::string& text) {
        const fs::path p = root + "/" + relative;
        fs::create_directories(p.parent_path());
        std::ofstream(p) << text;
    }
    void Block(const std::string& name) { fs::create_directories(root + "/sys/block/" + name); }
    void Partition(const std::string& disk, const std::string& part, int index, std::uint64_t start,
                   std::uint64_t size) {
        const std::string dir = "sys/block/" + disk + "/" + part;
        Write(dir + "/partition", std::to_string(index) + "\n");
        Write(dir + "/start", std::to_string(start) + "\n");
        Write(dir + "/size", std::to_string(size) + "\n");
    }
    // A regular file in the fake /dev standing in for a device node.
    void Node(const std::string& name, std::size_t bytes = 4 * kSectorSize) {
        std::ofstream(root + "/dev/" + name, std::ios::binary)
            << std::string(bytes, static_cast<char>(0x5A));
    }
    std::string Dev(const std::string& name) const { return root + "/dev/" + name; }

    LinuxDiskOptions Options() const {
        LinuxDiskOptions o;
        o.sysRoot = root + "/sys";
        o.devRoot = root + "/dev";
        o.mountsPath = root + "/mounts";
        return o;
    }

    std::string root;
};

std::vector<std::string> Names(const std::vector<DiskInfo>& disks) {
    std::vector<std::string> names;
    for (const auto& d : disks) names.push_back(d.name);
    return names;
}

TEST(LinuxDiskNumbering, WholeDisksInNameOrderWithoutRamZramPartitionsOrIdleLoops) {
    FakeMachine m;
    m.Block("sdb");
    m.Block("sda");
    m.Partition("sda", "sda1", 1, 2048, 1000);
    m.Write("sys/block/sdc1/partition", "1\n");  // a partition listed at the top
    m.Block("ram0");
    m.Block("zram0");
    m.Block("loop0");                                      // nothing bound
    m.Write("sys/block/loop1/loop/backing_file", "/x\n");  // bound
    m.Block("nvme0n1");

    LinuxDiskSystem system(m.Options());
    const auto disks = system.ListDisks();
    EXPECT_EQ(Names(disks), (std::vector<std::string>{"loop1", "nvme0n1", "sda", "sdb"}));
    for (std::size_t i = 0; i < disks.size(); ++i) {
        EXPECT_EQ(disks[i].number, static_cast<int>(i));
        EXPECT_EQ(disks[i].devicePath, m.Dev(disks[i].name));
    }

    // Numbering follows the machine: unbinding loop1 moves the others down.
    fs::remove_all(m.root + "/sys/block/loop1/loop");
    EXPECT_EQ(Names(system.ListDisks()), (std::vector<std::string>{"nvme0n1", "sda", "sdb"}));
}

TEST(LinuxDiskNumbering, BridgeSerialAndPortFromSysfsOnly) {
    FakeMachine m;
    const std::string usb = "sys/devices/pci0000:00/0000:00:14.0/usb2";
    const std::string scsi = "/2-1:1.0/host6/target6:0:0/6:0:0:0";
    m.Write(usb + "/idVendor", "1d6b\n");  // the root hub: never reached
    m.Write(usb + "/serial", "0000:00:14.0\n");
    m.Write(usb + "/2-1/idVendor", "152d\n");
    m.Write(usb + "/2-1/serial", "NA0001  \n");
    m.Write(usb + "/2-1" + scsi + "/vpd_pg80", std::string("\0\x80\0\x04VPD1", 8));
    // A bridge without a serial of its own, whose unit serial the kernel
    // read (UAS).
    m.Write(usb + "/2-2/idVendor", "152d\n");
    m.Write(usb + "/2-2/2-2:1.0/host7/target7:0:0/7:0:0:0/vpd_pg80",
            std::string("\0\x80\0\x08  UAS123", 12));
    // eSATA.
    m.Write("sys/devices/pci0000:00/0000:00:1f.2/ata3/host2/target2:0:0/2:0:0:0/model", "X\n");
    const auto link = [&](const std::string& disk, const std::string& device) {
        m.Block(disk);
        fs::create_directory_symlink("../../" + device.substr(4),
                                     m.root + "/sys/block/" + disk + "/device");
    };
    link("sdb", usb + "/2-1" + scsi);
    link("sdc", usb + "/2-2/2-2:1.0/host7/target7:0:0/7:0:0:0");
    link("sdd", "sys/devices/pci0000:00/0000:00:1f.2/ata3/host2/target2:0:0/2:0:0:0");
    m.Write("sys/block/loop0/loop/backing_file", "/x\n");

    const auto disks = LinuxDiskSystem(m.Options()).ListDisks();
    ASSERT_EQ(Names(disks), (std::vector<std::string>{"loop0", "sdb", "sdc", "sdd"}));
    std::vector<std::pair<std::string, std::string>> origins;
    for (const auto& d : disks) origins.emplace_back(d.serial, d.port);
    EXPECT_EQ(origins, (std::vector<std::pair<std::string, std::string>>{
                           {"", ""}, {"NA0001", "usb-2-1"}, {"UAS123", "usb-2-2"}, {"", "ata3"}}));
}

TEST(LinuxDiskNumbering, MissingSysfsGivesNoDisks) {
    LinuxDiskOptions o;
    o.sysRoot = "/nonexistent-sysfs-root";
    LinuxDiskSystem system(o);
    EXPECT_TRUE(system.ListDisks().empty());
    EXPECT_TRUE(system.ListVolumes().empty());
    EXPECT_EQ(system.OpenDisk(0).error, OpenError::NoSuchDisk);
}

TEST(LinuxDiskOpen, ErrorsNameTheDiskAndTheReason) {
    FakeMachine m;
    m.Block("sda");  // no node in /dev: gone
    m.Block("sdb");
    m.Node("sdb");  // a regular file, not a block device
    m.Block("sdc");
    fs::create_directories(m.Dev("sdc"));
    LinuxDiskSystem system(m.Options());

    auto r = system.OpenDisk(7);
    EXPECT_FALSE(r);
    EXPECT_EQ(r.error, OpenError::NoSuchDisk);
    EXPECT_EQ(r.message, "no disk number 7");
    EXPECT_EQ(system.OpenDisk(-1).error, OpenError::NoSuchDisk);

    r = system.OpenDisk(0);
    EXPECT_EQ(r.error, OpenError::NoSuchDisk);
    EXPECT_EQ(r.message, "disk 0 (" + m.Dev("sda") + ") has gone");

    r = system.OpenDisk(1);
    EXPECT_FALSE(r);
    EXPECT_EQ(r.error, OpenError::NotBlockDevice);
    EXPECT_EQ(r.message, "disk 1 (" + m.Dev("sdb") + ") is not a block device");

    r = system.OpenDisk(2);
    EXPECT_EQ(r.error, OpenError::NotBlockDevice);
}

TEST(LinuxDiskOpen, RefusedNodeSaysRawAccessNeedsRootOrTheDiskGroup) {
    if (::geteuid() == 0) GTEST_SKIP() << "root may open any file";
    FakeMachine m;
    m.Block("sda");
    m.Node("sda");
    fs::permissions(m.Dev("sda"), fs::perms::none);
    LinuxDiskSystem system(m.Options());
    const auto r = system.OpenDisk(0);
    EXPECT_EQ(r.error, OpenError::PermissionDenied);
    EXPECT_NE(r.message.find("raw disk access needs root or membership of the 'disk' group"),
              std::string::npos);
}

TEST(LinuxDiskOpen, DiskWithoutPassThroughIsReadDirectlyAndIdentifiedFromSysfs) {
    FakeMachine m;
    m.Block("loop0");
    m.Write("sys/block/loop0/loop/backing_file", "/tmp/x\n");
    m.Write("sys/block/loop0/device/vendor", "SIMVNDR \n");
    m.Write("sys/block/loop0/device/model", "RAID ENCLOSURE  \n");
    m.Node("loop0");
    auto options = m.Options();
    options.acceptRegularFiles = true;
    int sgCalls = 0;
    options.sgIo = [&](int, sg_io_hdr_t&) {
        ++sgCalls;
        errno = ENOTTY;
        return -1;
    };
    LinuxDiskSystem system(options);
    auto r = system.OpenDisk(0);
    ASSERT_TRUE(r) << r.message;

    std::array<std::uint8_t, kInquirySize> inquiry{};
    ASSERT_TRUE(r.handle->InquiryDevice(inquiry));
    EXPECT_EQ(std::string(inquiry.begin() + 8, inquiry.begin() + 32), "SIMVNDR RAID ENCLOSURE  ");

    const int probe = ::open(m.Dev("loop0").c_str(), O_RDONLY | O_DIRECT);
    if (probe < 0) GTEST_SKIP() << "the temp folder's file system has no O_DIRECT";
    ::close(probe);
    std::array<std::uint8_t, kSectorSize> sector{};
    ASSERT_TRUE(r.handle->ReadSectors(3, sector, 1));
    EXPECT_EQ(sector[0], 0x5A);
    EXPECT_FALSE(r.handle->ReadSectors(4, sector, 1));  // beyond the end
    EXPECT_EQ(sgCalls, 1);
}

TEST(LinuxVolumes, PartitionsWithPlaceTypeAndEscapedMountPoints) {
    FakeMachine m;
    m.Block("sda");
    m.Write("sys/block/sda/removable", "0\n");
    m.Partition("sda", "sda1", 1, 2048, 409600);
    m.Block("sdb");
    m.Write("sys/block/sdb/removable", "1\n");
    m.Partition("sdb", "sdb10", 10, 900000, 100);
    m.Partition("sdb", "sdb2", 2, 4096, 8192);
    m.Write("sys/block/sdb/sdb3/partition", "3\n");  // start and size vanished
    m.Block("ram0");
    m.Partition("ram0", "ram0p1", 1, 0, 10);  // not on a numbered disk
    m.Write("mounts",
            "proc /proc proc rw 0 0\n"
            "garbage\n"
            "\n" +
                m.Dev("sdb2") + " /media/my\\040disk\\134x vfat rw 0 0\n" + m.Dev("sdb2") +
                " /second vfat rw 0 0\n" + m.Dev("sda1") + " / ext4 rw 0 0");

    LinuxDiskSystem system(m.Options());
    const auto volumes = system.ListVolumes();
    ASSERT_EQ(volumes.size(), 3u);

    EXPECT_EQ(volumes[0].name, "sda1");
    EXPECT_EQ(volumes[0].devicePath, m.Dev("sda1"));
    EXPECT_EQ(volumes[0].diskNumber, 0);
    EXPECT_EQ(volumes[0].driveType, kDriveFixed);
    EXPECT_EQ(volumes[0].startBytes, 2048u * 512u);
    EXPECT_EQ(volumes[0].lengthBytes, 409600u * 512u);
    EXPECT_EQ(volumes[0].mountPoint, "/");

    // Partition number order, not name order; the first mount wins.
    EXPECT_EQ(volumes[1].name, "sdb2");
    EXPECT_EQ(volumes[1].diskNumber, 1);
    EXPECT_EQ(volumes[1].driveType, kDriveRemovable);
    EXPECT_EQ(volumes[1].mountPoint, "/media/my disk\\x");
    EXPECT_EQ(volumes[1].Label(), "/media/my disk\\x");

    EXPECT_EQ(volumes[2].name, "sdb10");
    EXPECT_EQ(volumes[2].mountPoint, "");
    EXPECT_EQ(volumes[2].Label(), "sdb10");
}

TEST(LinuxMounts, FieldEscapesAndMalformedLines) {
    EXPECT_EQ(DecodeMountField("a\\040b\\011c\\012d\\134e"), "a b\tc\nd\\e");
    EXPECT_EQ(DecodeMountField("end\\04"), "end\\04");  // incomplete escape stays
    EXPECT_EQ(DecodeMountField("x\\"), "x\\");
    EXPECT_EQ(DecodeMountField("\\777"), "\\777");  // beyond one byte stays

    const auto entries = ParseMounts("onlyone\n  /dev/a\t/mnt/a x\n/dev/b /b");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].device, "/dev/a");
    EXPECT_EQ(entries[0].mountPoint, "/mnt/a");
    EXPECT_EQ(entries[1].mountPoint, "/b");

    EXPECT_EQ(ParseUnsigned("2048"), 2048u);
    EXPECT_FALSE(ParseUnsigned(""));
    EXPECT_FALSE(ParseUnsigned("12a"));
    EXPECT_FALSE(ParseUnsigned("-1"));
    EXPECT_FALSE(ParseUnsigned("99999999999999999999999"));
}

TEST(LinuxDiskNumbering, DevicePathsAndTheirLinksMapToNumbers) {
    FakeMachine m;
    m.Block("sda");
    m.Block("sdb");
    m.Node("sda");
    m.Node("sdb");
    fs::create_symlink(m.Dev("sdb"), m.root + "/by-id-link");
    LinuxDiskSystem system(m.Options());
    EXPECT_EQ(system.DiskNumberOfPath(m.Dev("sda")), 0);
    EXPECT_EQ(system.DiskNumberOfPath(m.root + "/by-id-link"), 1);
    EXPECT_EQ(system.DiskNumberOfPath(m.Dev("sdz")), -1);
}

}  // namespace
}  // namespace raid::platform
