#include "mail/mail_event.h"

#include <cstdio>
#include <span>

#include "common/text.h"

namespace raid::mail {
namespace {

using text::Bytes;
using text::Field;

// The revision in the mail keeps six raw bytes in hex when the field is not
// printable, unlike the shorter "100125.1" form on the window.
std::string RevisionText(Bytes identify) {
    const Bytes fw = Field(identify, 46, 8);
    bool printable = fw.size() == 8;
    for (const std::uint8_t b : fw) printable = printable && b >= 0x20;
    if (printable) return text::AtaText(fw);
    std::string out;
    for (std::size_t i = 0; i < 6; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", i < fw.size() ? fw[i] : 0u);
        out += pair;
    }
    return out;
}

struct MemberLayout {
    const char* name;  // "HDD1"
    std::uint8_t inserted, present, absent, failed;
    std::size_t model, serial, capacity;
    unsigned speedShift;  // nibble of the link speed byte
};

constexpr MemberLayout kMembers[] = {
    {"HDD1", diskstate::kHdd1Inserted, diskstate::kHdd1Present, diskstate::kHdd1Absent,
     diskstate::kHdd1Failed, rec::kHdd1Model, rec::kHdd1Serial, rec::kHdd1Capacity, 0},
    {"HDD2", diskstate::kHdd2Inserted, diskstate::kHdd2Present, diskstate::kHdd2Absent,
     diskstate::kHdd2Failed, rec::kHdd2Model, rec::kHdd2Serial, rec::kHdd2Capacity, 4},
};

void AppendMember(std::vector<std::string>& block, Bytes record, const MemberLayout& m,
                  std::uint8_t kind) {
    const std::uint8_t flags = record[rec::kDiskStateFlags];
    const std::string name = m.name;
    if (flags & m.absent) {
        block.push_back("  " + name + " is absent. ");
    } else if (flags & m.present) {
        // A speed code above 3 has no name; it shows as no speed at all.
        const auto speed =
            static_cast<std::uint8_t>((record[rec::kSataSpeed] >> m.speedShift) & 0x0F);
        block.push_back("  " + name + " is present.(SATA" + text::SataText(speed) + ")");
    } else if (flags & m.failed) {
        block.push_back("  " + name + " was failed, Capacity too small.");
    } else if (flags & m.inserted) {
        block.push_back(name + " was inserted.");
    }
    if (kind == kKindDiskFail || (flags & (m.present | m.failed)) != 0) {
        block.push_back("    Model no.: " + text::MemberModelText(Field(record, m.model, 40)));
        block.push_back("    Serial no.: \"" + text::SerialText(Field(record, m.serial, 20)) +
                        "\"");
        block.push_back("    Capacity : " +
                        text::CapacityItem(text::Capacity40(Field(record, m.capacity, 5))));
    }
}

void AppendDeviceBlock(std::vector<std::string>& block, const AppState& app, std::uint8_t kind,
                       std::uint8_t deviceIndex, std::uint8_t value) {
    const DiscoveryState& d = app.discovery;
    if (d.deviceCount <= 0 || deviceIndex >= d.deviceCount || deviceIndex >= kDeviceTableSize) {
        return;
    }
    const int disk = d.DiskOf(deviceIndex);
    if (disk >= kMaxDisks) return;  // a damaged table entry names no record
    const Record512& identifyRecord = d.identifyRecord[static_cast<std::size_t>(disk)];
    const Record512& statusRecord = app.monitor.deviceStatusRecord[static_cast<std::size_t>(disk)];
    const Bytes identify(identifyRecord);
    const Bytes record(statusRecord);
    const std::string n = std::to_string(deviceIndex + 1);

    if (kind == kKindDiskFail) {
        block.push_back("Device" + n + " P" + std::to_string(value) + " Hard Disk Drive fail.");
    } else if (kind == kKindDeviceRemoved) {
        block.push_back("Device" + n + " RAID system fail.");
    }
    block.push_back("Device" + n + " information :");
    block.push_back("Model# " + text::ControllerModelText(identify));
    block.push_back(text::ArrayModeText(record[rec::kArrayMode]) + ", F/W Rev. " +
                    RevisionText(identify));
    block.push_back("Configured Capacity : " + text::CapacityItem(text::Capacity40(
                                                   Field(record, rec::kConfiguredCapacity, 5))));
    for (const auto& member : kMembers) AppendMember(block, record, member, kind);
}

}  // namespace

void RaiseMailEvent(AppState& app, MailState& mail, const NotificationSettings& settings,
                    std::uint8_t kind, std::uint8_t deviceIndex, std::uint8_t value) {
    // Only devices that show the E-mail page send mail; the per-device table
    // has no entry (hence no page) beyond its slots.
    if (deviceIndex >= kDeviceSlots) return;
    if ((app.discovery.deviceSlots[deviceIndex].featureMask & kFeatureEmail) == 0) return;

    mail.eventInfoBlock.clear();
    if (kind >= 1 && kind <= 32 && (settings.suppressMask >> (kind - 1)) & 1u) return;

    AppendDeviceBlock(mail.eventInfoBlock, app, kind, deviceIndex, value);
    mail.mailEventKind = kind;
    if (mail.pending.size() < kMaxPendingNotifications) {
        mail.pending.push_back({kind, mail.eventInfoBlock});
    } else {
        ++mail.droppedNotifications;
    }
    app.shell.mailRequestFlags.fetch_or(kRequestSend);
}

}  // namespace raid::mail
