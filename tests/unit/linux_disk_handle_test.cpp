#include "platform/linux_disk_handle.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace raid::platform {
namespace {

// What one SG_IO call carried; the CDB is copied because cmdp points into
// the caller's stack.
struct CapturedRequest {
    sg_io_hdr_t hdr{};
    std::vector<std::uint8_t> cdb;
};

class Recorder {
public:
    std::vector<CapturedRequest> calls;
    int result = 0;
    int error = 0;
    std::uint8_t fill = 0xA5;
    unsigned char scsiStatus = 0;
    unsigned short hostStatus = 0;    // DID_* of the adapter
    unsigned short driverStatus = 0;  // DRIVER_* of the mid layer

    SgIoFunction Function() {
        return [this](int, sg_io_hdr_t& hdr) {
            calls.push_back({hdr, std::vector<std::uint8_t>(hdr.cmdp, hdr.cmdp + hdr.cmd_len)});
            if (result != 0) {
                errno = error;
                return result;
            }
            std::memset(hdr.dxferp, fill, hdr.dxfer_len);
            hdr.status = scsiStatus;
            hdr.host_status = hostStatus;
            hdr.driver_status = driverStatus;
            if (scsiStatus != 0 && hdr.sbp != nullptr && hdr.mx_sb_len > 0) {
                hdr.sbp[0] = 0x70;  // fixed-format sense
                hdr.sb_len_wr = 1;
                hdr.driver_status |= 0x08;  // DRIVER_SENSE, as the kernel reports it
            }
            return 0;
        };
    }
};

// A scratch file standing in for the disk; sector k holds byte k+1.
class DiskFile {
public:
    explicit DiskFile(std::size_t bytes) {
        std::string tmpl = testing::TempDir() + "linux_handle_XXXXXX";
        const int fd = ::mkstemp(tmpl.data());
        EXPECT_GE(fd, 0);
        ::close(fd);
        path = tmpl;
        std::vector<char> data(bytes);
        for (std::size_t i = 0; i < bytes; ++i) data[i] = static_cast<char>(i / kSectorSize + 1);
        std::ofstream(path, std::ios::binary).write(data.data(), static_cast<long>(bytes));
    }
    ~DiskFile() { std::filesystem::remove(path); }

    // A handle over the file: a plain descriptor for SG_IO and an O_DIRECT
    // one for the fallback. False when the file system has no O_DIRECT.
    bool Open(Recorder& rec, std::unique_ptr<LinuxDiskHandle>& handle, SysfsIdentity id = {}) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        const int direct = ::open(path.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
        const int directError = direct < 0 ? errno : 0;
        handle = std::make_unique<LinuxDiskHandle>(path, fd, direct, directError, std::move(id),
                                                   rec.Function());
        return direct >= 0;
    }

