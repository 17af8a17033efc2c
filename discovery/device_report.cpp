#include "discovery/device_report.h"

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <ostream>

#include "common/text.h"
#include "discovery/drive_enum.h"

namespace raid::discovery {
namespace {

char Printable(std::uint8_t c) { return c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.'; }

// Texts go to terminals and JSON: control and high bytes become '.', and the
// blanks around them are dropped.
std::string ForTerminal(const std::string& raw) {
    auto blank = [](char c) { return c == ' ' || c == '\0'; };
    const auto first = std::find_if_not(raw.begin(), raw.end(), blank);
    const auto last = std::find_if_not(raw.rbegin(), raw.rend(), blank).base();
    std::string text;
    for (auto it = first; it < last; ++it)
        text.push_back(Printable(static_cast<std::uint8_t>(*it)));
    return text;
}

std::string DeviceName(int index) { return "Device" + std::to_string(index + 1); }

const char* ControllerName(std::uint8_t portMultiplier) {
    return portMultiplier != 0 ? "port-multiplier" : "raid-bridge";
}

std::string Hex2(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFFu);
    return buf;
}

std::string Join(const std::vector<std::string>& items, const char* sep) {
    std::string out;
    for (const auto& s : items) {
        if (!out.empty()) out += sep;
        out += s;
    }
    return out;
}

}  // namespace

std::string ModelText(const Record512& identify) {
    return ForTerminal(text::ControllerModelText(identify));
}

std::string FirmwareText(const Record512& identify) {
    return ForTerminal(text::FirmwareText(identify));
}

std::vector<DeviceRow> BuildDeviceReport(const DiscoveryState& d,
                                         const std::vector<platform::DiskInfo>& disks) {
    std::vector<DeviceRow> rows;
    const int count = std::clamp(d.deviceCount, 0, kDeviceTableSize);
    for (int i = 0; i < count; ++i) {
        DeviceRow row;
        row.device = i;
        row.disk = d.DiskOf(i);
        for (const auto& info : disks)
            if (info.number == row.disk) row.devicePath = info.devicePath;
        if (row.disk < kMaxDisks) {
            const auto& identify = d.identifyRecord[static_cast<std::size_t>(row.disk)];
            row.model = ModelText(identify);
            row.firmware = FirmwareText(identify);
        }
        if (i < kDeviceSlots) {
            const auto& slot = d.deviceSlots[static_cast<std::size_t>(i)];
            row.portMultiplier = slot.portMultiplier;
            row.featureMask = slot.featureMask;
        }
        for (const auto& v : d.volumeTable)
            if (v.driveType != platform::kDriveOpenFailed && v.diskNumber == row.disk)
                row.driveLetters.push_back(v.label);
        rows.push_back(std::move(row));
    }
    return rows;
}

void PrintDeviceReportText(const std::vector<DeviceRow>& rows, std::ostream& out) {
    if (rows.empty()) {
        out << "No Drive found! \n";
        return;
    }
    out << std::left << std::setw(9) << "Device" << std::setw(6) << "Disk" << std::setw(14)
        << "Path" << std::setw(42) << "Model" << std::setw(10) << "Firmware" << std::setw(17)
        << "Controller" << std::setw(10) << "Features"
        << "Drives\n";
    for (const auto& r : rows) {
        out << std::left << std::setw(9) << DeviceName(r.device) << std::setw(6) << r.disk
            << std::setw(14) << (r.devicePath.empty() ? "-" : r.devicePath) << std::setw(42)
            << r.model << std::setw(10) << r.firmware << std::setw(17)
            << ControllerName(r.portMultiplier) << std::setw(10) << Hex2(r.featureMask)
            << Join(r.driveLetters, ", ") << "\n";
    }
}

std::string DiskText(int number, const std::vector<platform::DiskInfo>& list) {
    std::string text = "disk " + std::to_string(number);
    for (const auto& d : list) {
        if (d.number == number) return text + " (" + d.devicePath + ")";
    }
    return text;
}

}  // namespace raid::discovery
