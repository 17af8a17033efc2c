#pragma once
// Sending the controller command that a settings page queued (buzzer mute,
// schedule-backup period) and the settings line it leaves for the event log.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "common/state.h"
#include "device/channel.h"
#include "monitor/monitor_host.h"
#include "platform/clock.h"

namespace raid::monitor {

inline constexpr std::uint32_t kCommandPauseMs = 200;

// A device's backup preset table: entry 0 is "Off" (0), entries 1..3 the
// presets, in period units, and the unit in hours. Taken from discovery's
// schedule bytes and schedule kind when the device supports schedule backup
// (capability bit 1), else the display defaults 0, 1, 7, 30 and 24 hours.
struct BackupPresetTable {
    std::array<std::uint8_t, 4> entries{0, 1, 7, 30};
    std::uint8_t unitHours = 24;
};
BackupPresetTable PresetTableOf(const DeviceSlot& slot);

// The period of a settings line: H = periodUnits x unitHours; "OFF, " for 0,
// else days "2d, " / "1d-6h, " and hours "5h, ".
std::string BackupPeriodText(std::uint32_t periodUnits, std::uint32_t unitHours);

// The text of a settings line between "Dn" and the time stamp for command
// `code` with parameter bytes `p1`, `p2` (the ones SetCommandParameters
// keeps); nullopt when the command leaves no line.
std::optional<std::string> SettingsLineText(std::uint8_t code, std::uint8_t p1, std::uint8_t p2,
                                            std::uint8_t unitHours);

// Queues a settings command for the worker to send with ApplyPendingCommand,
// behind those already queued; the parameter bytes are those of codes
// 0x76..0x78. `device` -1 sends it to the device selected when it is sent.
// With `report`, its SettingResult is filed under the returned ticket.
std::uint32_t QueueSettingsCommand(MonitorState& monitor, std::uint8_t code, std::uint8_t p1 = 0xCF,
                                   std::uint8_t p2 = 0xDF, std::uint8_t p3 = 0xEF, int device = -1,
                                   bool report = false);

// The filed result of command `ticket`, taken out of the files; nullopt while
// none is filed (not sent yet, or not queued with `report`).
std::optional<SettingResult> TakeSettingResult(MonitorState& monitor, std::uint32_t ticket);

// Takes command `ticket` out of the queue if the worker has not begun to
// send it; true when it was still queued.
bool WithdrawSetting(MonitorState& monitor, std::uint32_t ticket);

// Sends the queued settings commands in order (main thread, from the
// dispatcher), each to its device, including those queued from the window
// events pumped meanwhile, and, for each the controller accepted, appends
// "D<n>" + text + time stamp to SettingsLogLines. Each leaves the queue and
// files its result when asked to. False when something could not be sent: a
// device held by an upgrade, a device switch being drawn (those drop the
// whole queue), no device ("Device not found!!!" / "No Device found !"), or
// a disk that does not open ("Invalid Drive"); with nothing queued the
// selected device is still checked. For the backup presets 0x72..0x75 it
// sets the second parameter byte to the preset sent. `result`, when given,
// receives the controller's result code of the last command sent (left alone
// when nothing was sent).
bool ApplyPendingCommand(AppState& state, device::CommandChannel& ch, platform::Clock& clock,
                         MonitorHost& host, std::uint8_t* result = nullptr);

}  // namespace raid::monitor
