#pragma once
// `raidctl list` and `raidctl status`: one headless discovery, and for status
// one status poll of Device1 and Device2, printed as text or JSON.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/raidctl_commands.h"
#include "client/enclosure_access.h"
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

// `raidctl list`: discovery's own report.
int RunList(Context& ctx, const Arguments& args);
// `raidctl status [DISK]`: 0 when every polled device answered; 2 when no
// enclosure was found because disks could not be opened, or DISK is not a
// disk; 3 when no enclosure was found, DISK holds none, or a poll failed.
int RunStatus(Context& ctx, const Arguments& args);
// The same through `access` (in this process or through the service).
int RunStatusVia(Context& ctx, const Arguments& args, client::EnclosureAccess& access);
// The records on ctx.out, the notes on ctx.err; returns the exit code.
int PrintAnswer(Context& ctx, bool json, const client::StatusAnswer& answer);

}  // namespace raid::cli
