#include "cli/local_access.h"

#include "discovery/headless.h"
#include "monitor/quiet_host.h"
#include "monitor/status_poll.h"
#include "service/enclosure_settings.h"
#include "service/enclosure_status.h"
#include "service/mail_access.h"
#include "smart/read_smart.h"
#include "smart/smart_host.h"
#include "smart/smart_state.h"

namespace raid::cli {

bool DiscoverDevices(Context& ctx, const std::string& disk, AppState& state,
                     device::CommandChannel& ch, Discovered& found, client::StatusAnswer& answer) {
    found.list = ctx.disks.ListDisks();
    const auto& list = found.list;
    int& wanted = found.wanted;
    if (!disk.empty()) {
        wanted = ResolveDisk(ctx, disk, list);
        if (!IsListed(wanted, list)) {
            answer.outcome = client::kCannotOpen;
            answer.notes.push_back(NotADiskText(disk));
            return false;
        }
    }

    discovery::DiscoverOnce(state, ch);
    // Nothing is drawn here, so the first poll must query instead of only
    // reporting the devices for a first full redraw.
    state.shell.firstStatusPending = false;
    const auto& d = state.discovery;
    if (d.deviceCount == 0) {
        answer.noneFound = true;
        answer.problem = discovery::PermissionProblem(ctx.disks);
        answer.outcome = answer.problem.empty() ? client::kFailed : client::kCannotOpen;
        if (!answer.problem.empty()) answer.notes.push_back(answer.problem);
        return false;
    }

    for (int i = 0; i < d.deviceCount; ++i)
        if (wanted < 0 || d.DiskOf(i) == wanted) found.shown.push_back(i);
    if (found.shown.empty()) {
        answer.outcome = client::kFailed;
        answer.notes.push_back(DiskText(wanted, list) + " holds no enclosure (see 'raidctl list')");
        return false;
    }
    return true;
}

client::StatusAnswer LocalAccess::Status(const std::string& disk) {
    client::StatusAnswer answer;
    AppState state;
    device::CommandChannel ch(ctx_.disks, ctx_.clock);
    Discovered found;
    if (!DiscoverDevices(ctx_, disk, state, ch, found, answer)) return answer;
    const auto& d = state.discovery;

    monitor::QuietMonitorHost host;
    for (int i = 0; i < kShownDevices; ++i)
        host.selectors[static_cast<std::size_t>(i)] =
            found.wanted < 0 || d.DiskOf(i) == found.wanted;
    monitor::StatusPoll(state, ch, ctx_.clock, host);

    for (const int i : found.shown) {
        client::DeviceStatus s = service::DescribeDevice(state, i, found.list);
        s.polled = i < kShownDevices;
        s.pollOk = s.polled && (state.monitor.changedDeviceMask & (1u << i)) != 0;
        if (s.polled && !s.pollOk) {
            answer.outcome = client::kFailed;
            answer.notes.push_back("Device" + std::to_string(s.index + 1) + " (" +
                                   DiskText(s.disk, found.list) +
                                   ") did not answer the status poll");
        }
        answer.devices.push_back(std::move(s));
    }
    return answer;
}

namespace {

// The SMART tables hold the first devices only; with the enclosure on DISK
// as the only device it is read whatever its index, and no other enclosure
// is sent a command.
void KeepOnlyDevice(DiscoveryState& d, int index) {
    const auto i = static_cast<std::size_t>(index);
    d.deviceTable[0] = d.deviceTable[i];
    d.deviceSlots[0] = d.deviceSlots[i];
    d.deviceCount = 1;
    d.currentDevice = 0;
}

}  // namespace

client::SmartAnswer LocalAccess::Smart(const std::string& disk) {
    client::SmartAnswer answer;
    client::StatusAnswer found;
    AppState state;
    device::CommandChannel ch(ctx_.disks, ctx_.clock);
    Discovered discovered;
    if (!DiscoverDevices(ctx_, disk, state, ch, discovered, found)) {
        answer.outcome = found.outcome;
        answer.notes = found.notes;
        // No enclosure at all is said of DISK, as for one that holds none.
        if (found.noneFound && found.problem.empty())
            answer.notes.push_back(DiskText(discovered.wanted, discovered.list) +
                                   " holds no enclosure (see 'raidctl list')");
        return answer;
    }
    const int index = discovered.shown.front();
    KeepOnlyDevice(state.discovery, index);
    smart::SmartState tables;
    smart::QuietSmartHost host;
    smart::ReadSmart(state, tables, ch, host, smart::kFeatureReadThresholds);
    smart::ReadSmart(state, tables, ch, host, smart::kFeatureReadData);
    answer.smart = service::SmartSectorsOf(state, tables, 0, discovered.list);
    answer.smart->index = index;
    return answer;
}

namespace {

// Discovery, then `apply` to the enclosure on `disk`.
template <typename Apply>
client::SettingAnswer OnEnclosure(Context& ctx, const std::string& disk, Apply apply) {
    client::SettingAnswer found;
    AppState state;
    device::CommandChannel ch(ctx.disks, ctx.clock);
    Discovered discovered;
    if (!DiscoverDevices(ctx, disk, state, ch, discovered, found)) return found;
    const int index = discovered.shown.front();
    const std::string where = "Device" + std::to_string(index + 1) + " on " +
                              DiskText(discovered.wanted, discovered.list);
    return apply(state, ch, index, discovered.list, where);
}

}  // namespace

client::SettingAnswer LocalAccess::SetBuzzer(const std::string& disk, bool mute,
                                             const client::CallOptions&) {
    return OnEnclosure(ctx_, disk,
                       [&](AppState& state, device::CommandChannel& ch, int index, const auto& list,
                           const std::string& where) {
                           return service::SetBuzzer(state, ch, ctx_.clock, index, list, where,
                                                     mute);
                       });
}

client::SettingAnswer LocalAccess::SetBackupPeriod(const std::string& disk,
                                                   const client::PeriodRequest& period,
                                                   const client::CallOptions&) {
    return OnEnclosure(ctx_, disk,
                       [&](AppState& state, device::CommandChannel& ch, int index, const auto& list,
                           const std::string& where) {
                           return service::SetBackupPeriod(state, ch, ctx_.clock, index, list,
                                                           where, period);
                       });
}

client::MailSettingsAnswer LocalAccess::MailSettings(const client::CallOptions&) {
    return service::ReadMailSettings(settingsFile_);
}

client::Answer LocalAccess::SetMailSettings(const client::MailSettingsChanges& changes,
                                            const client::CallOptions&) {
    return service::ChangeMailSettings(settingsFile_, changes);
}

client::TestMailAnswer LocalAccess::SendTestMail(
    const client::CallOptions&, const std::function<void(const std::string&)>& transcript) {
    return service::SendTestMail(settingsFile_, {}, transcript);
}

}  // namespace raid::cli
