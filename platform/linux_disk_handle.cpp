#include "platform/linux_disk_handle.h"

#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace raid::platform {
namespace {

constexpr std::uint8_t kOpRead10 = 0x28;
constexpr std::uint8_t kOpInquiry = 0x12;
constexpr std::size_t kDirectAlignment = 4096;
// Mid-layer driver status of a command it gave up on.
constexpr unsigned kDriverTimeout = 0x06;

void CopyPadded(const std::string& text, std::span<std::uint8_t> field) {
    std::fill(field.begin(), field.end(), static_cast<std::uint8_t>(' '));
    const std::size_t n = std::min(text.size(), field.size());
    std::memcpy(field.data(), text.data(), n);
}

}  // namespace

int SystemSgIo(int fd, sg_io_hdr_t& hdr) { return ::ioctl(fd, SG_IO, &hdr); }

bool IsPassThroughUnsupported(int error) {
    // ENOTTY: the block driver has no SG_IO (loop, virtio-blk, most FUSE
    // set-ups); EINVAL/EOPNOTSUPP/ENOSYS: drivers that reject the ioctl as
    // such rather than the command.
    return error == ENOTTY || error == EINVAL || error == EOPNOTSUPP || error == ENOSYS;
}

void SynthesizeInquiry(const SysfsIdentity& id, std::span<std::uint8_t> out) {
    if (out.size() < kInquirySize) return;
    std::fill(out.begin(), out.begin() + kInquirySize, 0);
    out[0] = 0x00;                        // direct-access block device
    out[1] = id.removable ? 0x80 : 0x00;  // RMB
    out[2] = 0x05;                        // SPC-3
    out[3] = 0x02;                        // response data format 2
    out[4] = static_cast<std::uint8_t>(kInquirySize - 5);
    CopyPadded(id.vendor, out.subspan(8, 8));
    CopyPadded(id.model, out.subspan(16, 16));
    CopyPadded(id.revision, out.subspan(32, 4));
}

LinuxDiskHandle::LinuxDiskHandle(std::string path, int fd, int directFd, int directError,
                                 SysfsIdentity identity, SgIoFunction sgIo)
    : path_(std::move(path)),
      fd_(fd),
      directFd_(directFd),
      directError_(directError),
      identity_(std::move(identity)),
      sgIo_(sgIo ? std::move(sgIo) : SgIoFunction(SystemSgIo)) {}

LinuxDiskHandle::~LinuxDiskHandle() {
    UnlockCommands();
    if (fd_ >= 0) ::close(fd_);
    if (directFd_ >= 0) ::close(directFd_);
    std::free(bounce_);
}

bool LinuxDiskHandle::ReadSectors(std::uint32_t lba, std::span<std::uint8_t> buffer,
                                  std::uint8_t count) {
    const std::size_t bytes = static_cast<std::size_t>(count) * kSectorSize;
    if (count == 0 || buffer.size() < bytes) {
        lastError_ = EINVAL;
        return false;
    }
    if (fallback_) return ReadDirect(lba, buffer, bytes);

    std::uint8_t cdb[kPassThroughCdbLength] = {kOpRead10,
                                               0x00,
                                               static_cast<std::uint8_t>(lba >> 24),
                                               static_cast<std::uint8_t>(lba >> 16),
                                               static_cast<std::uint8_t>(lba >> 8),
                                               static_cast<std::uint8_t>(lba),
                                               0x00,
                                               0x00,
                                               count,
                                               0x00};
    const Attempt attempt = Settle(PassThroughIn(cdb, buffer.data(), bytes, kReadTimeoutMs));
    if (attempt != Attempt::Unsupported) return attempt == Attempt::Completed;
    return ReadDirect(lba, buffer, bytes);
}

LinuxDiskHandle::Attempt LinuxDiskHandle::Settle(int error) {
    if (error == 0) {
        lastError_ = 0;
        return Attempt::Completed;
    }
    if (!IsPassThroughUnsupported(error)) {
        lastError_ = error;
        return Attempt::Failed;
    }
    // The device takes no pass-through: plain reads from now on.
    fallback_ = true;
    return Attempt::Unsupported;
}

