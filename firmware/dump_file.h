#pragma once
// Saving a memory buffer for diagnosis to a new numbered file, never over
// an existing one: "dSMART00.bin", then "dSMART01.bin" ... "dSMART0Z.bin".
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "firmware/upgrade_host.h"

namespace raid::firmware {

// The name after `name` in its series: the eighth character (the one
// before ".bin") steps '0'..'8' up by one, '9' to 'A', 'A'..'Y' and
// 'a'..'y' up by one. None at 'Z' or 'z' (the series is used up) and for a
// name whose eighth character is none of these.
std::optional<std::string> NextDumpName(const std::string& name);

// Writes `bytes` to `folder` / the first free name of `baseName`'s series,
// pumping between tries. Says "Svae File OK :" + path on the status line;
// with the series used up "Create File Error" + the last path tried; a file
// that cannot be created shows "Fail to create file" (caption
// "GetSPIFWInfo:"). True when saved.
bool SaveDumpFile(const std::filesystem::path& folder, const std::string& baseName,
                  std::span<const std::uint8_t> bytes, UpgradeHost& host);

// The SMART dump: the data buffer as "dSMART00.bin", then the threshold
// buffer as "sSMART00.bin", each with its own series.
void SaveSmartDumps(const std::filesystem::path& folder, std::span<const std::uint8_t> data,
                    std::span<const std::uint8_t> thresholds, UpgradeHost& host);

}  // namespace raid::firmware
