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

namespace raid::cli {

// One member disk as the status record describes it.
struct MemberStatus {
    std::string name;  // "HDD1", "HDD2"
    std::uint8_t stateCode = 0;
    std::string stateClass;  // "present", "inserted", "absent", "failed" or "none"
    bool rebuilding = false;
    std::string model;
    std::string serial;
    std::uint64_t capacity = 0;  // sectors
};

// One device: identification from discovery, state from its status record.
struct DeviceStatus {
    int index = 0;
    int disk = 0;
    std::string path;
    std::string model;
    std::string firmware;
    bool polled = false;  // Device1/Device2 selected for this run
    bool pollOk = false;  // every query of the poll succeeded
    std::uint8_t arrayMode = 0;
    std::uint64_t configuredCapacity = 0;
    MemberStatus members[2];
    std::uint8_t rebuildPercent = 0;
    bool sensors = false;
    std::uint32_t fanRpm = 0;
    std::uint8_t temperature = 0;
    bool buzzerKnown = false;  // the controller reports its buzzer
    bool buzzerMuted = false;
    bool backupKnown = false;       // the enclosure has schedule backup
    std::uint8_t backupPeriod = 0;  // in period units; 0 = off
    std::uint8_t backupUnitHours = 0;
    std::uint32_t backupWaitMinutes = 0;  // to the next backup
    bool backingUp = false;
};

// The status of device `index` from `state` (after discovery and a poll).
DeviceStatus DescribeDevice(const AppState& state, int index,
                            const std::vector<platform::DiskInfo>& disks);

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
