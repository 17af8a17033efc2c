#include "cli/raidctl_status.h"

#include <exception>
#include <ostream>

#include "cli/local_access.h"
#include "cli/raidctl_output.h"
#include "common/text.h"
#include "device/channel.h"
#include "discovery/device_report.h"
#include "discovery/headless.h"
#include "maintenance/schedule.h"

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

int PrintAnswer(Context& ctx, bool json, const client::StatusAnswer& answer) {
    if (answer.noneFound) {
        if (json)
            PrintJsonLine(DevicesJson(Json::array(), answer.problem), ctx.out);
        else
            ctx.out << "No Drive found! \n";
    } else if (!answer.devices.empty()) {
        if (json)
            PrintStatusJson(answer.devices, ctx.out);
        else
            PrintStatusText(answer.devices, ctx.out);
    }
    // A note may come from the service: one line each, whatever it holds.
    for (const auto& note : answer.notes) ctx.err << "raidctl: " << OneLine(note) << "\n";
    return answer.outcome;
}

int RunStatusVia(Context& ctx, const Arguments& args, client::EnclosureAccess& access) {
    return PrintAnswer(ctx, args.json, access.Status(args.disk));
}

int RunStatus(Context& ctx, const Arguments& args) {
    LocalAccess access(ctx);
    return RunStatusVia(ctx, args, access);
}

}  // namespace raid::cli
