#include "platform/linux_disks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "platform/disk_origin.h"
#include "platform/linux_sysfs.h"

namespace raid::platform {
namespace {

namespace fs = std::filesystem;

bool StartsWith(const std::string& s, std::string_view prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// Names of the entries of a directory, sorted; empty when it cannot be read.
std::vector<std::string> EntryNames(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (!name.empty() && name[0] != '.') names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string Canonical(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) return path;
    return resolved;
}

int OpenRetrying(const std::string& path, int flags) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

OpenResult Failure(OpenError error, std::string message) {
    OpenResult r;
    r.error = error;
    r.message = std::move(message);
    return r;
}

std::string DiskText(int number, const std::string& path) {
    return "disk " + std::to_string(number) + " (" + path + ")";
}

}  // namespace

LinuxDiskSystem::LinuxDiskSystem() = default;

LinuxDiskSystem::LinuxDiskSystem(LinuxDiskOptions options) : options_(std::move(options)) {}

std::string LinuxDiskSystem::BlockDir(const std::string& name) const {
    return options_.sysRoot + "/block/" + name;
}

std::vector<DiskInfo> LinuxDiskSystem::ListDisks() {
    std::vector<DiskInfo> disks;
    for (const std::string& name : EntryNames(options_.sysRoot + "/block")) {
        const std::string dir = BlockDir(name);
        if (StartsWith(name, "ram") || StartsWith(name, "zram")) continue;
        if (PathExists(dir + "/partition")) continue;
        // An unbound loop device has no medium; a bound one may be the
        // virtual enclosure disk.
        if (StartsWith(name, "loop") && !PathExists(dir + "/loop/backing_file")) continue;
        DiskInfo d;
        d.number = static_cast<int>(disks.size());
        d.name = name;
        d.devicePath = options_.devRoot + "/" + name;
        const DiskOrigin origin = ReadDiskOrigin(options_.sysRoot, name);
        d.serial = origin.serial;
        d.port = origin.port;
        disks.push_back(std::move(d));
    }
    return disks;
}

SysfsIdentity LinuxDiskSystem::Identity(const std::string& name) const {
    const std::string dir = BlockDir(name);
    SysfsIdentity id;
    id.vendor = ReadAttribute(dir + "/device/vendor", 256).value_or("");
    id.model = ReadAttribute(dir + "/device/model", 256).value_or("");
    id.revision = ReadAttribute(dir + "/device/rev", 256).value_or("");
    id.removable = ReadAttribute(dir + "/removable", 16).value_or("0") == "1";
    return id;
}

OpenResult LinuxDiskSystem::OpenDisk(int number) {
    const auto disks = ListDisks();
    if (number < 0 || static_cast<std::size_t>(number) >= disks.size()) {
        return Failure(OpenError::NoSuchDisk, "no disk number " + std::to_string(number));
    }
    const DiskInfo& disk = disks[static_cast<std::size_t>(number)];
    const std::string& path = disk.devicePath;

    // Read-only: READ(10) and INQUIRY through SG_IO need no more, and closing
    // a disk opened for writing makes udev send a "change" event, which
    // would restart the device-change debounce after every command.
    const int fd = OpenRetrying(path, O_RDONLY);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENXIO || error == ENODEV || error == ENOMEDIUM) {
            return Failure(OpenError::NoSuchDisk, DiskText(number, path) + " has gone");
        }
        if (error == EISDIR) {
            return Failure(OpenError::NotBlockDevice,
                           DiskText(number, path) + " is not a block device");
        }
        if (error == EACCES || error == EPERM) {
            return Failure(OpenError::PermissionDenied,
                           "cannot open " + DiskText(number, path) +
                               ": permission denied; raw disk access needs root or membership "
                               "of the 'disk' group");
        }
        return Failure(OpenError::Other,
                       "cannot open " + DiskText(number, path) + ": " + std::strerror(error));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 ||
        !(S_ISBLK(st.st_mode) || (options_.acceptRegularFiles && S_ISREG(st.st_mode)))) {
        ::close(fd);
        return Failure(OpenError::NotBlockDevice,
                       DiskText(number, path) + " is not a block device");
    }
    // Read-only: the fallback path never writes.
    const int directFd = OpenRetrying(path, O_RDONLY | O_DIRECT);
    const int directError = directFd < 0 ? errno : 0;

    OpenResult r;
    r.handle = std::make_unique<LinuxDiskHandle>(path, fd, directFd, directError,
                                                 Identity(disk.name), options_.sgIo);
    return r;
}

std::vector<VolumeInfo> LinuxDiskSystem::ListVolumes() {
    std::vector<MountEntry> mounts;
    if (auto text = ReadWholeFile(options_.mountsPath)) mounts = ParseMounts(*text);

    std::vector<VolumeInfo> volumes;
    for (const DiskInfo& disk : ListDisks()) {
        const std::string dir = BlockDir(disk.name);
        const bool removable = ReadAttribute(dir + "/removable", 16).value_or("0") == "1";
        struct Part {
            std::uint64_t index;
            VolumeInfo info;
        };
        std::vector<Part> parts;
        for (const std::string& name : EntryNames(dir)) {
            const std::string partDir = dir + "/" + name;
            const auto index =
                ParseUnsigned(ReadAttribute(partDir + "/partition", 32).value_or(""));
            if (!index) continue;  // not a partition, or gone meanwhile
            const auto start = ParseUnsigned(ReadAttribute(partDir + "/start", 32).value_or(""));
            const auto size = ParseUnsigned(ReadAttribute(partDir + "/size", 32).value_or(""));
            if (!start || !size) continue;
            VolumeInfo v;
            v.name = name;
            v.devicePath = options_.devRoot + "/" + name;
            v.diskNumber = disk.number;
            v.driveType = removable ? kDriveRemovable : kDriveFixed;
            // sysfs counts in 512-byte units whatever the device's sector size.
            v.startBytes = *start <= UINT64_MAX / kSectorSize ? *start * kSectorSize : 0;
            v.lengthBytes = *size <= UINT64_MAX / kSectorSize ? *size * kSectorSize : 0;
            const std::string canonical = Canonical(v.devicePath);
            for (const MountEntry& m : mounts) {
                if (m.device == v.devicePath ||
                    (!m.device.empty() && m.device[0] == '/' && Canonical(m.device) == canonical)) {
                    v.mountPoint = m.mountPoint;
                    break;
                }
            }
            parts.push_back({*index, std::move(v)});
        }
        std::stable_sort(parts.begin(), parts.end(),
                         [](const Part& a, const Part& b) { return a.index < b.index; });
        for (Part& p : parts) volumes.push_back(std::move(p.info));
    }
    return volumes;
}

int LinuxDiskSystem::DiskNumberOfPath(const std::string& path) {
    const std::string canonical = Canonical(path);
    struct stat st {};
    const bool isBlock = ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
    const std::string devNumbers =
        isBlock ? std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev))
                : std::string();
    for (const DiskInfo& d : ListDisks()) {
        if (path == d.devicePath || canonical == Canonical(d.devicePath)) return d.number;
        if (isBlock && ReadAttribute(BlockDir(d.name) + "/dev", 32).value_or("") == devNumbers) {
            return d.number;
        }
    }
    return -1;
}

}  // namespace raid::platform
