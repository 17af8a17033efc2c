#pragma once
// `raidctl list` and `raidctl status`: one headless discovery, and for status
// one status poll of Device1 and Device2, printed as text or JSON.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/raidctl_commands.h"
#include "common/state.h"
#include "device/channel.h"
#include "service/enclosure_status.h"

namespace raid::cli {

using service::DescribeDevice;
using service::DeviceStatus;
using service::MemberStatus;

void PrintStatusText(const std::vector<DeviceStatus>& devices, std::ostream& out);
// {"devices":[{...}]} on one line.
void PrintStatusJson(const std::vector<DeviceStatus>& devices, std::ostream& out);

// What `status` and the setting commands start with: the machine's disks,
// the one DISK names and one discovery.
struct Discovered {
    std::vector<platform::DiskInfo> list;
    int wanted = -1;         // the disk DISK names; -1 when none was given
    std::vector<int> shown;  // the device indexes on it (all without DISK)
};
// Runs the discovery into `state`. Nullopt when there is a device to show;
// otherwise the exit code, after saying why (as `status` does).
std::optional<int> DiscoverDevices(Context& ctx, const Arguments& args, AppState& state,
                                   device::CommandChannel& ch, Discovered& found);

// `raidctl list`: discovery's own report.
int RunList(Context& ctx, const Arguments& args);
// `raidctl status [DISK]`: 0 when every polled device answered; 2 when no
// enclosure was found because disks could not be opened, or DISK is not a
// disk; 3 when no enclosure was found, DISK holds none, or a poll failed.
int RunStatus(Context& ctx, const Arguments& args);

}  // namespace raid::cli
