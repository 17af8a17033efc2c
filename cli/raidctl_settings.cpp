#include "cli/raidctl_settings.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "cli/raidctl_output.h"
#include "cli/raidctl_status.h"
#include "device/channel.h"
#include "device/protocol.h"
#include "maintenance/period_setting.h"
#include "maintenance/schedule.h"
#include "monitor/pending_command.h"
#include "monitor/quiet_host.h"
#include "monitor/status_poll.h"

namespace raid::cli {
namespace {

// A setting to send to one device, and how its state shows that it was taken.
struct Setting {
    std::string refusal;  // not empty: nothing is sent
    std::uint8_t code = 0;
    std::array<std::uint8_t, 3> params{0xCF, 0xDF, 0xEF};
    std::string asked;  // "buzzer mute on", "backup period 3 days"
    std::function<bool(const DeviceStatus&)> taken;
};

using ChooseSetting = std::function<Setting(const DeviceSlot& slot)>;

// Discovery, the setting sent to the enclosure on DISK as the monitoring
// worker sends it, and a poll that reads the enclosure back.
int SendSetting(Context& ctx, const Arguments& args, const ChooseSetting& choose) {
    AppState state;
    device::CommandChannel ch(ctx.disks, ctx.clock);
    Discovered found;
    if (const auto code = DiscoverDevices(ctx, args, state, ch, found)) return *code;
    const int index = found.shown.front();
    const std::string where =
        "Device" + std::to_string(index + 1) + " on " + DiskText(found.wanted, found.list);
    // The window sends settings only to the two devices it monitors.
    if (index >= kShownDevices) {
        ctx.err << "raidctl: " << where << " is not monitored: settings go to Device1 and "
                << "Device2 only\n";
        return kExitUsage;
    }
    DeviceSlot& slot = state.discovery.deviceSlots[static_cast<std::size_t>(index)];
    const Setting setting = choose(slot);
    if (!setting.refusal.empty()) {
        ctx.err << "raidctl: " << where << ": " << setting.refusal << "\n";
        return kExitUsage;
    }

    monitor::QueueSettingsCommand(state.monitor, setting.code, setting.params[0], setting.params[1],
                                  setting.params[2]);
    monitor::QuietMonitorHost host;
    host.selected = index;
    for (int i = 0; i < kShownDevices; ++i)
        host.selectors[static_cast<std::size_t>(i)] = i == index;
    std::uint8_t result = device::kResultNoReply;
    if (!monitor::ApplyPendingCommand(state, ch, ctx.clock, host, &result)) {
        ctx.err << "raidctl: " << where << ": "
                << (ch.lastOpenMessage.empty() ? "cannot be opened" : ch.lastOpenMessage) << "\n";
        return kExitCannotOpen;
    }
    if (result != device::kResultSuccess) {
        ctx.err << "raidctl: " << where << " did not take the " << setting.asked << ": result "
                << HexByte(result) << " (" << device::ResultText(result) << ")\n";
        return kExitCommandFailed;
    }

    // The poll reads the settings back, as after a change in the window.
    slot.optionChangePending = 1;
    monitor::StatusPoll(state, ch, ctx.clock, host);
    DeviceStatus status = DescribeDevice(state, index, found.list);
    status.polled = true;
    status.pollOk = (state.monitor.changedDeviceMask & (1u << index)) != 0;
    if (args.json)
        PrintStatusJson({status}, ctx.out);
    else
        PrintStatusText({status}, ctx.out);
    if (!status.pollOk) {
        ctx.err << "raidctl: " << where << " did not answer the status poll after the "
                << setting.asked << "\n";
        return kExitCommandFailed;
    }
    if (!setting.taken(status)) {
        ctx.err << "raidctl: " << where << " answered the " << setting.asked
                << ", but still has its old setting\n";
        return kExitSettingNotTaken;
    }
    return kExitOk;
}

}  // namespace

int RunBuzzer(Context& ctx, const Arguments& args) {
    const bool mute = args.mute;
    return SendSetting(ctx, args, [mute](const DeviceSlot& slot) {
        Setting s;
        if ((slot.optionCapability & maintenance::kBuzzerCapability) == 0) {
            s.refusal = "the enclosure has no buzzer setting";
            return s;
        }
        s.code = mute ? device::cmd::kBuzzerMuteOn : device::cmd::kBuzzerMuteOff;
        s.asked = mute ? "buzzer mute on" : "buzzer mute off";
        s.taken = [mute](const DeviceStatus& d) { return d.buzzerKnown && d.buzzerMuted == mute; };
        return s;
    });
}

int RunBackupPeriod(Context& ctx, const Arguments& args) {
    return SendSetting(ctx, args, [&args](const DeviceSlot& slot) {
        using maintenance::PeriodChoice;
        Setting s;
        if ((slot.optionCapability & maintenance::kScheduleCapability) == 0) {
            s.refusal = "the enclosure has no schedule backup";
            return s;
        }
        const monitor::BackupPresetTable presets = monitor::PresetTableOf(slot);
        const std::uint32_t unit = presets.unitHours;
        PeriodChoice choice = static_cast<PeriodChoice>(args.preset);
        int hourIndex = 0;
        if (args.userPeriod) {
            choice = PeriodChoice::UserPeriod;
            if (!maintenance::TakesUserPeriod(slot)) {
                s.refusal = "the enclosure takes no period of days and hours; give off or preset N";
                return s;
            }
            if (unit == 0 || args.hours % unit != 0) {
                s.refusal = "HOURS must be a multiple of the enclosure's period unit of " +
                            std::to_string(unit) + " hours";
                return s;
            }
            hourIndex = static_cast<int>(args.hours / unit);
        }
        const maintenance::PeriodCommand command =
            maintenance::CommandFor(choice, presets, static_cast<int>(args.days), hourIndex);
        s.refusal = command.refusal;
        s.code = command.code;
        s.params = command.params;
        const std::uint8_t value = command.value;
        s.asked = "backup period " +
                  (value == 0 ? std::string("off") : maintenance::HoursText(value * unit));
        s.taken = [value](const DeviceStatus& d) {
            return d.backupKnown && d.backupPeriod == value;
        };
        return s;
    });
}

}  // namespace raid::cli
