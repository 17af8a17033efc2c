#pragma once
// The machine's disks on Linux. Physical disk N is the N-th whole-disk block
// device of /sys/block in name order (byte order of the names); partitions,
// ram*, zram* and loop devices without a backing file are not disks.
// Opening never writes; reads go through SG_IO, or O_DIRECT where the driver
// has no SCSI pass-through (see linux_disk_handle.h).
#include <string>
#include <vector>

#include "platform/disk.h"
#include "platform/linux_disk_handle.h"

namespace raid::platform {

struct LinuxDiskOptions {
    std::string sysRoot = "/sys";
    std::string devRoot = "/dev";
    std::string mountsPath = "/proc/self/mounts";
    SgIoFunction sgIo;  // empty: the real SG_IO ioctl
    // For tests: accept a regular file where a block device is expected.
    bool acceptRegularFiles = false;
};

class LinuxDiskSystem final : public DiskSystem {
public:
    LinuxDiskSystem();
    explicit LinuxDiskSystem(LinuxDiskOptions options);

    std::vector<DiskInfo> ListDisks() override;
    // Opens the disk read-write when allowed, else read-only (both commands
    // only read), plus an O_DIRECT descriptor for the fallback path.
    // NoSuchDisk for an unknown number or a disk that has gone,
    // PermissionDenied when the device node may not be opened,
    // NotBlockDevice when the node is something else.
    OpenResult OpenDisk(int number) override;
    // Partitions of the numbered disks, by disk number, then partition
    // number.
    std::vector<VolumeInfo> ListVolumes() override;

    // The physical disk number of a device path (symbolic links are
    // followed), or -1 when the path is not one of the numbered disks.
    int DiskNumberOfPath(const std::string& path);

private:
    std::string BlockDir(const std::string& name) const;
    SysfsIdentity Identity(const std::string& name) const;

    LinuxDiskOptions options_;
};

}  // namespace raid::platform
