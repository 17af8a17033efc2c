#include "discovery/device_changes.h"

#include <algorithm>
#include <string>

namespace raid::discovery {
namespace {

int DiskOfEntry(std::uint32_t entry) { return static_cast<int>(entry & kDeviceEntryDiskMask); }

// Identify records exist for disks 0..9 only; an entry outside never matches.
bool SameDevice(const DiscoveryState& d, std::uint32_t oldEntry, std::uint32_t newEntry) {
    const int oldDisk = DiskOfEntry(oldEntry);
    const int newDisk = DiskOfEntry(newEntry);
    if (oldDisk >= kMaxDisks || newDisk >= kMaxDisks) return false;
    return SameIdentity(d.previousIdentifyRecord[static_cast<std::size_t>(oldDisk)],
                        d.identifyRecord[static_cast<std::size_t>(newDisk)]);
}

}  // namespace

bool SameIdentity(const Record512& a, const Record512& b) {
    return std::equal(a.begin(), a.begin() + kLiveBytesFirst, b.begin()) &&
           std::equal(a.begin() + kLiveBytesLast + 1, a.end(), b.begin() + kLiveBytesLast + 1);
}

void LogDeviceChanges(DiscoveryState& d, const MailEventHook& raiseMail,
                      const std::function<void()>& pump) {
    const int oldCount = std::clamp(d.deviceCount, 0, kDeviceTableSize);
    const int newCount = std::clamp(d.newDeviceCount, 0, kDeviceTableSize);
    if (oldCount == newCount) return;

    bool added = false;
    auto found = [&](int position) {
        d.deviceChangeLines.push_back("D" + std::to_string(position + 1) +
                                      " New Device was found.");
        added = true;
    };
    auto removed = [&](int position) {
        d.deviceChangeLines.push_back("D" + std::to_string(position + 1) + " Device was removed.");
        added = true;
        if (raiseMail) raiseMail(kMailDeviceRemoved, position, 0);
    };
    auto oldAt = [&](int o) { return d.deviceTable[static_cast<std::size_t>(o)]; };
    auto newAt = [&](int n) { return d.newDeviceTable[static_cast<std::size_t>(n)]; };

    if (oldCount == 0) {
        d.deviceChangeRedraw = true;
        for (int n = 0; n < newCount; ++n) found(n);
    } else if (newCount == 0) {
        for (int o = 0; o < oldCount; ++o) removed(o);
    } else {
        int o = 0;
        int n = 0;
        for (;;) {
            if (pump) pump();
            if (o >= oldCount) {
                for (; n < newCount; ++n) found(n);
                break;
            }
            if (n >= newCount) {
                for (; o < oldCount; ++o) removed(o);
                break;
            }
            if (SameDevice(d, oldAt(o), newAt(n))) {
                ++o;
                ++n;
                continue;
            }
            int j = n + 1;
            while (j < newCount && !SameDevice(d, oldAt(o), newAt(j))) ++j;
            if (j < newCount) {
                for (; n < j; ++n) found(n);
                n = j + 1;
            } else {
                removed(o);
            }
            ++o;
        }
    }
    if (added || d.deviceChangeLinesPending) {
        d.deviceChangeLines.push_back("    Device had changed.");
        d.deviceChangeLinesPending = true;
    }
}

}  // namespace raid::discovery
