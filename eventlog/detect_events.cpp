#include "eventlog/detect_events.h"

#include <algorithm>

#include "eventlog/event_lines.h"

namespace raid::eventlog {

namespace {

// The record of a device's disk; empty (every byte reads as 0) when the
// device table names a disk number outside the tables.
template <typename Table>
text::Bytes RecordOf(const Table& table, const DiscoveryState& discovery, int deviceIndex) {
    const int disk = discovery.DiskOf(deviceIndex);
    if (disk < 0 || disk >= static_cast<int>(table.size())) return {};
    return table[static_cast<std::size_t>(disk)];
}

std::uint8_t DiskStateFlagsOf(text::Bytes record) {
    return rec::kDiskStateFlags < record.size() ? record[rec::kDiskStateFlags] : 0;
}

void Append(std::vector<std::string>& lines, std::vector<std::string>&& more) {
    lines.insert(lines.end(), std::make_move_iterator(more.begin()),
                 std::make_move_iterator(more.end()));
}

// The first class of the new flags in order absent, present, failed, newly
// inserted - logged only when that bit was clear before.
struct MemberClass {
    std::uint8_t bit;
    MemberEvent event;
};
constexpr MemberClass kClasses[] = {
    {diskstate::kHdd1Absent, MemberEvent::Removed},
    {diskstate::kHdd1Present, MemberEvent::Initialized},
    {diskstate::kHdd1Failed, MemberEvent::Failed},
    {diskstate::kHdd1Inserted, MemberEvent::Inserted},
};

void LogStateChanges(EventLogState& state, const EventLogContext& ctx, int i, text::Bytes record,
                     std::uint8_t oldFlags, std::uint8_t newFlags, const std::string& stamp) {
    for (int member = 0; member < 2; ++member) {
        const unsigned shift = member == 0 ? 0u : 4u;
        const unsigned now = (newFlags >> shift) & 0x0Fu;
        const unsigned before = (oldFlags >> shift) & 0x0Fu;
        for (const MemberClass& c : kClasses) {
            if (!(now & c.bit)) continue;
            if (!(before & c.bit)) {
                Append(state.eventLogLines, MemberEventLines(i, member, c.event, record, stamp));
                if (c.event == MemberEvent::Removed && ctx.raiseMailEvent) {
                    ctx.raiseMailEvent(1, i, member);
                } else if (c.event == MemberEvent::Initialized) {
                    // A new disk's SMART thresholds are read at the next chance.
                    ctx.app.shell.pollRequestFlags.fetch_or(poll::kSmartThresholds);
                }
            }
            break;
        }
    }
}

// Returns true when a line was logged.
bool LogRebuild(EventLogState& state, int i, text::Bytes record, const std::string& stamp) {
    const auto at = [&](std::size_t off) -> std::uint8_t {
        return off < record.size() ? record[off] : 0;
    };
    const std::uint8_t rebuild = at(rec::kRebuildFlags);
    const std::uint8_t percent = at(rec::kRebuildPercent);
    const auto idx = static_cast<std::size_t>(i);
    std::uint8_t& last = state.lastLoggedPercent[idx];
    if (rebuild & 0x03) {
        if (last != kNoneLogged && last == percent) return false;
        last = percent;
        const int direction = (rebuild & 0x01) ? 0 : 1;
        state.rebuildDirection[idx] = static_cast<std::uint8_t>(direction);
        state.eventLogLines.push_back(RebuildProgressLine(i, direction, percent, stamp));
        return true;
    }
    if (last == kNoneLogged) return false;
    bool logged = false;
    const std::uint8_t bothPresent = diskstate::kHdd1Present | diskstate::kHdd2Present;
    if ((at(rec::kDiskStateFlags) & bothPresent) == bothPresent) {
        state.eventLogLines.push_back(last == 99
                                          ? RebuildDoneLine(i, state.rebuildDirection[idx], stamp)
                                          : RebuildOkLine(i, stamp));
        logged = true;
    }
    last = kNoneLogged;
    return logged;
}

}  // namespace

void DetectEvents(EventLogState& state, const EventLogContext& ctx, std::uint8_t mask) {
    AppState& app = ctx.app;
    const DiscoveryState& discovery = app.discovery;
    const int n = std::clamp(discovery.deviceCount, 0, kDeviceSlots);
    const bool firstPending = app.shell.firstStatusPending.load() && !state.startLogged;

    app.shell.nowTime = ctx.clock.WallNow();
    const text::DateTimeFormatter& format =
        ctx.timeStamp ? ctx.timeStamp : text::LocaleDateTimeFormatter();
    const std::string stamp = format(app.shell.nowTime);
    const std::filesystem::path path = DayLogPath(ctx.programFolder, app.shell.nowTime);

    std::vector<std::string>& lines = state.eventLogLines;
    bool header = OpenDay(state, path, firstPending, ctx.reportLogError);

    auto snapshot = [&] {
        for (int i = 0; i < n; ++i) {
            state.loggedDiskState[static_cast<std::size_t>(i)] =
                DiskStateFlagsOf(RecordOf(app.monitor.deviceStatusRecord, discovery, i));
        }
    };
    if (firstPending) {
        lines.emplace_back(kSeparator);
        lines.push_back(ctx.applicationTitle + " has started from " + stamp);
        state.startLogged = true;
        header = true;
        snapshot();
    } else if (app.discovery.deviceChangeLinesPending) {
        lines.emplace_back(kSeparator);
        for (const std::string& l : app.discovery.deviceChangeLines) lines.push_back(l + stamp);
        app.discovery.deviceChangeLines.clear();
        app.discovery.deviceChangeLinesPending = false;
        header = true;
        snapshot();
    }

    bool written = false;
    if (header) {
        for (int i = 0; i < n; ++i) {
            if (!(mask & (1u << i))) continue;
            Append(lines,
                   DeviceInformationBlock(i, RecordOf(discovery.identifyRecord, discovery, i),
                                          RecordOf(app.monitor.deviceStatusRecord, discovery, i)));
        }
        lines.emplace_back(kSeparator);
        written = true;
    }

    for (int i = 0; i < n; ++i) {
        const auto idx = static_cast<std::size_t>(i);
        if (mask & (1u << i)) {
            const text::Bytes record = RecordOf(app.monitor.deviceStatusRecord, discovery, i);
            const std::uint8_t flags = DiskStateFlagsOf(record);
            if (!header && state.loggedDiskState[idx] != flags) {
                const std::uint8_t old =
                    state.loggedDiskState[idx] == kNoneLogged ? 0 : state.loggedDiskState[idx];
                state.loggedDiskState[idx] = flags;
                written = true;
                LogStateChanges(state, ctx, i, record, old, flags, stamp);
            }
            written = LogRebuild(state, i, record, stamp) || written;
        }
        // Applied settings follow the events of the first device; with no
        // device they wait. They are saved like any other line: on a quiet
        // system nothing else would carry them to the file.
        auto& settings = app.monitor.settingsLogLines;
        if (!settings.empty()) written = true;
        Append(lines, std::move(settings));
        settings.clear();
    }

    if (written || state.saveOwed) SaveDay(state, ctx.reportLogError);
}

}  // namespace raid::eventlog
