#pragma once
// The commands of raidctl over any DiskSystem (the machine's or the
// emulator's). Each returns the process exit code; data goes to `out`,
// complaints to `err`.
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/raidctl_args.h"
#include "client/enclosure_access.h"
#include "common/state.h"
#include "device/channel.h"
#include "discovery/device_report.h"
#include "platform/clock.h"
#include "platform/disk.h"

namespace raid::cli {

struct Context {
    platform::DiskSystem& disks;
    platform::Clock& clock;
    // Physical disk number of a device path, -1 when none; empty: compare
    // with the listed device paths and names.
    std::function<int(const std::string&)> numberOfPath;
    std::ostream& out;
    std::ostream& err;
};

// The physical disk number `text` names (a number, or a device path or name
// of `list`); -1 when none.
int ResolveDisk(Context& ctx, const std::string& text, const std::vector<platform::DiskInfo>& list);
bool IsListed(int number, const std::vector<platform::DiskInfo>& list);
// "TEXT is not one of the physical disks (see 'raidctl disks')".
std::string NotADiskText(const std::string& text);
using discovery::DiskText;

// How the command line wants the service to ask for a password.
inline client::CallOptions CallOptionsOf(const Arguments& args) {
    return client::CallOptions{!args.noAskPassword};
}

int RunDisks(Context& ctx, const Arguments& args);
int RunQuery(Context& ctx, const Arguments& args);

}  // namespace raid::cli
