#pragma once
// The buzzer and schedule-backup settings of one monitored enclosure: sent as
// the window's monitoring worker sends them, then read back by a status
// poll. Used in-process by raidctl and by the service on its own device
// table, so both give the same answer for the same enclosure.
#include <vector>

#include "client/enclosure_access.h"
#include "common/state.h"
#include "device/channel.h"
#include "monitor/quiet_host.h"
#include "platform/clock.h"
#include "platform/disk.h"

namespace raid::service {

// Sends the buzzer mute on or off to device `index` (Device1 or Device2 of
// `state`) and polls it. `where` names it in the notes ("Device1 on disk 2
// (/dev/sdb)"). `host`: the poll host of a monitor whose selectors stay as
// they are (its poll logs events as any other); null: only `index` is
// polled, quietly.
client::SettingAnswer SetBuzzer(AppState& state, device::CommandChannel& ch, platform::Clock& clock,
                                int index, const std::vector<platform::DiskInfo>& disks,
                                const std::string& where, bool mute,
                                monitor::QuietMonitorHost* host = nullptr);

// The same for the schedule-backup period; nothing is sent when the
// enclosure has no schedule backup or the period does not fit it.
client::SettingAnswer SetBackupPeriod(AppState& state, device::CommandChannel& ch,
                                      platform::Clock& clock, int index,
                                      const std::vector<platform::DiskInfo>& disks,
                                      const std::string& where, const client::PeriodRequest& period,
                                      monitor::QuietMonitorHost* host = nullptr);

}  // namespace raid::service
