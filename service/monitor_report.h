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
    // EnclosureIdentity(), and the bridge's serial and port as the platform
    // read them (empty when unknown).
    std::string identity;
    std::string serial;
    std::string port;
    std::array<SmartVerdict, 2> smart{SmartVerdict::Unknown, SmartVerdict::Unknown};
    // Polls it did not answer since the monitor started.
    std::uint64_t pollFailures = 0;
    // Its firmware is being rewritten: not polled meanwhile, yet there.
    bool flashing = false;
};

struct MonitorReport {
    std::vector<MonitoredEnclosure> enclosures;
    // When the last poll ended (one with nothing to poll counts); unset
    // before the first.
    std::optional<TimePoint> lastPollEnd;
};

// A member absent or failed; a rebuild running on either member.
bool MemberDown(const MemberStatus& m);
bool Rebuilding(const DeviceStatus& s);

unsigned HealthMask(const MonitorReport& report);

// One line per health bit that is set, for the end of `--once`.
std::vector<std::string> HealthTexts(unsigned mask);

// An answering enclosure's array as a whole: "healthy", "rebuilding" (a
// member being rebuilt), "degraded" (a member absent or failed, the data
// still readable: a mirror, or bypass with its separate disks) or "failed"
// (no member left, or one lost from a stripe or a span).
const char* ArrayState(const DeviceStatus& status);

// The whole textfile: every metric with its # HELP and # TYPE lines; label
// values escaped as the exposition format wants. Series are labelled by
// `enclosure` (the identity), `slot` and the member disk's `serial`; device
// paths and Device numbers appear only on the info series. States are one
// series per state, 1 for the current one. An enclosure that did not answer
// has only its info, up and failure series, one being flashed only its info;
// before the first poll there are only the count and the info series.
std::string MetricsText(const MonitorReport& report);

}  // namespace raid::service
