#include "smart/attributes.h"

#include <algorithm>
#include <cstdio>

#include "smart/smart_state.h"

namespace raid::smart {
namespace {

struct NameRow {
    std::uint8_t id;
    const char* name;
};

// Ids 232, 233 and 240 appear twice; lookups take the first row, so the
// second of each pair is never shown.
constexpr NameRow kNameTable[] = {
    {1, "Raw read error rate"},
    {2, "Throughput performance"},
    {3, "Spinup time"},
    {4, "Start/Stop count"},
    {5, "Reallocated sector count"},
    {6, "Read channel margin"},
    {7, "Seek error rate"},
    {8, "Seek timer performance"},
    {9, "Power-on hours count"},
    {10, "Spinup retry count"},
    {11, "Calibration retry count"},
    {12, "Power cycle count"},
    {13, "Soft read error rate"},
    {180, "Unused Reserved Block Count Total"},
    {183, "SATA Downshift Error Count"},
    {184, "End-to-End error / IOEDC"},
    {185, "Head Stability"},
    {186, "Induced Op-Vibration Detection"},
    {187, "Reported Uncorrectable Errors"},
    {188, "Command Timeout"},
    {189, "High Fly Writes"},
    {190, "Airflow Temperature"},
    {191, "G-sense error rate"},
    {192, "Power-off retract count"},
    {193, "Load/Unload cycle count"},
    {194, "Temperature"},
    {195, "Hardware ECC recovered"},
    {196, "Reallocation Event count"},
    {197, "Current pending sector count"},
    {198, "Offline scan uncorrectable count"},
    {199, "UDMA CRC error rate"},
    {200, "Multi-Zone Error Rate"},
    {201, "Soft Read Error Rate"},
    {202, "Data Address Mark errors"},
    {203, "Run Out Cancel"},
    {204, "Soft ECC Correction"},
    {205, "Thermal Asperity Rate (TAR)"},
    {206, "Flying Height"},
    {207, "Spin High Current"},
    {208, "Spin Buzz"},
    {209, "Offline Seek Performance"},
    {211, "Vibration During Write"},
    {212, "Shock During Write"},
    {220, "Disk Shift"},
    {221, "G-Sense Error Rate"},
    {222, "Loaded Hours"},
    {223, "Load/Unload Retry Count"},
    {224, "Load Friction"},
    {225, "Load/Unload Cycle Count"},
    {226, "Load 'In'-time"},
    {227, "Torque Amplification Count"},
    {228, "Power-Off Retract Cycle"},
    {230, "GMR Head Amplitude"},
    {231, "Drive temperature"},
    {232, "Endurance Remaining"},
    {232, "Available Reserved Space"},
    {233, "Power-On Hours"},
    {233, "Media Wearout Indicator"},
    {240, "Head Flying Hours"},
    {240, "Transfer Error Rate"},
    {241, "Total LBAs Written"},
    {242, "Total LBAs Read"},
    {250, "Read Error Retry Rate"},
    {254, "Free Fall Protection"},
};
static_assert(std::size(kNameTable) == 64);

// Entry byte positions.
constexpr std::size_t kEntryCurrent = 3;
constexpr std::size_t kEntryWorst = 4;
constexpr std::size_t kEntryRaw = 5;  // 6 bytes, least significant first
constexpr std::size_t kEntryThreshold = 1;

std::uint8_t ByteAt(Bytes block, std::size_t offset) {
    return offset < block.size() ? block[offset] : 0;
}

std::string Hex(const char* format, std::uint64_t value) {
    char buf[24];
    std::snprintf(buf, sizeof buf, format, static_cast<unsigned long long>(value));
    return buf;
}

}  // namespace

Attribute AttributeAt(Bytes data, Bytes thresholds, int index) {
    Attribute a;
    if (index < 0 || index >= kAttributeEntries) return a;
    const std::size_t base = kFirstEntryOffset + static_cast<std::size_t>(index) * kEntrySize;
    a.id = ByteAt(data, base);
    a.current = ByteAt(data, base + kEntryCurrent);
    a.worst = ByteAt(data, base + kEntryWorst);
    for (std::size_t k = 6; k-- > 0;) a.raw = (a.raw << 8) | ByteAt(data, base + kEntryRaw + k);
    if (a.id == 0) return a;
    // Disks keep both lists in the same order, but nothing obliges them to:
    // a threshold belongs to the attribute with its id, never to a neighbour.
    if (ByteAt(thresholds, base) == a.id) {
        a.threshold = ByteAt(thresholds, base + kEntryThreshold);
        return a;
    }
    for (int k = 0; k < kAttributeEntries; ++k) {
        const std::size_t at = kFirstEntryOffset + static_cast<std::size_t>(k) * kEntrySize;
        if (ByteAt(thresholds, at) == a.id) {
            a.threshold = ByteAt(thresholds, at + kEntryThreshold);
            break;
        }
    }
    return a;
}

bool BelowThreshold(const Attribute& a) { return a.threshold && a.worst < *a.threshold; }

std::string ThresholdText(const Attribute& a) {
    return a.threshold ? std::to_string(*a.threshold) : std::string();
}

std::uint8_t AttributeStatus(const Attribute& a) {
    const bool belowThreshold = BelowThreshold(a);
    const bool counted = a.raw != 0;
    switch (a.id) {
        case 5:
            return belowThreshold ? kStatusError : counted ? kStatusCountAlert : kStatusGood;
        case 7:
        case 8:
            return belowThreshold ? kStatusError : kStatusGood;
        case 10:
            return belowThreshold ? kStatusError : counted ? kStatusWarningAlert : kStatusGood;
        case 11:
            return counted ? kStatusWarningAlert : kStatusGood;
        case 190:
            return belowThreshold ? kStatusWarningAlert : kStatusGood;
        case 196:
        case 198:
        case 199:
            return counted ? kStatusCountAlert : kStatusGood;
        case 197:
            return counted ? kStatusPendingAlert : kStatusGood;
        default:
            return kStatusGood;
    }
}

const char* AttributeName(std::uint8_t id) {
    for (const NameRow& row : kNameTable)
        if (row.id == id) return row.name;
    return nullptr;
}

std::string AttributeLabel(std::uint8_t id) {
    const char* name = AttributeName(id);
    return name != nullptr ? Hex("%02llX-", id) + name : Hex("%02llXh-UnKnown", id);
}

std::string RawText(std::uint64_t raw) { return Hex("%012llX", raw & 0xFFFFFFFFFFFFull); }

const char* StatusText(std::uint8_t status) {
    return status == kStatusError ? "Error" : status != kStatusGood ? "Alert" : "Good";
}

Rgb StatusColour(std::uint8_t status) {
    return status == kStatusError ? kRed : status != kStatusGood ? kYellow : kWhite;
}

Verdict OverallVerdict(std::uint8_t overall) {
    if ((overall & kStatusError) != 0) return {" Error ", kRed};
    if (overall < 2) return {" Good ", kBlack};
    return {" Warning ", kMaroon};
}

FourKLine FourKSectorLine(std::uint32_t w) {
    if ((w & kWord106EchoMark) != 0)
        return {" 4K Sector supported : Unknown ", Hex("Code=0x%llX", w & 0xFFFF)};
    if (w == 0x6003) return {" 4K Sector supported : Yes ", Hex("WORD[106]=0x%04llX", w)};
    if ((w & 0x8000) != 0) return {" 4K Sector supported : Unknown ", Hex("Code=0x%llX", w)};
    return {" 4K Sector supported : No ", Hex("WORD[106]=0x%llX", w)};
}

std::string SmartHeading(const std::string& bayCaption, const std::string& modelText) {
    return " SMART - " + bayCaption + " : " + modelText;
}

SmartView BuildSmartView(Bytes data, Bytes thresholds, std::uint32_t word106Code) {
    SmartView view;
    int rowCount = 0;
    while (rowCount < kAttributeEntries && AttributeAt(data, thresholds, rowCount).id != 0)
        ++rowCount;
    if (rowCount == 0) return view;

    // Two passes over each entry: the first adds the counting alerts (so two
    // of them make a warning) until an error is seen, the second keeps the
    // largest status of an attribute the name table knows.
    std::uint8_t overall = 0;
    for (int i = 0; i < kAttributeEntries; ++i) {
        const Attribute a = AttributeAt(data, thresholds, i);
        if (a.id == 0) continue;
        SmartRow row = RowOf(a, AttributeStatus(a));
        std::uint8_t counted = row.status;
        if ((overall & kStatusError) == 0) {
            if (counted == kStatusError)
                overall = kStatusError;
            else if (counted == kStatusCountAlert || counted == kStatusPendingAlert)
                // Alerts add up to a warning, never to the error bit.
                overall =
                    static_cast<std::uint8_t>(std::min<int>(overall + counted, kStatusError - 1));
        }
        if (AttributeName(a.id) == nullptr) counted = kStatusGood;
        if (overall < counted) overall = counted;
        if (i < rowCount) view.rows.push_back(std::move(row));
    }
    return ViewOf(std::move(view.rows), overall, word106Code);
}

SmartRow RowOf(const Attribute& a, std::uint8_t status) {
    SmartRow row;
    row.attribute = a;
    row.status = status;
    row.colour = StatusColour(status);
    row.cells = {AttributeLabel(a.id),    std::to_string(a.current),
                 std::to_string(a.worst), ThresholdText(a),
                 RawText(a.raw),          StatusText(status)};
    if (status == kStatusGood) return row;
    if (BelowThreshold(a))
        row.reason = "worst value " + std::to_string(a.worst) + " is below the threshold " +
                     ThresholdText(a);
    else
        row.reason = "raw count " + std::to_string(a.raw) + " is not zero";
    return row;
}

SmartView ViewOf(std::vector<SmartRow> rows, std::uint8_t overall, std::uint32_t word106Code) {
    SmartView view;
    view.rows = std::move(rows);
    if (view.rows.empty()) return view;
    view.overall = overall;
    view.verdict = OverallVerdict(overall);
    view.fourK = FourKSectorLine(word106Code);
    return view;
}

std::optional<std::string> SelectedCellText(const std::vector<SmartRow>& rows, int row,
                                            int column) {
    if (row < 0 || static_cast<std::size_t>(row) >= rows.size()) return std::nullopt;
    const SmartRow& r = rows[static_cast<std::size_t>(row)];
    if (column == kNameColumn) return r.cells[kNameColumn];
    if (column == kRawColumn) return RawText(r.attribute.raw);
    return std::nullopt;
}

}  // namespace raid::smart
