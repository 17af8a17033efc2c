#pragma once
// A Linux disk as the controller protocol needs it: READ(10) and INQUIRY go
// through SG_IO so that every read reaches the device. Disks whose driver has
// no SCSI pass-through (loop, FUSE-backed, virtio-blk) are read with one
// O_DIRECT pread per request instead, which also bypasses the page cache.
#include <scsi/sg.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "platform/disk.h"

namespace raid::platform {

// Issues one SG_IO request on `fd`. Returns 0 on success, or -1 with errno
// set, as ioctl(fd, SG_IO, &hdr) does. Tests replace it to inspect requests.
using SgIoFunction = std::function<int(int fd, sg_io_hdr_t& hdr)>;

// The default SgIoFunction: the real ioctl.
int SystemSgIo(int fd, sg_io_hdr_t& hdr);

inline constexpr unsigned kPassThroughCdbLength = 10;
// The sense area is 32 bytes; the device may fill 24 of them, as the
// request of the original pass-through interface allowed.
inline constexpr std::size_t kSenseBufferSize = 32;
inline constexpr unsigned char kSenseLengthAllowed = 24;
// Bounded so that a hung bridge cannot hold the service past its stop
// timeout and watchdog: a command past its limit fails as a lost reply does,
// and the enclosure counts as not answering. A healthy controller answers a
// one-sector read in milliseconds; the slowest waits of the protocol (flash
// erase) are polls of many such reads, each within this limit.
inline constexpr unsigned kReadTimeoutMs = 30u * 1000u;
inline constexpr unsigned kInquiryTimeoutMs = 10u * 1000u;

// True when an SG_IO failure with this errno means "this device has no SCSI
// pass-through" rather than "the command failed".
bool IsPassThroughUnsupported(int error);

// Identity for INQUIRY data made up when the device cannot be asked.
struct SysfsIdentity {
    std::string vendor;    // may be empty
    std::string model;     // required
    std::string revision;  // may be empty
    bool removable = false;
};

// Standard INQUIRY data (36 bytes) for a direct-access device with the
// given identity, texts space-padded.
void SynthesizeInquiry(const SysfsIdentity& id, std::span<std::uint8_t> out);

class LinuxDiskHandle final : public DiskHandle {
public:
    // Takes ownership of both descriptors. `directFd` is an O_DIRECT
    // descriptor of the same disk for the fallback path, or -1 when it
    // could not be opened (`directError` says why); `identity` is used for
    // INQUIRY when there is no pass-through (empty model = none known).
    LinuxDiskHandle(std::string path, int fd, int directFd, int directError, SysfsIdentity identity,
                    SgIoFunction sgIo);
    ~LinuxDiskHandle() override;
    LinuxDiskHandle(const LinuxDiskHandle&) = delete;
    LinuxDiskHandle& operator=(const LinuxDiskHandle&) = delete;

    // `count` must be 1..255 and `buffer` at least count * 512 bytes;
    // otherwise false without any I/O.
    bool ReadSectors(std::uint32_t lba, std::span<std::uint8_t> buffer,
                     std::uint8_t count) override;
    // Without pass-through: INQUIRY data made from the sysfs identity, or
    // false when sysfs names no model.
    bool InquiryDevice(std::span<std::uint8_t> buffer) override;
    // flock(2) on the device node: it reaches every process that opens the
    // same disk. A file system without flock support counts as locked.
    bool TryLockCommands() override;
    void UnlockCommands() override;

    // True once the device refused SG_IO; reads then use the O_DIRECT path
    // for the rest of this handle's life.
    bool UsingFallback() const { return fallback_; }
    // errno of the last failed transfer (0 after a success), for diagnostics.
    int LastError() const { return lastError_; }

private:
    enum class Attempt { Completed, Failed, Unsupported };
    // Records the outcome of a pass-through command (errno or 0).
    Attempt Settle(int error);
    // One data-in pass-through command; 0 when it reached the device and
    // completed (whatever the SCSI status), else an errno value.
    int PassThroughIn(std::uint8_t* cdb, std::uint8_t* data, std::size_t length,
                      unsigned timeoutMs);
    bool ReadDirect(std::uint32_t lba, std::span<std::uint8_t> buffer, std::size_t bytes);

    std::string path_;
    int fd_;
    int directFd_;
    int directError_;
    SysfsIdentity identity_;
    SgIoFunction sgIo_;
    bool fallback_ = false;
    bool locked_ = false;
    int lastError_ = 0;
    // Aligned bounce buffer of the O_DIRECT path, made on first use.
    std::uint8_t* bounce_ = nullptr;
    std::size_t bounceSize_ = 0;
};

}  // namespace raid::platform
