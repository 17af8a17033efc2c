#include "monitor/pending_command.h"

#include "device/protocol.h"

namespace raid::monitor {
namespace {

constexpr std::uint8_t kScheduleCapability = 0x02;
constexpr std::uint8_t kBuzzerLetter = 0x5A;  // "Z": the buzzer sounds (mute off)
constexpr std::uint8_t kSettingBuzzer = 1;
constexpr std::uint8_t kSettingPeriod = 2;

const char* const kMuteOn = " Buzzer Mute(setted): ON, ";
const char* const kMuteOff = " Buzzer Mute(setted): OFF, ";
const char* const kPeriod = " Backup Period(Setted): ";

}  // namespace

BackupPresetTable PresetTableOf(const DeviceSlot& slot) {
    BackupPresetTable t;
    if ((slot.optionCapability & kScheduleCapability) == 0) return t;
    for (std::size_t k = 0; k < 3; ++k) t.entries[k + 1] = slot.scheduleBytes[k];
    t.unitHours = slot.scheduleKind;
    return t;
}

std::string BackupPeriodText(std::uint32_t periodUnits, std::uint32_t unitHours) {
    const std::uint64_t hours = std::uint64_t{periodUnits} * unitHours;
    if (hours == 0) return "OFF, ";
    std::string text;
    const std::uint64_t days = hours / 24;
    const std::uint64_t rest = hours % 24;
    if (days > 0) text += std::to_string(days) + "d" + (rest > 0 ? "-" : ", ");
    if (rest > 0) text += std::to_string(rest) + "h, ";
    return text;
}

std::optional<std::string> SettingsLineText(std::uint8_t code, std::uint8_t p1, std::uint8_t p2,
                                            std::uint8_t unitHours) {
    namespace cmd = device::cmd;
    if (code == cmd::kBuzzerMuteOn) return kMuteOn;
    if (code == cmd::kBuzzerMuteOff) return kMuteOff;
    if (code >= cmd::kBackupPreset0 && code <= cmd::kBackupPreset3)
        return kPeriod + BackupPeriodText(p2, unitHours);
    if (code == cmd::kSetting) {
        if (p1 == kSettingBuzzer) return p2 == kBuzzerLetter ? kMuteOff : kMuteOn;
        if (p1 == kSettingPeriod) return kPeriod + BackupPeriodText(p2, unitHours);
    }
    return std::nullopt;
}

void QueueSettingsCommand(MonitorState& monitor, std::uint8_t code, std::uint8_t p1,
                          std::uint8_t p2, std::uint8_t p3) {
    monitor.pendingCommandCode = code;
    monitor.pendingCommandParams = {p1, p2, p3};
}

bool ApplyPendingCommand(AppState& state, device::CommandChannel& ch, platform::Clock& clock,
                         MonitorHost& host, std::uint8_t* result) {
    auto& d = state.discovery;
    if (state.shell.operationDeviceIndex.load() != kNoOperationDevice) return false;
    if (host.DeviceSwitchInProgress()) return false;
    if (d.deviceCount <= 0) {
        host.SetStatusPanel(4, "Device not found!!!");
        host.Message("No Device found !", "Message");
        return false;
    }

    const int index = host.SelectedDevice();
    const bool known = index >= 0 && index < d.deviceCount && index < kDeviceSlots;
    if (known) d.currentDevice = index;
    const int disk = known ? d.DiskOf(index) : -1;
    if (!known || !device::OpenDevice(ch, disk)) {
        host.Message("Invalid Drive", "");
        return false;
    }

    const std::uint8_t code = state.monitor.pendingCommandCode;
    if (code == 0) return true;
    clock.SleepMs(kCommandPauseMs);
    const auto& params = state.monitor.pendingCommandParams;
    device::SetCommandParameters(ch, code, params[0], params[1], params[2]);
    device::ReplySector reply{};
    const std::uint8_t answer = device::QueryController(ch, disk, code, reply);
    if (result != nullptr) *result = answer;
    if (answer != device::kResultSuccess) return true;

    const BackupPresetTable presets = PresetTableOf(d.deviceSlots[static_cast<std::size_t>(index)]);
    if (code >= device::cmd::kBackupPreset0 && code <= device::cmd::kBackupPreset3)
        ch.params[1] = presets.entries[code - device::cmd::kBackupPreset0];
    const auto text = SettingsLineText(code, ch.params[0], ch.params[1], presets.unitHours);
    if (!text) return true;
    state.shell.nowTime = clock.WallNow();
    state.monitor.settingsLogLines.push_back("D" + std::to_string(index + 1) + *text +
                                             host.TimeStampText(state.shell.nowTime));
    return true;
}

}  // namespace raid::monitor
