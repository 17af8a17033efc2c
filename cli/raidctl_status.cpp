#include "cli/raidctl_status.h"

#include <exception>
#include <ostream>

#include "cli/raidctl_output.h"
#include "common/text.h"
#include "device/channel.h"
#include "discovery/device_report.h"
#include "discovery/headless.h"
#include "maintenance/period_setting.h"
#include "maintenance/schedule.h"
#include "monitor/pending_command.h"
#include "monitor/quiet_host.h"
#include "monitor/status_poll.h"

namespace raid::cli {
namespace {

void PrintMemberText(const MemberStatus& m, std::ostream& out) {
    out << "  " << m.name << ": " << m.stateClass << (m.rebuilding ? ", being rebuilt" : "")
        << " (state " << text::StateCodeText(m.stateCode) << ")";
    if (m.stateClass != "none") {
        out << ", " << (m.model.empty() ? "-" : m.model) << ", serial "
            << (m.serial.empty() ? "-" : m.serial) << ", " << text::CapacityItem(m.capacity);
    }
    out << "\n";
}

Json MemberJson(const MemberStatus& m) {
    return {{"name", m.name},
            {"stateCode", m.stateCode},
            {"stateCodeText", text::StateCodeText(m.stateCode)},
            {"class", m.stateClass},
            {"rebuilding", m.rebuilding},
            {"model", m.model},
            {"serial", m.serial},
            {"capacity", m.capacity},
            {"capacityText", text::CapacityText(m.capacity)}};
}

// The document of status and list: the devices, and when none was found
// because disks could not be opened, why.
Json DevicesJson(Json devices, const std::string& problem = {}) {
    Json j = {{"devices", std::move(devices)}};
    if (!problem.empty()) j["message"] = problem;
    return j;
}

Json DeviceRowJson(const discovery::DeviceRow& r) {
    return {{"index", r.device},
            {"name", "Device" + std::to_string(r.device + 1)},
            {"disk", r.disk},
            {"path", r.devicePath},
            {"model", r.model},
            {"firmware", r.firmware},
            {"controller", r.portMultiplier != 0 ? "port-multiplier" : "raid-bridge"},
            {"featureMask", r.featureMask},
            {"driveLetters", r.driveLetters}};
}

}  // namespace

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
        out << "  schedule backup: ";
        if (!s.backupKnown)
            out << "not supported\n";
        else if (s.backupPeriod == 0)
            out << "off\n";
        else
            out << "every "
                << maintenance::HoursText(std::uint32_t{s.backupPeriod} * s.backupUnitHours)
                << (s.backingUp
                        ? ", backing up now\n"
                        : ", next in " + std::to_string(s.backupWaitMinutes) + " minutes\n");
    }
}

void PrintStatusJson(const std::vector<DeviceStatus>& devices, std::ostream& out) {
    Json list = Json::array();
    for (const auto& s : devices) {
        const bool rebuilding = s.members[0].rebuilding || s.members[1].rebuilding;
        list.push_back({
            {"index", s.index},
            {"name", "Device" + std::to_string(s.index + 1)},
            {"disk", s.disk},
            {"path", s.path},
            {"model", s.model},
            {"firmware", s.firmware},
            {"polled", s.polled},
            {"pollOk", s.pollOk},
            {"arrayMode", s.arrayMode},
            {"arrayModeText", text::ArrayModeText(s.arrayMode)},
            {"configuredCapacity", s.configuredCapacity},
            {"configuredCapacityText", text::CapacityText(s.configuredCapacity)},
            {"members", {MemberJson(s.members[0]), MemberJson(s.members[1])}},
            {"rebuildPercent", rebuilding ? Json(s.rebuildPercent) : Json(nullptr)},
            {"fanRpm", s.sensors ? Json(s.fanRpm) : Json(nullptr)},
            {"temperature", s.sensors ? Json(s.temperature) : Json(nullptr)},
            {"buzzer", !s.buzzerKnown  ? Json(nullptr)
                       : s.buzzerMuted ? Json("muted")
                                       : Json("not muted")},
            {"backupPeriod", s.backupKnown ? Json(s.backupPeriod) : Json(nullptr)},
            {"backupUnitHours", s.backupKnown ? Json(s.backupUnitHours) : Json(nullptr)},
            {"backupWaitMinutes",
             s.backupKnown && s.backupPeriod != 0 ? Json(s.backupWaitMinutes) : Json(nullptr)},
            {"backingUp", s.backupKnown && s.backingUp},
        });
    }
    PrintJsonLine(DevicesJson(std::move(list)), out);
}

