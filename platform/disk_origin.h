#pragma once
// What the kernel learnt of a disk's bridge when it was attached, read from
// sysfs: no command reaches the disk, so it is safe between knock reads.
#include <string>

namespace raid::platform {

struct DiskOrigin {
    // The bridge's serial number: the USB device's (iSerial), else the SCSI
    // unit serial number (VPD page 0x80) the kernel kept; empty when neither.
    std::string serial;
    // Where it is plugged in: "usb-2-1.3" (bus 2, ports 1 then 3) or
    // "ata3"; empty for a disk on neither (a loop device).
    std::string port;
};

// The origin of block device `name` ("sdb") in the sysfs tree at `sysRoot`.
DiskOrigin ReadDiskOrigin(const std::string& sysRoot, const std::string& name);

}  // namespace raid::platform
