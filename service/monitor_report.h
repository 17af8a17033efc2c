#pragma once
// What `raidctl monitor` tells about the enclosures after a poll: the health
// bit mask of `--once` (in the manner of smartctl's exit status) and the
// node_exporter textfile of `--metrics`.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "service/enclosure_status.h"

namespace raid::service {

// The health bits; 0 means every monitored enclosure is healthy.
namespace health {
inline constexpr unsigned kNoEnclosure = 1;  // no enclosure found
inline constexpr unsigned kMemberDown = 2;   // a member absent or failed
inline constexpr unsigned kRebuilding = 4;   // a rebuild running
inline constexpr unsigned kNoAnswer = 8;     // a controller did not answer
inline constexpr unsigned kSmartError = 16;  // a SMART verdict "Error"
}  // namespace health

// A member disk's SMART verdict as the SMART page words it.
enum class SmartVerdict { Unknown, Good, Warning, Error };

struct MonitoredEnclosure {
    DeviceStatus status;  // status.polled: Device1 or Device2
    std::array<SmartVerdict, 2> smart{SmartVerdict::Unknown, SmartVerdict::Unknown};
    // Polls it did not answer since the monitor started.
    std::uint64_t pollFailures = 0;
};

struct MonitorReport {
    std::vector<MonitoredEnclosure> enclosures;
};

unsigned HealthMask(const MonitorReport& report);

// One line per health bit that is set, for the end of `--once`.
std::vector<std::string> HealthTexts(unsigned mask);

// The whole textfile: every metric with its # HELP and # TYPE lines; label
// values escaped as the exposition format wants.
std::string MetricsText(const MonitorReport& report);

}  // namespace raid::service