    std::string path;
};

TEST(LinuxDiskHandle, Read10RequestCarriesTheCdbDirectionLengthAndTimeout) {
    DiskFile file(8 * kSectorSize);
    Recorder rec;
    std::unique_ptr<LinuxDiskHandle> handle;
    file.Open(rec, handle);

    std::array<std::uint8_t, kSectorSize> buffer{};
    ASSERT_TRUE(handle->ReadSectors(0x5FFF, buffer, 1));
    ASSERT_EQ(rec.calls.size(), 1u);
    const auto& call = rec.calls[0];
    EXPECT_EQ(call.cdb, (std::vector<std::uint8_t>{0x28, 0x00, 0x00, 0x00, 0x5F, 0xFF, 0x00, 0x00,
                                                   0x01, 0x00}));
    EXPECT_EQ(call.hdr.interface_id, 'S');
    EXPECT_EQ(call.hdr.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(call.hdr.dxfer_len, 512u);
    EXPECT_EQ(call.hdr.timeout, 30000u);  // a hung bridge fails within 30 s
    EXPECT_EQ(call.hdr.cmd_len, 10);
    EXPECT_EQ(call.hdr.mx_sb_len, 24);
    EXPECT_NE(call.hdr.sbp, nullptr);
    // The driver fills the caller's buffer in place.
    EXPECT_EQ(call.hdr.dxferp, buffer.data());
    EXPECT_EQ(buffer[0], 0xA5);
    EXPECT_EQ(buffer[511], 0xA5);

    // All four address bytes, most significant first, and the count byte.
    std::vector<std::uint8_t> two(2 * kSectorSize);
    ASSERT_TRUE(handle->ReadSectors(0x12345678, two, 2));
    EXPECT_EQ(rec.calls[1].cdb, (std::vector<std::uint8_t>{0x28, 0x00, 0x12, 0x34, 0x56, 0x78, 0x00,
                                                           0x00, 0x02, 0x00}));
    EXPECT_EQ(rec.calls[1].hdr.dxfer_len, 1024u);
}

TEST(LinuxDiskHandle, InquiryRequestUsesTenCdbBytes36BytesAndTenSeconds) {
    DiskFile file(kSectorSize);
    Recorder rec;
    std::unique_ptr<LinuxDiskHandle> handle;
    file.Open(rec, handle);

    std::array<std::uint8_t, kInquirySize> buffer{};
    ASSERT_TRUE(handle->InquiryDevice(buffer));
    ASSERT_EQ(rec.calls.size(), 1u);
    const auto& call = rec.calls[0];
    EXPECT_EQ(call.cdb, (std::vector<std::uint8_t>{0x12, 0x00, 0x00, 0x00, 0x24, 0x00, 0x00, 0x00,
                                                   0x00, 0x00}));
    EXPECT_EQ(call.hdr.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(call.hdr.dxfer_len, 36u);
    EXPECT_EQ(call.hdr.timeout, 10000u);
    EXPECT_EQ(call.hdr.dxferp, buffer.data());
}

TEST(LinuxDiskHandle, CompletedIoctlIsSuccessWhateverTheScsiStatus) {
    DiskFile file(kSectorSize);
    Recorder rec;
    rec.scsiStatus = 0x02;  // CHECK CONDITION
    std::unique_ptr<LinuxDiskHandle> handle;
    file.Open(rec, handle);
    std::array<std::uint8_t, kSectorSize> buffer{};
    EXPECT_TRUE(handle->ReadSectors(17, buffer, 1));
    std::array<std::uint8_t, kInquirySize> inquiry{};
    EXPECT_TRUE(handle->InquiryDevice(inquiry));
}

TEST(LinuxDiskHandle, CommandThatNeverReachedTheDeviceIsAFailure) {
    DiskFile file(kSectorSize);
    std::array<std::uint8_t, kSectorSize> buffer{};
    std::array<std::uint8_t, kInquirySize> inquiry{};

    // The ioctl returns, but the adapter says the device was not there
    // (DID_NO_CONNECT) or the command timed out (DID_TIME_OUT): no data came.
    for (unsigned short host : {0x01, 0x03}) {
        Recorder rec;
        rec.hostStatus = host;
        std::unique_ptr<LinuxDiskHandle> handle;
        file.Open(rec, handle);
        EXPECT_FALSE(handle->ReadSectors(17, buffer, 1)) << host;
        EXPECT_NE(handle->LastError(), 0) << host;
        EXPECT_FALSE(handle->InquiryDevice(inquiry)) << host;
        EXPECT_FALSE(handle->UsingFallback()) << host;
    }
    // The mid layer gave up on the command (DRIVER_TIMEOUT).
    Recorder timedOut;
    timedOut.driverStatus = 0x06;
    std::unique_ptr<LinuxDiskHandle> handle;
    file.Open(timedOut, handle);
    EXPECT_FALSE(handle->ReadSectors(17, buffer, 1));

    // A failed ioctl is a failure even when errno says nothing.
    Recorder silent;
    silent.result = -1;
    silent.error = 0;
    file.Open(silent, handle);
    EXPECT_FALSE(handle->ReadSectors(17, buffer, 1));
    EXPECT_NE(handle->LastError(), 0);
    EXPECT_FALSE(handle->UsingFallback());
}

TEST(LinuxDiskHandle, FailedCommandIsAFailureAndKeepsUsingPassThrough) {
    DiskFile file(kSectorSize);
    Recorder rec;
    rec.result = -1;
    rec.error = EIO;
    std::unique_ptr<LinuxDiskHandle> handle;
    file.Open(rec, handle);
    std::array<std::uint8_t, kSectorSize> buffer{};
    EXPECT_FALSE(handle->ReadSectors(0, buffer, 1));
    EXPECT_EQ(handle->LastError(), EIO);
    EXPECT_FALSE(handle->UsingFallback());
    EXPECT_FALSE(handle->ReadSectors(0, buffer, 1));
    EXPECT_EQ(rec.calls.size(), 2u);
}

TEST(LinuxDiskHandle, BadArgumentsFailWithoutIo) {
    DiskFile file(kSectorSize);
    Recorder rec;
    std::unique_ptr<LinuxDiskHandle> handle;
    file.Open(rec, handle);
    std::array<std::uint8_t, kSectorSize> one{};
    EXPECT_FALSE(handle->ReadSectors(0, one, 2));  // buffer holds only one sector
    EXPECT_FALSE(handle->ReadSectors(0, one, 0));
    std::array<std::uint8_t, 35> shortInquiry{};
    EXPECT_FALSE(handle->InquiryDevice(shortInquiry));
    EXPECT_TRUE(rec.calls.empty());
}

TEST(LinuxDiskHandle, RefusedPassThroughFallsBackToDirectReadsForGood) {
    DiskFile file(4 * kSectorSize);
    Recorder rec;
    rec.result = -1;
    rec.error = ENOTTY;
    std::unique_ptr<LinuxDiskHandle> handle;
    if (!file.Open(rec, handle)) GTEST_SKIP() << "the temp folder's file system has no O_DIRECT";

    std::array<std::uint8_t, kSectorSize> buffer{};
    ASSERT_TRUE(handle->ReadSectors(2, buffer, 1));
    EXPECT_TRUE(handle->UsingFallback());
    EXPECT_EQ(buffer[0], 3);
    EXPECT_EQ(buffer[511], 3);

    std::vector<std::uint8_t> two(2 * kSectorSize);
    ASSERT_TRUE(handle->ReadSectors(0, two, 2));
    EXPECT_EQ(two[0], 1);
    EXPECT_EQ(two[512], 2);
    // SG_IO was tried once; the handle stays on the fallback afterwards.
    EXPECT_EQ(rec.calls.size(), 1u);

    // Reads past the end are short and therefore failures.
    EXPECT_FALSE(handle->ReadSectors(4, buffer, 1));
    EXPECT_FALSE(handle->ReadSectors(3, two, 2));
}

TEST(LinuxDiskHandle, PartialLastSectorIsAFailure) {
    DiskFile file(kSectorSize + kSectorSize / 2);
    Recorder rec;
    rec.result = -1;
    rec.error = EINVAL;
    std::unique_ptr<LinuxDiskHandle> handle;
    if (!file.Open(rec, handle)) GTEST_SKIP() << "the temp folder's file system has no O_DIRECT";
    std::array<std::uint8_t, kSectorSize> buffer{};
    EXPECT_TRUE(handle->ReadSectors(0, buffer, 1));
    EXPECT_FALSE(handle->ReadSectors(1, buffer, 1));
    EXPECT_EQ(handle->LastError(), EIO);
}

TEST(LinuxDiskHandle, FallbackWithoutDirectDescriptorFailsRatherThanUsingTheCache) {
    DiskFile file(kSectorSize);
    Recorder rec;
    rec.result = -1;
    rec.error = ENOTTY;
    const int fd = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
    LinuxDiskHandle handle(file.path, fd, -1, EINVAL, {}, rec.Function());
    std::array<std::uint8_t, kSectorSize> buffer{};
    EXPECT_FALSE(handle.ReadSectors(0, buffer, 1));
    EXPECT_EQ(handle.LastError(), EINVAL);
}

TEST(LinuxDiskHandle, InquiryWithoutPassThroughComesFromTheSysfsIdentity) {
    DiskFile file(kSectorSize);
    Recorder rec;
    rec.result = -1;
    rec.error = ENOTTY;
    std::unique_ptr<LinuxDiskHandle> handle;
    file.Open(rec, handle, SysfsIdentity{"ACME", "Enclosure Model X Long Name", "1.0", true});
    std::array<std::uint8_t, kInquirySize> buffer{};
    ASSERT_TRUE(handle->InquiryDevice(buffer));
    EXPECT_TRUE(handle->UsingFallback());
    EXPECT_EQ(buffer[0], 0x00);
    EXPECT_EQ(buffer[1], 0x80);
    EXPECT_EQ(buffer[4], 31);
    EXPECT_EQ(std::string(buffer.begin() + 8, buffer.begin() + 16), "ACME    ");
    // The model is cut to its 16-byte field.
    EXPECT_EQ(std::string(buffer.begin() + 16, buffer.begin() + 32), "Enclosure Model ");
    EXPECT_EQ(std::string(buffer.begin() + 32, buffer.begin() + 36), "1.0 ");

    std::unique_ptr<LinuxDiskHandle> nameless;
    file.Open(rec, nameless, SysfsIdentity{"ACME", "", "", false});
    EXPECT_FALSE(nameless->InquiryDevice(buffer));
}

}  // namespace
}  // namespace raid::platform
