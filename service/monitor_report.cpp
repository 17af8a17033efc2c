#include "service/monitor_report.h"

#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <sstream>
#include <string_view>

#include "common/text.h"

namespace raid::service {
namespace {

// Backslash, double quote and line feed are the characters a label value
// must escape.
std::string LabelValue(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '"') {
            out += "\\\"";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string DeviceName(const DeviceStatus& s) { return "Device" + std::to_string(s.index + 1); }

constexpr std::uint8_t kModeMirroring = 1;
constexpr std::uint8_t kModeBypass = 63;

const char* VerdictName(SmartVerdict v) {
    switch (v) {
        case SmartVerdict::Good:
            return "good";
        case SmartVerdict::Warning:
            return "warning";
        case SmartVerdict::Error:
            return "error";
        case SmartVerdict::Unknown:
            break;
    }
    return "unknown";
}

// Seconds since the epoch to the millisecond, never in the exponent form a
// stream would choose for so large a number.
std::string EpochSeconds(TimePoint t) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld.%03lld", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    return buf;
}

using Labels = std::vector<std::pair<const char*, std::string>>;

class MetricsWriter {
public:
    void Family(const char* name, const char* type, const char* help) {
        name_ = name;
        out_ << "# HELP " << name << " " << help << "\n# TYPE " << name << " " << type << "\n";
    }
    template <typename Value>
    void Sample(const Labels& labels, Value value) {
        out_ << name_;
        if (!labels.empty()) {
            out_ << "{";
            for (std::size_t i = 0; i < labels.size(); ++i)
                out_ << (i ? "," : "") << labels[i].first << "=\"" << LabelValue(labels[i].second)
                     << "\"";
            out_ << "}";
        }
        out_ << " " << value << "\n";
    }
    std::string Text() const { return out_.str(); }

private:
    std::ostringstream out_;
    const char* name_ = "";
};

}  // namespace

bool MemberDown(const MemberStatus& m) {
    return m.stateClass == "absent" || m.stateClass == "failed";
}

bool Rebuilding(const DeviceStatus& s) {
    return s.members[0].rebuilding || s.members[1].rebuilding;
}

unsigned HealthMask(const MonitorReport& report) {
    unsigned mask = 0;
    bool any = false;
    for (const MonitoredEnclosure& e : report.enclosures) {
        const DeviceStatus& s = e.status;
        if (!s.polled) continue;
        any = true;
        if (!s.pollOk) {
            // What it said last is stale; only the silence is known.
            mask |= health::kNoAnswer;
            continue;
        }
        if (MemberDown(s.members[0]) || MemberDown(s.members[1])) mask |= health::kMemberDown;
        if (Rebuilding(s)) mask |= health::kRebuilding;
        for (const SmartVerdict v : e.smart)
            if (v == SmartVerdict::Error) mask |= health::kSmartError;
    }
    if (!any) mask |= health::kNoEnclosure;
    return mask;
}

std::vector<std::string> HealthTexts(unsigned mask) {
    static const std::pair<unsigned, const char*> kTexts[] = {
        {health::kNoEnclosure, "no enclosure found"},
        {health::kMemberDown, "a member disk is absent or failed"},
        {health::kRebuilding, "a rebuild is running"},
        {health::kNoAnswer, "a controller did not answer"},
        {health::kSmartError, "a member disk's SMART verdict is Error"},
    };
    std::vector<std::string> texts;
    for (const auto& [bit, text] : kTexts)
        if ((mask & bit) != 0) texts.push_back(std::to_string(bit) + ": " + text);
    return texts;
}

const char* ArrayState(const DeviceStatus& s) {
    if (Rebuilding(s)) return "rebuilding";
    int up = 0;
    for (const MemberStatus& m : s.members) up += m.stateClass == "present" ? 1 : 0;
    if (up == 2) return "healthy";
    if (up == 1 && (s.arrayMode == kModeMirroring || s.arrayMode == kModeBypass)) return "degraded";
    return "failed";
}

std::string MetricsText(const MonitorReport& report) {
    MetricsWriter w;
    std::vector<const MonitoredEnclosure*> known, polled;
    for (const MonitoredEnclosure& e : report.enclosures) {
        if (e.status.polled || e.flashing) known.push_back(&e);
        if (e.status.polled) polled.push_back(&e);
    }
    const auto of = [](const MonitoredEnclosure* e) { return Labels{{"enclosure", e->identity}}; };
    const auto member = [](const MonitoredEnclosure* e, const MemberStatus& m) {
        return Labels{{"enclosure", e->identity}, {"slot", m.name}, {"serial", m.serial}};
    };
    // The node_systemd_unit_state pattern: every state a series, the
    // current one 1, so that PromQL selects a state by its label.
    const auto states = [&w](Labels labels, const char* key,
                             std::initializer_list<const char*> names, std::string_view current) {
        labels.emplace_back(key, "");
        for (const char* name : names) {
            labels.back().second = name;
            w.Sample(labels, name == current ? 1 : 0);
        }
    };

    w.Family("raid_enclosures", "gauge",
             "Enclosures monitored (Device1 and Device2), polled or being flashed.");
    w.Sample({}, known.size());
    if (report.lastPollEnd) {
        w.Family("raid_last_poll_timestamp_seconds", "gauge",
                 "When the last poll ended, in seconds since the epoch.");
        w.Sample({}, EpochSeconds(*report.lastPollEnd));
    }
    w.Family("raid_enclosure_info", "gauge",
             "The enclosure's description as discovery and its last answer gave it; always 1.");
    for (const auto* e : known)
        w.Sample({{"enclosure", e->identity},
                  {"serial", e->serial},
                  {"port", e->port},
                  {"device", DeviceName(e->status)},
                  {"path", e->status.path},
                  {"model", e->status.model},
                  {"firmware", e->status.firmware},
                  {"mode", text::ArrayModeText(e->status.arrayMode)}},
                 1);
    if (!report.lastPollEnd) return w.Text();

    w.Family("raid_enclosure_up", "gauge", "1 when the enclosure answered the last status poll.");
    for (const auto* e : polled) w.Sample(of(e), e->status.pollOk ? 1 : 0);
    w.Family("raid_poll_failures_total", "counter",
             "Status polls the enclosure did not answer since it was found.");
    for (const auto* e : polled) w.Sample(of(e), e->pollFailures);

    // The rest is what the enclosure said; after a silent poll it is stale,
    // so it is left out rather than repeated.
    std::vector<const MonitoredEnclosure*> answered;
    for (const auto* e : polled)
        if (e->status.pollOk) answered.push_back(e);
    w.Family("raid_array_state", "gauge", "The array's state; 1 for the current one.");
    for (const auto* e : answered)
        states(of(e), "state", {"healthy", "degraded", "rebuilding", "failed"},
               ArrayState(e->status));
    w.Family("raid_rebuild_progress_ratio", "gauge",
             "Progress of the running rebuild, 0 to 1; absent when none runs.");
    for (const auto* e : answered)
        if (Rebuilding(e->status)) w.Sample(of(e), e->status.rebuildPercent / 100.0);
    w.Family("raid_temperature_celsius", "gauge", "The enclosure's temperature sensor.");
    for (const auto* e : answered)
        if (e->status.sensors) w.Sample(of(e), int{e->status.temperature});
    w.Family("raid_fan_rpm", "gauge", "The enclosure's fan speed.");
    for (const auto* e : answered)
        if (e->status.sensors) w.Sample(of(e), e->status.fanRpm);
    w.Family("raid_member_info", "gauge",
             "The disk in the slot as the enclosure last saw it, with the controller's raw "
             "state code; always 1.");
    for (const auto* e : answered)
        for (const MemberStatus& m : e->status.members) {
            Labels labels = member(e, m);
            labels.emplace_back("model", m.model);
            labels.emplace_back("state_code", "0x" + text::StateCodeText(m.stateCode));
            w.Sample(labels, 1);
        }
    w.Family("raid_member_state", "gauge", "The slot's state; 1 for the current one.");
    for (const auto* e : answered)
        for (const MemberStatus& m : e->status.members)
            states(member(e, m), "state", {"present", "inserted", "absent", "failed", "none"},
                   m.stateClass);
    w.Family("raid_member_smart_verdict", "gauge",
             "The present disk's SMART verdict; 1 for the current one.");
    for (const auto* e : answered)
        for (std::size_t k = 0; k < e->smart.size(); ++k)
            if (e->status.members[k].stateClass == "present")
                states(member(e, e->status.members[k]), "verdict",
                       {"good", "warning", "error", "unknown"}, VerdictName(e->smart[k]));
    return w.Text();
}

}  // namespace raid::service
