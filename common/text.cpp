#include "common/text.h"

#include <time.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <iomanip>
#include <locale>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace raid::text {

std::string HexByte(std::uint8_t value) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    return std::string("0x") + kDigits[value >> 4] + kDigits[value & 0xF];
}

namespace {

constexpr std::size_t kModelMinLength = 6;

std::tm LocalTm(TimePoint t) {
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&secs, &tm);
    return tm;
}

std::string Render(const std::tm& tm, const std::locale& loc, const char* pattern) {
    std::ostringstream out;
    out.imbue(loc);
    out << std::put_time(&tm, pattern);
    return out.str();
}

std::locale UserLocale() {
    try {
        return std::locale("");
    } catch (const std::runtime_error&) {
        return std::locale::classic();
    }
}

}  // namespace

Bytes Field(Bytes data, std::size_t offset, std::size_t width) {
    if (offset >= data.size()) return {};
    return data.subspan(offset, std::min(width, data.size() - offset));
}

std::string AtaText(Bytes field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t k = 0; k < field.size(); ++k) {
        const std::size_t from = k ^ 1u;
        // An odd-sized field has no partner for its last byte: read as zero.
        const std::uint8_t c = from < field.size() ? field[from] : 0;
        if (c == 0) break;
        out.push_back(static_cast<char>(c));
    }
    return out;
}

std::string TrimmedModelText(Bytes field) {
    std::string s = AtaText(field);
    while (s.size() > kModelMinLength && s.back() == ' ') s.pop_back();
    return s;
}

std::string MemberModelText(Bytes modelField) { return TrimmedModelText(Field(modelField, 0, 40)); }

std::string ControllerModelText(Bytes identifyRecord) {
    return TrimmedModelText(Field(identifyRecord, 54, 40));
}

std::string SerialText(Bytes serialField) { return AtaText(Field(serialField, 0, 20)); }

std::uint64_t Capacity40(Bytes capacityField) {
    const Bytes f = Field(capacityField, 0, 5);
    std::uint64_t v = 0;
    for (std::size_t i = f.size(); i-- > 0;) v = (v << 8) | f[i];
    return v;
}

std::string CapacityText(std::uint64_t sectors) {
    constexpr std::uint64_t kGigabyteSectors = 2097152;  // 2^21 sectors = 1 GiB
    if (sectors < kGigabyteSectors) return std::to_string(sectors / 2048) + " MB";
    return std::to_string(sectors / kGigabyteSectors) + " GB";
}

std::string CapacityItem(std::uint64_t sectors) {
    return CapacityText(sectors) + "(" + std::to_string(sectors) + " Sectors)";
}

std::string FirmwareText(Bytes identifyRecord) {
    const Bytes fw = Field(identifyRecord, 46, 8);
    bool printable = fw.size() == 8;
    for (const std::uint8_t b : fw) printable = printable && b >= 0x20;
    if (printable) return AtaText(fw);
    auto at = [&](std::size_t i) -> unsigned { return i < fw.size() ? fw[i] : 0u; };
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02X%02X%02X.%X", at(0), at(1), at(2), at(3) & 0x0Fu);
    return buf;
}

std::string ArrayModeText(std::uint8_t modeCode) {
    static constexpr std::array<const char*, 4> kModes = {"Striping(RAID0)", "Mirroring(RAID1)",
                                                          "NRAID", "JBOD"};
    if (modeCode < kModes.size()) return kModes[modeCode];
    if (modeCode == 63) return "Bypass";
    return "Undefine";
}

std::string StateCodeText(std::uint8_t stateCode) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(stateCode));
    return buf;
}

std::string SataText(std::uint8_t speedIndex) {
    static constexpr std::array<const char*, 4> kSpeeds = {"", "1.5G", "3G", "6G"};
    return speedIndex < kSpeeds.size() ? kSpeeds[speedIndex] : "";
}

std::string DurationText(std::uint32_t period, std::uint32_t unitHours) {
    const std::uint64_t hours = std::uint64_t{period} * unitHours;
    if (hours % 24 != 0) return std::to_string(hours) + (hours > 1 ? " hours" : " hour");
    const std::uint64_t days = hours / 24;
    return std::to_string(days) + (days > 1 ? " days" : " day");
}

DateTimeFormatter LocaleDateTimeFormatter() {
    return [loc = UserLocale()](TimePoint t) { return Render(LocalTm(t), loc, "%x %X"); };
}

DateTimeFormatter PatternDateTimeFormatter(std::string pattern) {
    return [p = std::move(pattern)](TimePoint t) {
        return Render(LocalTm(t), std::locale::classic(), p.c_str());
    };
}

std::string FileDateText(TimePoint t) {
    return Render(LocalTm(t), std::locale::classic(), "%y%m%d");
}

}  // namespace raid::text
