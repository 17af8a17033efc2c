#pragma once
// Texts shown and logged for devices and members: ATA strings, capacities,
// firmware revisions, mode and state codes, durations and time stamps.
// Pure functions over byte spans; a field that lies (partly) outside its
// span reads as zero bytes, so damaged or short records never fault.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace raid::text {

using Bytes = std::span<const std::uint8_t>;
using TimePoint = std::chrono::system_clock::time_point;

// Bytes [offset, offset + width) of `data`, clipped to what `data` holds.
Bytes Field(Bytes data, std::size_t offset, std::size_t width);

// An ATA string: character k is byte k XOR 1 of the field (the two bytes of
// every 16-bit word swapped back), ending at the first zero.
// "0x1F": one byte as raidctl and the service's notes show it.
std::string HexByte(std::uint8_t value);

std::string AtaText(Bytes field);

// ATA text with trailing blanks removed, never below six characters.
std::string TrimmedModelText(Bytes field);

// Model of a member disk from its 40 model bytes (record bytes 256 or 302).
std::string MemberModelText(Bytes modelField);

// Model of the controller from an IdentifyRecord (bytes 54..93).
std::string ControllerModelText(Bytes identifyRecord);

// Serial number of a member disk from its 20 serial bytes; not trimmed.
std::string SerialText(Bytes serialField);

// The low five bytes of a little-endian capacity field (a 40-bit number).
std::uint64_t Capacity40(Bytes capacityField);

// "976 MB" below 2,097,152 sectors (sectors / 2048), else "465 GB"
// (sectors / 2,097,152); both truncated.
std::string CapacityText(std::uint64_t sectors);

// Capacity text followed by the sector count: "465 GB(976773168 Sectors)".
std::string CapacityItem(std::uint64_t sectors);

// Firmware revision of a device from its IdentifyRecord: bytes 46..53
// pair-swapped when all are printable (0x20 or above), else bytes 46, 47, 48
// as hex pairs, "." and the low nibble of byte 49 ("100125.1").
std::string FirmwareText(Bytes identifyRecord);

// "Striping(RAID0)", "Mirroring(RAID1)", "NRAID", "JBOD", "Bypass" (63) or
// "Undefine" for any other array mode code.
std::string ArrayModeText(std::uint8_t modeCode);

// A raw member state code as two upper-case hex digits ("04").
std::string StateCodeText(std::uint8_t stateCode);

// SATA link speed by index: "", "1.5G", "3G", "6G"; "" above 3.
std::string SataText(std::uint8_t speedIndex);

// A period of `period` units of `unitHours` hours: "30 hours", "1 hour",
// "2 days", "1 day", and "0 day" for zero.
std::string DurationText(std::uint32_t period, std::uint32_t unitHours);

// Turns a wall-clock time into the date-time text "c" (short date, a blank,
// long time). Injectable so that tests and headless tools fix the rendering.
using DateTimeFormatter = std::function<std::string(TimePoint)>;

// Local time rendered with the user's locale (the environment's LC_TIME,
// through std::locale("")) as strftime "%x %X"; the C locale gives
// "03/15/24 12:00:00". Falls back to the C locale when the environment names
// a locale that is not installed.
DateTimeFormatter LocaleDateTimeFormatter();

// Local time rendered with a fixed strftime pattern in the C locale, for
// example "%d/%m/%Y %H:%M:%S".
DateTimeFormatter PatternDateTimeFormatter(std::string pattern);

// The "yymmdd" date of the local day of `t` (the day's log file name).
std::string FileDateText(TimePoint t);

}  // namespace raid::text
