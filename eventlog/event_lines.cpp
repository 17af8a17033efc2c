#include "eventlog/event_lines.h"

#include <cctype>

#include "common/state.h"

namespace raid::eventlog {

namespace {

// Where one member's fields lie in the DeviceStatusRecord.
struct MemberFields {
    const char* name;
    std::size_t state;
    std::size_t model;
    std::size_t serial;
    std::size_t capacity;
    unsigned sataShift;
};

constexpr MemberFields kMembers[2] = {
    {"HDD1", rec::kHdd1State, rec::kHdd1Model, rec::kHdd1Serial, rec::kHdd1Capacity, 0},
    {"HDD2", rec::kHdd2State, rec::kHdd2Model, rec::kHdd2Serial, rec::kHdd2Capacity, 4},
};

std::uint8_t ByteAt(text::Bytes data, std::size_t offset) {
    return offset < data.size() ? data[offset] : 0;
}

std::string Model(text::Bytes record, const MemberFields& m) {
    return text::MemberModelText(text::Field(record, m.model, 40));
}
std::string Serial(text::Bytes record, const MemberFields& m) {
    return text::SerialText(text::Field(record, m.serial, 20));
}
std::string CapacityItemOf(text::Bytes record, const MemberFields& m) {
    return text::CapacityItem(text::Capacity40(text::Field(record, m.capacity, 6)));
}
std::string StateCode(text::Bytes record, const MemberFields& m) {
    return text::StateCodeText(ByteAt(record, m.state));
}
std::string Sata(text::Bytes record, const MemberFields& m) {
    return text::SataText(
        static_cast<std::uint8_t>((ByteAt(record, rec::kSataSpeed) >> m.sataShift) & 0x0F));
}

// Model, serial and capacity lines after `indent`; `modelLabel` carries its
// own blank (or lacks it, as one form of the information block does).
void AppendMemberDetails(std::vector<std::string>& out, text::Bytes record, const MemberFields& m,
                         const std::string& indent, const char* modelLabel) {
    out.push_back(indent + modelLabel + Model(record, m));
    out.push_back(indent + "Serial no.: \"" + Serial(record, m) + "\"");
    out.push_back(indent + "Capacity : " + CapacityItemOf(record, m));
}

std::string DevicePrefix(int deviceIndex) { return "D" + std::to_string(deviceIndex + 1); }

}  // namespace

std::vector<std::string> MemberEventLines(int deviceIndex, int member, MemberEvent event,
                                          text::Bytes record, const std::string& stamp) {
    const MemberFields& m = kMembers[member == 0 ? 0 : 1];
    const std::string head = DevicePrefix(deviceIndex) + " " + m.name;
    std::vector<std::string> out;
    switch (event) {
        case MemberEvent::Removed:
            out.push_back(head + " was removed, " + StateCode(record, m) + stamp);
            break;
        case MemberEvent::Inserted:
            out.push_back(head + " was inserted, " + StateCode(record, m) + stamp);
            break;
        case MemberEvent::Initialized:
            // The HDD2 text carries a comma that the HDD1 text lacks.
            out.push_back(head +
                          (member == 0 ? " was initialized (SATA" : " was initialized, (SATA") +
                          Sata(record, m) + "), " + StateCode(record, m) + stamp);
            AppendMemberDetails(out, record, m, "  ", "Model no.: ");
            break;
        case MemberEvent::Failed:
            out.push_back(head + " was failed, Capacity too small." + StateCode(record, m) + stamp);
            AppendMemberDetails(out, record, m, "  ", "Model no.: ");
            break;
    }
    return out;
}

std::string RebuildProgressLine(int deviceIndex, int direction, std::uint8_t percent,
                                const std::string& stamp) {
    return DevicePrefix(deviceIndex) + (direction == 0 ? " HDD2 --> HDD1 " : " HDD1 --> HDD2 ") +
           std::to_string(percent) + "%, " + stamp;
}

std::string RebuildDoneLine(int deviceIndex, int direction, const std::string& stamp) {
    return DevicePrefix(deviceIndex) + (direction == 0 ? " HDD2 --> HDD1 " : " HDD1 --> HDD2 ") +
           "Done, " + stamp;
}

std::string RebuildOkLine(int deviceIndex, const std::string& stamp) {
    return DevicePrefix(deviceIndex) + " HDD1 OK, HDD2 OK, " + stamp;
}

std::vector<std::string> DeviceInformationBlock(int deviceIndex, text::Bytes identifyRecord,
                                                text::Bytes record) {
    std::vector<std::string> out;
    out.push_back("Device" + std::to_string(deviceIndex + 1) + " information :");
    out.push_back("Model# " + text::ControllerModelText(identifyRecord));
    out.push_back(text::ArrayModeText(ByteAt(record, rec::kArrayMode)) + ", F/W Rev. " +
                  text::FirmwareText(identifyRecord));
    out.push_back("Configured Capacity : " + text::CapacityItem(text::Capacity40(text::Field(
                                                 record, rec::kConfiguredCapacity, 6))));

    const std::uint8_t flags = ByteAt(record, rec::kDiskStateFlags);
    for (int member = 0; member < 2; ++member) {
        const MemberFields& m = kMembers[member];
        const unsigned nibble = (flags >> (member * 4)) & 0x0Fu;
        const std::string name = m.name;
        if (nibble & diskstate::kHdd1Absent) {
            out.push_back("  " + name + " is absent. " + StateCode(record, m));
            // The last known disk is listed only when there was one.
            if (!Serial(record, m).empty()) {
                AppendMemberDetails(out, record, m, "    ",
                                    member == 0 ? "Model no.:" : "Model no.: ");
            }
        } else if (nibble & diskstate::kHdd1Present) {
            out.push_back("  " + name + " is present.(SATA" + Sata(record, m) + ")" +
                          StateCode(record, m));
            AppendMemberDetails(out, record, m, "    ", "Model no.: ");
        } else if (nibble & diskstate::kHdd1Failed) {
            out.push_back("  " + name + " was failed, Unmatched SSD." + StateCode(record, m));
            AppendMemberDetails(out, record, m, "    ", "Model no.: ");
        } else if (nibble & diskstate::kHdd1Inserted) {
            out.push_back(name + " was inserted." + StateCode(record, m));
        }
    }
    return out;
}

LineEvent ClassifyLine(std::string_view line) {
    LineEvent event;
    if (line == kSeparator) {
        event.kind = LineKind::Separator;
        return event;
    }
    if (line.find(" has started from ") != std::string_view::npos) {
        event.kind = LineKind::Started;
        return event;
    }
    // "D<n> " as DevicePrefix writes it; there are at most eight devices.
    if (line.size() < 3 || line[0] != 'D' || !std::isdigit(static_cast<unsigned char>(line[1])) ||
        line[2] != ' ')
        return event;
    event.device = line[1] - '1';
    event.kind = LineKind::OtherEvent;
    const std::string_view rest = line.substr(2);
    // Written by the discovery's device change list, with the stamp appended.
    if (rest.starts_with(" Device was removed.")) {
        event.kind = LineKind::EnclosureRemoved;
    } else if (rest.starts_with(" New Device was found.")) {
        event.kind = LineKind::EnclosureFound;
    } else if (rest.starts_with(" HDD1 OK, HDD2 OK, ")) {
        event.kind = LineKind::RebuildEnded;
    } else if (rest.starts_with(" HDD2 --> HDD1 ") || rest.starts_with(" HDD1 --> HDD2 ")) {
        event.member = rest[4] == '2' ? 0 : 1;
        event.kind = rest.substr(15).starts_with("Done, ") ? LineKind::RebuildDone
                                                           : LineKind::RebuildProgress;
    } else {
        static const std::pair<const char*, LineKind> kMemberEvents[] = {
            {" was removed, ", LineKind::MemberRemoved},
            {" was inserted, ", LineKind::MemberInserted},
            {" was initialized", LineKind::MemberInitialized},
            {" was failed, ", LineKind::MemberFailed}};
        for (int member = 0; member < 2; ++member) {
            const std::string head = std::string(" ") + kMembers[member].name;
            if (!rest.starts_with(head)) continue;
            for (const auto& [text, kind] : kMemberEvents) {
                if (!rest.substr(head.size()).starts_with(text)) continue;
                event.kind = kind;
                event.member = member;
            }
        }
    }
    return event;
}

bool DeservesDesktopNotice(std::string_view line) {
    const LineKind kind = ClassifyLine(line).kind;
    return kind == LineKind::EnclosureRemoved || kind == LineKind::MemberRemoved;
}

}  // namespace raid::eventlog
