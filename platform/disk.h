#pragma once
// Disk access as the controller protocol needs it: whole physical disks,
// numbered, each read one synchronous transfer that reaches the device.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace raid::platform {

inline constexpr std::size_t kSectorSize = 512;
inline constexpr std::size_t kInquirySize = 36;

// One open disk. Not thread-safe; one command at a time uses it.
class DiskHandle {
public:
    virtual ~DiskHandle() = default;
    // READ(10) of `count` sectors at `lba` into `buffer` (at least count * 512
    // bytes). True when the transfer completed; sense data is not examined.
    virtual bool ReadSectors(std::uint32_t lba, std::span<std::uint8_t> buffer,
                             std::uint8_t count) = 0;
    // INQUIRY with allocation length 36 into `buffer` (36 bytes).
    virtual bool InquiryDevice(std::span<std::uint8_t> buffer) = 0;

    // The disk's command lock, shared by every thread and process that talks
    // to its controller: a command holds it from its first knock read to its
    // last reply read, so that two knock sequences never interleave. Takes
    // it without waiting; false when another handle holds it. A handle
    // releases what it holds when it is destroyed.
    virtual bool TryLockCommands() = 0;
    virtual void UnlockCommands() = 0;
};

enum class OpenError {
    None,
    NoSuchDisk,        // no disk with that number, or it vanished
    PermissionDenied,  // raw access needs root or the disk group
    NotBlockDevice,
    Busy,  // another command kept the disk's command lock too long
    Other,
};

struct OpenResult {
    std::unique_ptr<DiskHandle> handle;  // null on failure
    OpenError error = OpenError::None;
    std::string message;  // a sentence for the user on failure
    explicit operator bool() const { return handle != nullptr; }
};

// A physical disk as the platform numbers it.
struct DiskInfo {
    int number = 0;          // physical disk number (0-based)
    std::string name;        // e.g. "sdb"
    std::string devicePath;  // e.g. "/dev/sdb"
    // The bridge's serial and port as the kernel knows them (disk_origin.h);
    // empty when unknown. They name an enclosure across replugging. (The
    // initialisers let a list that names only the fields above leave them.)
    std::string serial{};
    std::string port{};
};

// Drive type codes as GetDriveTypeA gives them; the volume table stores them.
enum DriveType : std::uint8_t {
    kDriveUnknown = 0,
    kDriveRemovable = 2,
    kDriveFixed = 3,
    kDriveOpenFailed = 0xFF,
};

// What stands in for a drive letter: a partition of a numbered disk.
struct VolumeInfo {
    std::string name;        // partition name, e.g. "sdb1"
    std::string devicePath;  // e.g. "/dev/sdb1"
    std::string mountPoint;  // empty when not mounted
    int diskNumber = -1;     // physical disk the partition lies on; -1 unknown
    std::uint8_t driveType = kDriveUnknown;
    std::uint64_t startBytes = 0;
    std::uint64_t lengthBytes = 0;
    // The name a person recognises: the mount point when mounted, else the
    // partition name.
    std::string Label() const { return mountPoint.empty() ? name : mountPoint; }
};

// The machine's disks. Implementations: the Linux one (sysfs + SG_IO) and the
// emulator's. Calls may come from the detection thread and the main thread,
// never at the same time (the program's busy flags keep them apart).
class DiskSystem {
public:
    virtual ~DiskSystem() = default;
    // Physical disks in number order.
    virtual std::vector<DiskInfo> ListDisks() = 0;
    // Opens physical disk `number`, read-only: the protocol only reads, and a
    // disk closed after a read-write open makes udev announce a change.
    virtual OpenResult OpenDisk(int number) = 0;
    // Partitions of the physical disks, in a stable order.
    virtual std::vector<VolumeInfo> ListVolumes() = 0;
};

}  // namespace raid::platform
