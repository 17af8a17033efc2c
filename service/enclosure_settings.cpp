#include "service/enclosure_settings.h"

#include <array>
#include <cstdint>
#include <functional>
#include <sstream>
#include <string>

#include "common/text.h"
#include "device/protocol.h"
#include "maintenance/period_setting.h"
#include "maintenance/schedule.h"
#include "monitor/pending_command.h"
#include "monitor/quiet_host.h"
#include "monitor/status_poll.h"
#include "service/enclosure_status.h"

namespace raid::service {
namespace {

using client::SettingAnswer;

// A setting to send to one device, and how its state shows that it was taken.
struct Setting {
    std::string refusal;  // not empty: nothing is sent
    std::uint8_t code = 0;
    std::array<std::uint8_t, 3> params{0xCF, 0xDF, 0xEF};
    std::string asked;  // "buzzer mute on", "backup period 3 days"
    std::function<bool(const DeviceStatus&)> taken;
};

SettingAnswer Refused(int outcome, std::string note) {
    SettingAnswer a;
    a.outcome = outcome;
    a.notes.push_back(std::move(note));
    return a;
}

SettingAnswer Send(AppState& state, device::CommandChannel& ch, platform::Clock& clock, int index,
                   const std::vector<platform::DiskInfo>& disks, const std::string& where,
                   const std::function<Setting(const DeviceSlot&)>& choose,
                   monitor::QuietMonitorHost* monitorHost) {
    // The window sends settings only to the two devices it monitors.
    if (index < 0 || index >= kShownDevices)
        return Refused(client::kNotSent, where +
                                             " is not monitored: settings go to Device1 and "
                                             "Device2 only");
    DeviceSlot& slot = state.discovery.deviceSlots[static_cast<std::size_t>(index)];
    const Setting setting = choose(slot);
    if (!setting.refusal.empty()) return Refused(client::kNotSent, where + ": " + setting.refusal);

    // Addressed to its device: the service's host always selects Device1.
    monitor::QueueSettingsCommand(state.monitor, setting.code, setting.params[0], setting.params[1],
                                  setting.params[2], index);
    monitor::QuietMonitorHost quiet;
    quiet.selected = index;
    for (int i = 0; i < kShownDevices; ++i)
        quiet.selectors[static_cast<std::size_t>(i)] = i == index;
    monitor::QuietMonitorHost& host = monitorHost != nullptr ? *monitorHost : quiet;
    std::uint8_t result = device::kResultNoReply;
    if (!monitor::ApplyPendingCommand(state, ch, clock, host, &result))
        return Refused(
            client::kCannotOpen,
            where + ": " + (ch.lastOpenMessage.empty() ? "cannot be opened" : ch.lastOpenMessage));
    if (result != device::kResultSuccess)
        return Refused(client::kFailed, where + " did not take the " + setting.asked + ": result " +
                                            text::HexByte(result) + " (" +
                                            device::ResultText(result) + ")");

    // The poll reads the settings back, as after a change in the window.
    slot.optionChangePending = 1;
    monitor::StatusPoll(state, ch, clock, host);
    SettingAnswer answer;
    DeviceStatus status = DescribeDevice(state, index, disks);
    status.polled = true;
    status.pollOk = (state.monitor.changedDeviceMask & (1u << index)) != 0;
    if (!status.pollOk) {
        answer.outcome = client::kFailed;
        answer.notes.push_back(where + " did not answer the status poll after the " +
                               setting.asked);
    } else if (!setting.taken(status)) {
        answer.outcome = client::kNotTaken;
        answer.notes.push_back(where + " answered the " + setting.asked +
                               ", but still has its old setting");
    }
    answer.devices.push_back(std::move(status));
    return answer;
}

}  // namespace

SettingAnswer SetBuzzer(AppState& state, device::CommandChannel& ch, platform::Clock& clock,
                        int index, const std::vector<platform::DiskInfo>& disks,
                        const std::string& where, bool mute, monitor::QuietMonitorHost* host) {
    return Send(
        state, ch, clock, index, disks, where,
        [mute](const DeviceSlot& slot) {
            Setting s;
            if ((slot.optionCapability & kBuzzerCapability) == 0) {
                s.refusal = "the enclosure has no buzzer setting";
                return s;
            }
            s.code = mute ? device::cmd::kBuzzerMuteOn : device::cmd::kBuzzerMuteOff;
            s.asked = mute ? "buzzer mute on" : "buzzer mute off";
            s.taken = [mute](const DeviceStatus& d) {
                return d.buzzerKnown && d.buzzerMuted == mute;
            };
            return s;
        },
        host);
}

SettingAnswer SetBackupPeriod(AppState& state, device::CommandChannel& ch, platform::Clock& clock,
                              int index, const std::vector<platform::DiskInfo>& disks,
                              const std::string& where, const client::PeriodRequest& period,
                              monitor::QuietMonitorHost* host) {
    return Send(
        state, ch, clock, index, disks, where,
        [&period](const DeviceSlot& slot) {
            using maintenance::PeriodChoice;
            Setting s;
            if ((slot.optionCapability & maintenance::kScheduleCapability) == 0) {
                s.refusal = "the enclosure has no schedule backup";
                return s;
            }
            const monitor::BackupPresetTable presets = monitor::PresetTableOf(slot);
            const std::uint32_t unit = presets.unitHours;
            PeriodChoice choice = static_cast<PeriodChoice>(period.preset);
            int hourIndex = 0;
            if (period.userPeriod) {
                choice = PeriodChoice::UserPeriod;
                if (!maintenance::TakesUserPeriod(slot)) {
                    s.refusal =
                        "the enclosure takes no period of days and hours; give off or preset N";
                    return s;
                }
                if (unit == 0 || period.hours % unit != 0) {
                    s.refusal = "HOURS must be a multiple of the enclosure's period unit of " +
                                std::to_string(unit) + " hours";
                    return s;
                }
                hourIndex = static_cast<int>(period.hours / unit);
            }
            const maintenance::PeriodCommand command =
                maintenance::CommandFor(choice, presets, static_cast<int>(period.days), hourIndex);
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
        },
        host);
}

}  // namespace raid::service
