#include "platform/disk_origin.h"

#include <climits>
#include <cstdlib>
#include <filesystem>

#include "platform/linux_sysfs.h"

namespace raid::platform {
namespace {

namespace fs = std::filesystem;

std::string Canonical(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? resolved : "";
}

// Printable ASCII without the blanks around it; empty when anything else is
// in it (a serial that is binary junk identifies nothing reliably).
std::string CleanSerial(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\0')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.remove_suffix(1);
    for (const char c : text)
        if (c < 0x21 || c > 0x7E) return {};
    return std::string(text);
}

// Page 0x80 as the kernel stores it: a 4-byte header with the length at
// bytes 2..3, then the serial.
std::string UnitSerial(const std::string& deviceDir) {
    const auto page = ReadWholeFile(deviceDir + "/vpd_pg80", 260);
    if (!page || page->size() < 4 || static_cast<unsigned char>((*page)[1]) != 0x80) return {};
    const std::size_t length =
        static_cast<unsigned char>((*page)[2]) * 256u + static_cast<unsigned char>((*page)[3]);
    return CleanSerial(std::string_view(*page).substr(4, length));
}

}  // namespace

DiskOrigin ReadDiskOrigin(const std::string& sysRoot, const std::string& name) {
    DiskOrigin origin;
    const std::string deviceDir = sysRoot + "/block/" + name + "/device";
    const std::string devices = Canonical(sysRoot + "/devices");
    const std::string device = Canonical(deviceDir);
    if (devices.empty() || device.empty()) return origin;
    // Up from the SCSI device to the USB device (the first with idVendor:
    // interfaces have none) or the ATA port, never out of sysfs.
    for (fs::path p = device; p.string().size() > devices.size(); p = p.parent_path()) {
        const std::string dir = p.string();
        const std::string leaf = p.filename().string();
        if (PathExists(dir + "/idVendor")) {
            origin.serial = CleanSerial(ReadAttribute(dir + "/serial", 256).value_or(""));
            origin.port = "usb-" + leaf;
            break;
        }
        if (leaf.size() > 3 && leaf.starts_with("ata") &&
            leaf.find_first_not_of("0123456789", 3) == std::string::npos) {
            origin.port = leaf;
            break;
        }
    }
    if (origin.serial.empty()) origin.serial = UnitSerial(deviceDir);
    return origin;
}

}  // namespace raid::platform
