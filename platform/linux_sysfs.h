#pragma once
// Reading the small text files of sysfs and /proc. Every value comes from
// outside the program and may vanish at any moment (a disk is unplugged), so
// each reader says "absent" rather than failing hard.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace raid::platform {

// The first `maxBytes` of a text file with trailing white space removed;
// nullopt when it cannot be read.
std::optional<std::string> ReadAttribute(const std::string& path, std::size_t maxBytes = 4096);

// A whole file (up to `maxBytes`); nullopt when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes = 1 << 20);

// A decimal number that is the whole of `text` (no sign, no blanks).
std::optional<std::uint64_t> ParseUnsigned(std::string_view text);

bool PathExists(const std::string& path);

// Undoes the octal escapes (\040 blank, \011 tab, \012 line feed, \134
// backslash) that the kernel puts into fields of /proc/self/mounts. A
// backslash not followed by three octal digits stays as it is.
std::string DecodeMountField(std::string_view field);

struct MountEntry {
    std::string device;
    std::string mountPoint;
};

// The device and mount point fields of each well-formed line of a mounts
// table, in file order.
std::vector<MountEntry> ParseMounts(std::string_view text);

}  // namespace raid::platform
