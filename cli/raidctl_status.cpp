#include "cli/raidctl_status.h"

#include <algorithm>
#include <ostream>

#include "cli/raidctl_output.h"
#include "common/text.h"
#include "device/channel.h"
#include "discovery/device_report.h"
#include "discovery/headless.h"
#include "monitor/quiet_host.h"
#include "monitor/status_poll.h"

namespace raid::cli {
namespace {

constexpr std::uint8_t kBuzzerCapability = 0x01;
constexpr std::uint8_t kBuzzerSounding = 0x01;  // record byte 56 bit 0: "Z", not muted
constexpr std::uint8_t kSensorsPresent = 0xA0;

const char* ClassName(std::uint8_t nibble) {
    switch (nibble) {
        case diskstate::kHdd1Inserted:
            return "inserted";
        case diskstate::kHdd1Present:
            return "present";
        case diskstate::kHdd1Absent:
            return "absent";
        case diskstate::kHdd1Failed:
            return "failed";
        default:
            return "none";
    }
}

std::string TrimRight(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

MemberStatus DescribeMember(const Record512& r, int member) {
    const bool first = member == 0;
    MemberStatus m;
    m.name = first ? "HDD1" : "HDD2";
    m.stateCode = r[first ? rec::kHdd1State : rec::kHdd2State];
    const auto flags = r[rec::kDiskStateFlags];
    m.stateClass = ClassName(static_cast<std::uint8_t>(first ? flags & 0x0F : flags >> 4));
    m.rebuilding = (r[rec::kRebuildFlags] & (first ? 0x01 : 0x02)) != 0;
    m.model = TrimRight(
        text::MemberModelText(text::Field(r, first ? rec::kHdd1Model : rec::kHdd2Model, 40)));
    m.serial = TrimRight(
        text::SerialText(text::Field(r, first ? rec::kHdd1Serial : rec::kHdd2Serial, 20)));
    m.capacity =
        text::Capacity40(text::Field(r, first ? rec::kHdd1Capacity : rec::kHdd2Capacity, 6));
    return m;
}

void PrintMemberText(const MemberStatus& m, std::ostream& out) {
    out << "  " << m.name << ": " << m.stateClass << (m.rebuilding ? ", being rebuilt" : "")
        << " (state " << text::StateCodeText(m.stateCode) << ")";
    if (m.stateClass != "none") {
        out << ", " << (m.model.empty() ? "-" : m.model) << ", serial "
            << (m.serial.empty() ? "-" : m.serial) << ", " << text::CapacityItem(m.capacity);
    }
    out << "\n";
}

void PrintMemberJson(const MemberStatus& m, std::ostream& out) {
    out << "{\"name\":" << JsonString(m.name) << ",\"stateCode\":" << int{m.stateCode}
        << ",\"stateCodeText\":" << JsonString(text::StateCodeText(m.stateCode))
        << ",\"class\":" << JsonString(m.stateClass)
        << ",\"rebuilding\":" << (m.rebuilding ? "true" : "false")
        << ",\"model\":" << JsonString(m.model) << ",\"serial\":" << JsonString(m.serial)
        << ",\"capacity\":" << m.capacity
        << ",\"capacityText\":" << JsonString(text::CapacityText(m.capacity)) << "}";
}

}  // namespace

DeviceStatus DescribeDevice(const AppState& state, int index,
                            const std::vector<platform::DiskInfo>& disks) {
    const auto& d = state.discovery;
    DeviceStatus s;
    s.index = index;
    s.disk = d.DiskOf(index);
    for (const auto& info : disks)
        if (info.number == s.disk) s.path = info.devicePath;
    if (s.disk >= kMaxDisks) return s;
    const auto& identify = d.identifyRecord[static_cast<std::size_t>(s.disk)];
    const auto& r = state.monitor.deviceStatusRecord[static_cast<std::size_t>(s.disk)];
    s.model = TrimRight(text::ControllerModelText(identify));
    s.firmware = text::FirmwareText(identify);
    s.arrayMode = r[rec::kArrayMode];
    s.configuredCapacity = text::Capacity40(text::Field(r, rec::kConfiguredCapacity, 6));
    s.members[0] = DescribeMember(r, 0);
    s.members[1] = DescribeMember(r, 1);
    s.rebuildPercent = r[rec::kRebuildPercent];
    s.sensors = (r[rec::kEnvironment] & 0xF0) == kSensorsPresent;
    s.fanRpm = r[rec::kFanHigh] * 256u + r[rec::kFanLow];
    s.temperature = r[rec::kTemperature];
    const std::uint8_t capability =
        index < kDeviceSlots ? d.deviceSlots[static_cast<std::size_t>(index)].optionCapability : 0;
    s.buzzerKnown = (capability & kBuzzerCapability) != 0;
    s.buzzerMuted = (r[rec::kOptionBits] & kBuzzerSounding) == 0;
    return s;
}

void PrintStatusText(const std::vector<DeviceStatus>& devices, std::ostream& out) {
    if (devices.empty()) {
        out << "No Drive found! \n";
        return;
    }
    for (const auto& s : devices) {
        out << "Device" << s.index + 1 << ": disk " << s.disk;
        if (!s.path.empty()) out << " (" << s.path << ")";
        out << ", " << s.model << ", firmware " << s.firmware << "\n";
        if (!s.polled) {
            out << "  not polled (only Device1 and Device2 are monitored); discovery's record:\n";
        } else if (!s.pollOk) {
            out << "  poll failed; last known state:\n";
        }
        out << "  array: " << text::ArrayModeText(s.arrayMode) << " (mode " << int{s.arrayMode}
            << "), configured capacity " << text::CapacityItem(s.configuredCapacity) << "\n";
        for (const auto& m : s.members) PrintMemberText(m, out);
        const bool rebuilding = s.members[0].rebuilding || s.members[1].rebuilding;
        out << "  rebuild: ";
        if (rebuilding)
            out << int{s.rebuildPercent} << "% ("
                << (s.members[0].rebuilding ? "HDD1 from HDD2" : "HDD2 from HDD1") << ")\n";
        else
            out << "none\n";
        if (s.sensors)
            out << "  fan: " << s.fanRpm << " RPM, temperature: " << int{s.temperature} << " C\n";
        else
            out << "  fan, temperature: no sensors\n";
        out << "  buzzer: "
            << (!s.buzzerKnown  ? "not reported"
                : s.buzzerMuted ? "muted"
                                : "not muted")
            << "\n";
    }
}

void PrintStatusJson(const std::vector<DeviceStatus>& devices, std::ostream& out) {
    out << "{\"devices\":[";
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const auto& s = devices[i];
        out << (i ? "," : "") << "{\"index\":" << s.index
            << ",\"name\":" << JsonString("Device" + std::to_string(s.index + 1))
            << ",\"disk\":" << s.disk << ",\"path\":" << JsonString(s.path)
            << ",\"model\":" << JsonString(s.model) << ",\"firmware\":" << JsonString(s.firmware)
            << ",\"polled\":" << (s.polled ? "true" : "false")
            << ",\"pollOk\":" << (s.pollOk ? "true" : "false")
            << ",\"arrayMode\":" << int{s.arrayMode}
            << ",\"arrayModeText\":" << JsonString(text::ArrayModeText(s.arrayMode))
            << ",\"configuredCapacity\":" << s.configuredCapacity << ",\"configuredCapacityText\":"
            << JsonString(text::CapacityText(s.configuredCapacity)) << ",\"members\":[";
        PrintMemberJson(s.members[0], out);
        out << ",";
        PrintMemberJson(s.members[1], out);
        out << "],\"rebuildPercent\":";
        if (s.members[0].rebuilding || s.members[1].rebuilding)
            out << int{s.rebuildPercent};
        else
            out << "null";
        out << ",\"fanRpm\":" << (s.sensors ? std::to_string(s.fanRpm) : "null")
            << ",\"temperature\":" << (s.sensors ? std::to_string(s.temperature) : "null")
            << ",\"buzzer\":"
            << (!s.buzzerKnown  ? "null"
                : s.buzzerMuted ? "\"muted\""
                                : "\"not muted\"")
            << "}";
    }
    out << "]}\n";
}

int RunList(Context& ctx, const Arguments& args) {
    return discovery::RunListCommand(ctx.disks, ctx.clock, args.json, ctx.out);
}

int RunStatus(Context& ctx, const Arguments& args) {
    const auto list = ctx.disks.ListDisks();
    int wanted = -1;
    if (!args.disk.empty()) {
        wanted = ResolveDisk(ctx, args.disk, list);
        const bool listed = std::any_of(list.begin(), list.end(),
                                        [&](const auto& info) { return info.number == wanted; });
        if (!listed) {
            ctx.err << "raidctl: " << args.disk
                    << " is not one of the physical disks (see 'raidctl disks')\n";
            return kExitCannotOpen;
        }
    }

    AppState state;
    device::CommandChannel ch(ctx.disks, ctx.clock);
    discovery::DiscoverOnce(state, ch);
    // Nothing is drawn here, so the first poll must query instead of only
    // reporting the devices for a first full redraw.
    state.shell.firstStatusPending = false;
    const auto& d = state.discovery;
    if (d.deviceCount == 0) {
        const std::string problem = discovery::PermissionProblem(ctx.disks);
        if (args.json) {
            ctx.out << "{\"devices\":[]" << (problem.empty() ? "" : ",\"message\":")
                    << (problem.empty() ? "" : JsonString(problem)) << "}\n";
        } else {
            ctx.out << "No Drive found! \n";
        }
        if (!problem.empty()) ctx.err << "raidctl: " << problem << "\n";
        return problem.empty() ? kExitCommandFailed : kExitCannotOpen;
    }

    std::vector<int> shown;
    for (int i = 0; i < d.deviceCount; ++i)
        if (wanted < 0 || d.DiskOf(i) == wanted) shown.push_back(i);
    if (shown.empty()) {
        ctx.err << "raidctl: " << DiskText(wanted, list)
                << " holds no enclosure (see 'raidctl list')\n";
        return kExitCommandFailed;
    }

    monitor::QuietMonitorHost host;
    for (int i = 0; i < kShownDevices; ++i)
        host.selectors[static_cast<std::size_t>(i)] = wanted < 0 || d.DiskOf(i) == wanted;
    monitor::StatusPoll(state, ch, ctx.clock, host);

    std::vector<DeviceStatus> devices;
    bool allOk = true;
    for (const int i : shown) {
        DeviceStatus s = DescribeDevice(state, i, list);
        s.polled = i < kShownDevices;
        s.pollOk = s.polled && (state.monitor.changedDeviceMask & (1u << i)) != 0;
        if (s.polled && !s.pollOk) allOk = false;
        devices.push_back(std::move(s));
    }
    if (args.json)
        PrintStatusJson(devices, ctx.out);
    else
        PrintStatusText(devices, ctx.out);
    for (const auto& s : devices) {
        if (s.polled && !s.pollOk)
            ctx.err << "raidctl: Device" << s.index + 1 << " (" << DiskText(s.disk, list)
                    << ") did not answer the status poll\n";
    }
    return allOk ? kExitOk : kExitCommandFailed;
}

}  // namespace raid::cli
