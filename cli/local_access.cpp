#include "cli/local_access.h"

#include "discovery/headless.h"
#include "firmware/flash_read.h"
#include "firmware/spi_ranges.h"
#include "firmware/upgrade_host.h"
#include "monitor/quiet_host.h"
#include "monitor/status_poll.h"
#include "service/enclosure_settings.h"
#include "service/enclosure_status.h"
#include "service/flash_job.h"
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
        answer.devices.push_back(std::move(s));
    }
    client::NoteUnansweredPolls(answer);
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

// The enclosure on `disk` after one discovery, for the commands that act on
// one; false with the outcome and why in `answer`.
bool DiscoverOne(Context& ctx, const std::string& disk, AppState& state, device::CommandChannel& ch,
                 Discovered& discovered, client::Answer& answer) {
    client::StatusAnswer found;
    if (DiscoverDevices(ctx, disk, state, ch, discovered, found)) return true;
    answer.outcome = found.outcome;
    answer.notes = found.notes;
    // No enclosure at all is said of DISK, as for one that holds none.
    if (found.noneFound && found.problem.empty())
        answer.notes.push_back(DiskText(discovered.wanted, discovered.list) +
                               " holds no enclosure (see 'raidctl list')");
    return false;
}

// One discovery, then `act` on the enclosure on `disk`, filling its answer.
template <typename Result, typename Act>
Result WithEnclosure(Context& ctx, const std::string& disk, Act act) {
    Result answer;
    AppState state;
    device::CommandChannel ch(ctx.disks, ctx.clock);
    Discovered discovered;
    if (DiscoverOne(ctx, disk, state, ch, discovered, answer))
        act(state, ch, discovered, discovered.shown.front(), answer);
    return answer;
}

}  // namespace

client::SmartAnswer LocalAccess::Smart(const std::string& disk) {
    return WithEnclosure<client::SmartAnswer>(
        ctx_, disk,
        [](AppState& state, device::CommandChannel& ch, const Discovered& discovered, int index,
           client::SmartAnswer& answer) {
            KeepOnlyDevice(state.discovery, index);
            smart::SmartState tables;
            smart::QuietSmartHost host;
            smart::ReadSmart(state, tables, ch, host, smart::kFeatureReadThresholds);
            smart::ReadSmart(state, tables, ch, host, smart::kFeatureReadData);
            answer.smart = service::SmartSectorsOf(state, tables, 0, discovered.list);
            answer.smart->index = index;
        });
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

client::FirmwareCheckAnswer LocalAccess::CheckFirmware(const std::string& disk,
                                                       const std::vector<std::uint8_t>& image) {
    return WithEnclosure<client::FirmwareCheckAnswer>(
        ctx_, disk,
        [&image](AppState& state, device::CommandChannel&, const Discovered& discovered, int index,
                 client::FirmwareCheckAnswer& answer) {
            const service::ImageCheck check = service::CheckImage(state, index, image);
            static_cast<client::Answer&>(answer) = check.answer;
            answer.index = index;
            answer.diskText = DiskText(discovered.wanted, discovered.list);
            const firmware::LoadTexts& t = check.load.texts;
            for (const std::string* text : {&t.file, &t.checksum, &t.deviceCode, &t.fileCode})
                if (!text->empty()) answer.texts.push_back(*text);
            answer.checksum = t.checksum;
            answer.deviceCode = t.deviceCode;
            answer.fileCode = t.fileCode;
        });
}

client::FlashReadAnswer LocalAccess::ReadFlash(const std::string& disk, std::uint32_t length,
                                               const client::CallOptions&) {
    return WithEnclosure<client::FlashReadAnswer>(
        ctx_, disk,
        [length](AppState& state, device::CommandChannel& ch, const Discovered&, int index,
                 client::FlashReadAnswer& answer) {
            const auto whole = length ? std::optional<std::uint32_t>(length)
                                      : firmware::WholeFlashLength(state, index);
            if (!whole) {
                answer.outcome = client::kNotSent;
                answer.notes.push_back(firmware::FlashSizeUnknownText(state, index));
                return;
            }
            firmware::FirmwareState fw;
            firmware::QuietUpgradeHost host;
            firmware::FlashReadResult r =
                firmware::ReadFlash(state, fw, ch, host, index, 0, *whole);
            if (!r.ok) {
                answer.outcome = client::kFailed;
                answer.notes.push_back(r.failureText);
                return;
            }
            answer.bytes = std::move(r.bytes);
        });
}

client::FlashAnswer LocalAccess::Flash(const std::string& disk,
                                       const std::vector<std::uint8_t>& image, bool backup,
                                       client::FlashHandlers handlers, const client::CallOptions&) {
    return WithEnclosure<client::FlashAnswer>(
        ctx_, disk,
        [&](AppState& state, device::CommandChannel& ch, const Discovered&, int index,
            client::FlashAnswer& answer) {
            std::string refusal;
            auto fw = service::FlashableImage(state, index, image, ctx_.disks, refusal);
            if (!fw) {
                answer.outcome = kExitRefused;
                answer.notes.push_back(refusal);
                return;
            }
            std::atomic<std::uint32_t> progress{0};
            service::RelayHost host(handlers.step, *fw, progress,
                                    service::FlashStepsFor(state, index, fw->image.Size()),
                                    handlers.detach);
            firmware::UpgradeOptions options;
            options.backupFirst = backup;
            options.keepBackup = handlers.keepBackup;
            const firmware::UpgradeResult r =
                firmware::RunUpgrade(state, *fw, ch, host, index, options);
            static_cast<client::Answer&>(answer) = service::FlashAnswerOf(r);
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
