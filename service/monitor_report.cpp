#include "service/monitor_report.h"

#include <sstream>

namespace raid::service {
namespace {

bool MemberDown(const MemberStatus& m) {
    return m.stateClass == "absent" || m.stateClass == "failed";
}

bool Rebuilding(const DeviceStatus& s) {
    return s.members[0].rebuilding || s.members[1].rebuilding;
}

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

std::string DiskName(const DeviceStatus& s) {
    const auto slash = s.path.rfind('/');
    return slash == std::string::npos ? s.path : s.path.substr(slash + 1);
}

int VerdictValue(SmartVerdict v) {
    switch (v) {
        case SmartVerdict::Good:
            return 0;
        case SmartVerdict::Warning:
            return 1;
        case SmartVerdict::Error:
            return 2;
        case SmartVerdict::Unknown:
            break;
    }
    return -1;
}

class MetricsWriter {
public:
    void Family(const char* name, const char* type, const char* help) {
        name_ = name;
        out_ << "# HELP " << name << " " << help << "\n# TYPE " << name << " " << type << "\n";
    }
    template <typename Value>
    void Sample(const std::vector<std::pair<const char*, std::string>>& labels, Value value) {
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

std::string MetricsText(const MonitorReport& report) {
    MetricsWriter w;
    std::vector<const MonitoredEnclosure*> polled;
    for (const MonitoredEnclosure& e : report.enclosures)
        if (e.status.polled) polled.push_back(&e);

    w.Family("raid_health_mask", "gauge",
             "Health bits as raidctl monitor --once exits with; 0 is healthy.");
    w.Sample({}, HealthMask(report));
    w.Family("raid_enclosure_up", "gauge", "1 when the enclosure answered the last status poll.");
    for (const auto* e : polled)
        w.Sample({{"enclosure", DeviceName(e->status)},
                  {"disk", DiskName(e->status)},
                  {"model", e->status.model},
                  {"firmware", e->status.firmware}},
                 e->status.pollOk ? 1 : 0);
    w.Family("raid_poll_failures_total", "counter",
             "Status polls the enclosure did not answer since the monitor started.");
    for (const auto* e : polled) w.Sample({{"enclosure", DeviceName(e->status)}}, e->pollFailures);

    // The rest is what the enclosure said; after a silent poll it is stale,
    // so it is left out rather than repeated.
    std::vector<const MonitoredEnclosure*> answered;
    for (const auto* e : polled)
        if (e->status.pollOk) answered.push_back(e);
    w.Family("raid_array_mode", "gauge", "The array mode code of the enclosure.");
    for (const auto* e : answered)
        w.Sample({{"enclosure", DeviceName(e->status)}}, int{e->status.arrayMode});
    w.Family("raid_member_present", "gauge", "1 when a disk is in the bay.");
    for (const auto* e : answered)
        for (const MemberStatus& m : e->status.members)
            w.Sample({{"enclosure", DeviceName(e->status)}, {"bay", m.name}},
                     m.stateClass == "present" || m.stateClass == "inserted" ? 1 : 0);
    w.Family("raid_member_state", "gauge", "The controller's raw state code of the bay's disk.");
    for (const auto* e : answered)
        for (const MemberStatus& m : e->status.members)
            w.Sample({{"enclosure", DeviceName(e->status)}, {"bay", m.name}}, int{m.stateCode});
    w.Family("raid_rebuild_percent", "gauge",
             "Progress of the running rebuild; absent when none runs.");
    for (const auto* e : answered)
        if (Rebuilding(e->status))
            w.Sample({{"enclosure", DeviceName(e->status)}}, int{e->status.rebuildPercent});
    w.Family("raid_temperature_celsius", "gauge", "The enclosure's temperature sensor.");
    for (const auto* e : answered)
        if (e->status.sensors)
            w.Sample({{"enclosure", DeviceName(e->status)}}, int{e->status.temperature});
    w.Family("raid_fan_rpm", "gauge", "The enclosure's fan speed.");
    for (const auto* e : answered)
        if (e->status.sensors) w.Sample({{"enclosure", DeviceName(e->status)}}, e->status.fanRpm);
    w.Family("raid_smart_verdict", "gauge",
             "The member disk's SMART verdict: 0 Good, 1 Warning, 2 Error.");
    for (const auto* e : answered)
        for (std::size_t k = 0; k < e->smart.size(); ++k)
            if (e->smart[k] != SmartVerdict::Unknown)
                w.Sample({{"enclosure", DeviceName(e->status)}, {"bay", e->status.members[k].name}},
                         VerdictValue(e->smart[k]));
    return w.Text();
}

}  // namespace raid::service
