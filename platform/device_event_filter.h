#pragma once
// Which udev events mean that a disk appeared or vanished. Devices added and
// removed count. A "change" counts only when a disk's media came or went (its
// size turned zero or non-zero): that is how a loop device gains or loses its
// backing file, while udev also sends "change" each time a disk that was open
// for writing is closed, which must not restart the device-change debounce.
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace raid::platform {

class DeviceEventFilter {
public:
    // Records what is known of a disk before events arrive (`sizeText` is its
    // sysfs "size").
    void Seed(const std::string& sysname, const std::optional<std::string>& sizeText);
    // True when the event means a device appeared or vanished. `sizeText` is
    // the disk's sysfs "size" as the event carries it (absent for non-block
    // devices or when unreadable).
    bool Counts(const std::string& action, const std::string& subsystem, const std::string& sysname,
                const std::optional<std::string>& sizeText);

private:
    std::map<std::string, bool> hasMedia_;
};

}  // namespace raid::platform