int LinuxDiskHandle::PassThroughIn(std::uint8_t* cdb, std::uint8_t* data, std::size_t length,
                                   unsigned timeoutMs) {
    std::uint8_t sense[kSenseBufferSize] = {};
    sg_io_hdr_t hdr{};
    hdr.interface_id = 'S';
    hdr.dxfer_direction = SG_DXFER_FROM_DEV;
    hdr.cmd_len = kPassThroughCdbLength;
    hdr.mx_sb_len = kSenseLengthAllowed;
    hdr.dxfer_len = static_cast<unsigned>(length);
    hdr.dxferp = data;
    hdr.cmdp = cdb;
    hdr.sbp = sense;
    hdr.timeout = timeoutMs;
    // Success is the command completing: SCSI status and sense are not
    // examined, so a CHECK CONDITION still counts as an answer. SG_IO also
    // returns 0 when the adapter never delivered the command (device gone,
    // timed out); the buffer then holds the previous read's bytes, which a
    // reply poll would take for an answer, so that is a failure.
    errno = 0;
    if (sgIo_(fd_, hdr) != 0) return errno != 0 ? errno : EIO;
    if (hdr.host_status != 0) return EIO;
    const unsigned driverError = hdr.driver_status & 0x07u;  // DRIVER_SENSE (0x08) is no error
    if (driverError != 0) return driverError == kDriverTimeout ? ETIMEDOUT : EIO;
    return 0;
}

bool LinuxDiskHandle::ReadDirect(std::uint32_t lba, std::span<std::uint8_t> buffer,
                                 std::size_t bytes) {
    // Without O_DIRECT a read could be served from the page cache and never
    // reach the controller, which would break a knock sequence: no
    // buffered stand-in.
    if (directFd_ < 0) {
        lastError_ = directError_ != 0 ? directError_ : EINVAL;
        return false;
    }
    const std::size_t need = (bytes + kDirectAlignment - 1) / kDirectAlignment * kDirectAlignment;
    if (bounceSize_ < need) {
        void* p = nullptr;
        if (::posix_memalign(&p, kDirectAlignment, need) != 0) {
            lastError_ = ENOMEM;
            return false;
        }
        std::free(bounce_);
        bounce_ = static_cast<std::uint8_t*>(p);
        bounceSize_ = need;
    }
    const off_t offset = static_cast<off_t>(lba) * static_cast<off_t>(kSectorSize);
    ssize_t got;
    do {
        got = ::pread(directFd_, bounce_, bytes, offset);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        lastError_ = errno;
        return false;
    }
    if (static_cast<std::size_t>(got) != bytes) {
        lastError_ = EIO;  // short read: the sector is not all there
        return false;
    }
    std::memcpy(buffer.data(), bounce_, bytes);
    lastError_ = 0;
    return true;
}

bool LinuxDiskHandle::TryLockCommands() {
    if (locked_) return true;
    int r;
    do {
        r = ::flock(fd_, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    if (r != 0 && errno == EWOULDBLOCK) return false;
    // Other errors (ENOLCK, EBADF of a closed descriptor) mean no lock can be
    // had here; the transfers themselves will tell whether the disk works.
    locked_ = r == 0;
    return true;
}

void LinuxDiskHandle::UnlockCommands() {
    if (!locked_) return;
    ::flock(fd_, LOCK_UN);
    locked_ = false;
}

bool LinuxDiskHandle::InquiryDevice(std::span<std::uint8_t> buffer) {
    if (buffer.size() < kInquirySize) {
        lastError_ = EINVAL;
        return false;
    }
    if (!fallback_) {
        // Ten CDB bytes although INQUIRY is a six-byte command: the
        // controllers were always asked this way.
        std::uint8_t cdb[kPassThroughCdbLength] = {kOpInquiry, 0x00, 0x00, 0x00, 0x24,
                                                   0x00,       0x00, 0x00, 0x00, 0x00};
        const Attempt attempt =
            Settle(PassThroughIn(cdb, buffer.data(), kInquirySize, kInquiryTimeoutMs));
        if (attempt != Attempt::Unsupported) return attempt == Attempt::Completed;
    }
    if (identity_.model.empty()) {
        lastError_ = ENOTTY;
        return false;
    }
    SynthesizeInquiry(identity_, buffer);
    lastError_ = 0;
    return true;
}

}  // namespace raid::platform