int RunList(Context& ctx, const Arguments& args) {
    AppState state;
    device::CommandChannel ch(ctx.disks, ctx.clock);
    discovery::DiscoverOnce(state, ch);
    std::vector<platform::DiskInfo> list;
    try {
        list = ctx.disks.ListDisks();
    } catch (const std::exception&) {
        // Without device paths the report still names the disks by number.
    }
    const auto rows = discovery::BuildDeviceReport(state.discovery, list);
    const std::string problem = rows.empty() ? discovery::PermissionProblem(ctx.disks) : "";
    if (args.json) {
        Json devices = Json::array();
        for (const auto& r : rows) devices.push_back(DeviceRowJson(r));
        PrintJsonLine(DevicesJson(std::move(devices), problem), ctx.out);
    } else {
        discovery::PrintDeviceReportText(rows, ctx.out);
        if (!problem.empty()) ctx.out << problem << "\n";
    }
    return rows.empty() ? kExitUsage : kExitOk;
}

std::optional<int> DiscoverDevices(Context& ctx, const Arguments& args, AppState& state,
                                   device::CommandChannel& ch, Discovered& found) {
    found.list = ctx.disks.ListDisks();
    const auto& list = found.list;
    int& wanted = found.wanted;
    if (!args.disk.empty()) {
        wanted = ListedDisk(ctx, args.disk, list);
        if (wanted < 0) return kExitCannotOpen;
    }

    discovery::DiscoverOnce(state, ch);
    // Nothing is drawn here, so the first poll must query instead of only
    // reporting the devices for a first full redraw.
    state.shell.firstStatusPending = false;
    const auto& d = state.discovery;
    if (d.deviceCount == 0) {
        const std::string problem = discovery::PermissionProblem(ctx.disks);
        if (args.json) {
            PrintJsonLine(DevicesJson(Json::array(), problem), ctx.out);
        } else {
            ctx.out << "No Drive found! \n";
        }
        if (!problem.empty()) ctx.err << "raidctl: " << problem << "\n";
        return problem.empty() ? kExitCommandFailed : kExitCannotOpen;
    }

    for (int i = 0; i < d.deviceCount; ++i)
        if (wanted < 0 || d.DiskOf(i) == wanted) found.shown.push_back(i);
    if (found.shown.empty()) {
        ctx.err << "raidctl: " << DiskText(wanted, list)
                << " holds no enclosure (see 'raidctl list')\n";
        return kExitCommandFailed;
    }
    return std::nullopt;
}

int RunStatus(Context& ctx, const Arguments& args) {
    AppState state;
    device::CommandChannel ch(ctx.disks, ctx.clock);
    Discovered found;
    if (const auto code = DiscoverDevices(ctx, args, state, ch, found)) return *code;
    const auto& d = state.discovery;
    const auto& list = found.list;
    const int wanted = found.wanted;

    monitor::QuietMonitorHost host;
    for (int i = 0; i < kShownDevices; ++i)
        host.selectors[static_cast<std::size_t>(i)] = wanted < 0 || d.DiskOf(i) == wanted;
    monitor::StatusPoll(state, ch, ctx.clock, host);

    std::vector<DeviceStatus> devices;
    bool allOk = true;
    for (const int i : found.shown) {
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
