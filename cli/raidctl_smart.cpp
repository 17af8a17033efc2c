#include "cli/raidctl_smart.h"

#include <algorithm>
#include <iomanip>

#include "cli/raidctl_output.h"
#include "cli/raidctl_status.h"
#include "device/channel.h"
#include "discovery/headless.h"
#include "smart/read_smart.h"
#include "smart/smart_host.h"
#include "smart/smart_state.h"

namespace raid::cli {
namespace {

constexpr int kNameWidth = 34;  // the longest name has 33 characters
constexpr int kRawWidth = 12;
constexpr int kDecimalWidth = 16;  // 48 bits take 15 digits

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// "Yes", "No" or "Unknown": the answer of " 4K Sector supported : Yes ".
std::string FourKAnswer(const smart::FourKLine& line) {
    const std::string text = Trim(line.text);
    const auto colon = text.rfind(": ");
    return colon == std::string::npos ? text : text.substr(colon + 2);
}

std::string AttributeNameText(std::uint8_t id) {
    const char* name = smart::AttributeName(id);
    return name != nullptr ? name : "UnKnown";
}

bool IsError(const SmartMember& m) { return (m.view.overall & smart::kStatusError) != 0; }

// The SMART tables hold the first devices only; with the enclosure on DISK
// as the only device it is read whatever its index, and no other enclosure
// is sent a command.
void KeepOnlyDevice(DiscoveryState& d, int index) {
    const auto i = static_cast<std::size_t>(index);
    d.deviceTable[0] = d.deviceTable[i];
    d.deviceSlots[0] = d.deviceSlots[i];
    d.deviceCount = 1;
    d.currentDevice = 0;
}

SmartReport Describe(const AppState& state, const smart::SmartState& tables, int index,
                     const std::vector<platform::DiskInfo>& list) {
    const DeviceStatus device = DescribeDevice(state, 0, list);
    SmartReport r;
    r.index = index;
    r.disk = device.disk;
    r.path = device.path;
    r.model = device.model;
    r.thresholdsRead = tables.thresholdsRead;
    r.dataRead = tables.dataRead;
    const std::uint8_t flags =
        state.monitor
            .deviceStatusRecord[static_cast<std::size_t>(device.disk)][rec::kDiskStateFlags];
    for (int k = 0; k < smart::kSmartDisks; ++k) {
        SmartMember& m = r.members[static_cast<std::size_t>(k)];
        m.name = device.members[k].name;
        m.present = (flags & (k == 0 ? diskstate::kHdd1Present : diskstate::kHdd2Present)) != 0;
        m.model = device.members[k].model;
        m.word106Code = tables.Word106Code(0, k);
        m.fourK = smart::FourKSectorLine(m.word106Code);
        m.view = smart::BuildSmartView(tables.DataBlock(0, k), tables.ThresholdBlock(0, k),
                                       m.word106Code);
    }
    return r;
}

void PrintMemberText(const SmartMember& m, std::ostream& out) {
    out << "  " << m.name << ": ";
    if (!m.present) {
        out << "absent\n";
        return;
    }
    out << (m.model.empty() ? "-" : m.model) << "\n";
    out << "    " << Trim(m.fourK.text) << " (" << m.fourK.hint << ")\n";
    if (m.view.rows.empty()) {
        out << "    no SMART attributes\n";
        return;
    }
    out << "    ID  " << std::left << std::setw(kNameWidth) << "ATTRIBUTE" << std::right
        << std::setw(6) << "VALUE" << std::setw(6) << "WORST" << std::setw(10) << "THRESHOLD"
        << "  " << std::left << std::setw(kRawWidth) << "RAW" << std::right
        << std::setw(kDecimalWidth) << "RAW (DECIMAL)"
        << "  STATUS\n";
    for (const smart::SmartRow& row : m.view.rows) {
        const smart::Attribute& a = row.attribute;
        out << "    " << HexByte(a.id).substr(2) << "  " << std::left << std::setw(kNameWidth)
            << AttributeNameText(a.id) << std::right << std::setw(6) << int{a.current}
            << std::setw(6) << int{a.worst} << std::setw(10)
            << (a.threshold ? smart::ThresholdText(a) : "-") << "  " << row.cells[smart::kRawColumn]
            << std::setw(kDecimalWidth) << a.raw << "  " << row.cells[smart::kStatusColumn] << "\n";
    }
    out << "    verdict: " << Trim(m.view.verdict.text) << "\n";
}

Json MemberJson(const SmartMember& m) {
    Json attributes = Json::array();
    for (const smart::SmartRow& row : m.view.rows) {
        const smart::Attribute& a = row.attribute;
        attributes.push_back({{"id", a.id},
                              {"name", AttributeNameText(a.id)},
                              {"current", a.current},
                              {"worst", a.worst},
                              {"threshold", a.threshold ? Json(*a.threshold) : Json(nullptr)},
                              {"raw", row.cells[smart::kRawColumn]},
                              {"rawValue", a.raw},
                              {"status", row.cells[smart::kStatusColumn]}});
    }
    const bool shown = !m.view.rows.empty();
    return {{"name", m.name},
            {"present", m.present},
            {"model", m.model},
            {"word106", m.word106Code},
            {"sector4K", FourKAnswer(m.fourK)},
            {"sector4KHint", m.fourK.hint},
            {"attributes", std::move(attributes)},
            {"verdict", shown ? Json(Trim(m.view.verdict.text)) : Json(nullptr)}};
}

}  // namespace

void PrintSmartText(const SmartReport& r, std::ostream& out) {
    out << "Device" << r.index + 1 << ": disk " << r.disk;
    if (!r.path.empty()) out << " (" << r.path << ")";
    out << ", " << r.model << "\n";
    if (!r.thresholdsRead || !r.dataRead)
        out << "  not every SMART read was answered in full; what came is shown\n";
    for (const SmartMember& m : r.members) PrintMemberText(m, out);
}

void PrintSmartJson(const SmartReport& r, std::ostream& out) {
    PrintJsonLine({{"index", r.index},
                   {"name", "Device" + std::to_string(r.index + 1)},
                   {"disk", r.disk},
                   {"path", r.path},
                   {"model", r.model},
                   {"thresholdsRead", r.thresholdsRead},
                   {"dataRead", r.dataRead},
                   {"members", {MemberJson(r.members[0]), MemberJson(r.members[1])}}},
                  out);
}

int RunSmart(Context& ctx, const Arguments& args) {
    FoundEnclosure found(ctx);
    if (!found.Find(args.disk)) return found.exitCode;
    AppState& state = found.state;
    device::CommandChannel& ch = found.ch;
    const int index = found.index;
    const auto list = ctx.disks.ListDisks();
    const int wanted = state.discovery.DiskOf(index);
    DiscoveryState& d = state.discovery;
    KeepOnlyDevice(d, index);

    smart::SmartState tables;
    smart::QuietSmartHost host;
    smart::ReadSmart(state, tables, ch, host, smart::kFeatureReadThresholds);
    smart::ReadSmart(state, tables, ch, host, smart::kFeatureReadData);

    const SmartReport report = Describe(state, tables, index, list);
    if (args.json)
        PrintSmartJson(report, ctx.out);
    else
        PrintSmartText(report, ctx.out);
    if (!report.thresholdsRead || !report.dataRead) {
        ctx.err << "raidctl: Device" << index + 1 << " (" << DiskText(wanted, list)
                << ") did not answer every SMART read\n";
        return kExitCommandFailed;
    }
    const bool error = std::any_of(report.members.begin(), report.members.end(), IsError);
    return error ? kExitSmartError : kExitOk;
}

}  // namespace raid::cli
