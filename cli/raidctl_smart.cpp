#include "cli/raidctl_smart.h"

#include <algorithm>
#include <iomanip>

#include "cli/local_access.h"
#include "cli/raidctl_output.h"

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

// The report from the sectors as the controller sent them.
SmartReport Describe(const client::SmartSectors& sectors) {
    SmartReport r;
    r.index = sectors.index;
    r.disk = sectors.disk;
    r.path = sectors.path;
    r.model = sectors.model;
    r.thresholdsRead = sectors.thresholdsRead;
    r.dataRead = sectors.dataRead;
    for (std::size_t k = 0; k < r.members.size(); ++k) {
        const client::SmartMemberSectors& from = sectors.members[k];
        SmartMember& m = r.members[k];
        m.name = from.name;
        m.present = from.present;
        m.model = from.model;
        m.word106Code = from.word106Code;
        m.fourK = smart::FourKSectorLine(m.word106Code);
        m.view = from.view;
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
                              {"status", row.cells[smart::kStatusColumn]},
                              {"reason", row.reason}});
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

int RunSmartVia(Context& ctx, const Arguments& args, client::EnclosureAccess& access) {
    const client::SmartAnswer answer = access.Smart(args.disk);
    int code = answer.outcome;
    std::vector<std::string> notes = answer.notes;
    if (answer.smart) {
        const SmartReport report = Describe(*answer.smart);
        if (args.json)
            PrintSmartJson(report, ctx.out);
        else
            PrintSmartText(report, ctx.out);
        if (!report.thresholdsRead || !report.dataRead) {
            notes.push_back("Device" + std::to_string(report.index + 1) + " (disk " +
                            std::to_string(report.disk) +
                            (report.path.empty() ? "" : " (" + report.path + ")") +
                            ") did not answer every SMART read");
            code = kExitCommandFailed;
        } else if (std::any_of(report.members.begin(), report.members.end(), IsError)) {
            code = kExitSmartError;
        }
    }
    for (const auto& note : notes) ctx.err << "raidctl: " << OneLine(note) << "\n";
    return code;
}

int RunSmart(Context& ctx, const Arguments& args) {
    LocalAccess access(ctx);
    return RunSmartVia(ctx, args, access);
}

}  // namespace raid::cli
