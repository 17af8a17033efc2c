#include "service/engine_front.h"

#include <algorithm>

namespace raid::service {

EnclosureLookup LookUpEnclosure(const EngineSnapshot& snapshot, const std::string& disk) {
    // Digits only: no sign, no blanks, as the command line reads a number.
    const bool digits =
        !disk.empty() && disk.size() <= 6 &&
        std::all_of(disk.begin(), disk.end(), [](char c) { return c >= '0' && c <= '9'; });
    int number = digits ? std::stoi(disk) : -1;
    const platform::DiskInfo* info = nullptr;
    for (const auto& d : snapshot.disks)
        if ((digits && d.number == number) || (!digits && (d.devicePath == disk || d.name == disk)))
            info = &d;
    EnclosureLookup found;
    if (info == nullptr) {
        found.outcome = client::kCannotOpen;
        found.why = disk + " is not one of the physical disks (see 'raidctl disks')";
        return found;
    }
    number = info->number;
    for (std::size_t i = 0; i < snapshot.devices.size(); ++i)
        if (snapshot.devices[i].disk == number) {
            found.position = static_cast<int>(i);
            return found;
        }
    found.outcome = client::kFailed;
    found.why = "disk " + std::to_string(number) + " (" + info->devicePath +
                ") holds no enclosure (see 'raidctl list')";
    return found;
}

EnclosureTarget EnclosureTarget::Of(const client::DeviceStatus& device) {
    return {device.identity,
            device.path,
            device.model,
            device.firmware,
            {device.members[0].serial, device.members[1].serial}};
}

std::string EnclosureTarget::Text() const {
    const auto serial = [](const std::string& s) { return s.empty() ? std::string("none") : s; };
    return identity + " (" + (model.empty() ? std::string("no model") : model) + ", " +
           (path.empty() ? std::string("no device") : path) + ", members " + serial(serials[0]) +
           " and " + serial(serials[1]) + ")";
}

}  // namespace raid::service
