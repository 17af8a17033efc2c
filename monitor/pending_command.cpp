#include "monitor/pending_command.h"

#include <algorithm>

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

std::uint32_t QueueSettingsCommand(MonitorState& monitor, std::uint8_t code, std::uint8_t p1,
                                   std::uint8_t p2, std::uint8_t p3, int device, bool report) {
    QueuedSetting s;
    s.ticket = ++monitor.lastSettingTicket;
    s.code = code;
    s.params = {p1, p2, p3};
    s.device = device;
    s.report = report;
    monitor.settingQueue.push_back(s);
    return s.ticket;
}

std::optional<SettingResult> TakeSettingResult(MonitorState& monitor, std::uint32_t ticket) {
    auto& files = monitor.settingResults;
    const auto it = std::find_if(files.begin(), files.end(),
                                 [ticket](const auto& f) { return f.first == ticket; });
    if (it == files.end()) return std::nullopt;
    const SettingResult r = it->second;
    files.erase(it);
    return r;
}

bool WithdrawSetting(MonitorState& monitor, std::uint32_t ticket) {
    auto& queue = monitor.settingQueue;
    const auto it = std::find_if(queue.begin(), queue.end(),
                                 [ticket](const QueuedSetting& s) { return s.ticket == ticket; });
    if (it == queue.end()) return false;
    queue.erase(it);
    return true;
}

namespace {

void File(MonitorState& monitor, const QueuedSetting& s, SettingResult r) {
    if (s.report) monitor.settingResults.emplace_back(s.ticket, r);
}

// Everything queued is dropped unsent: the worker's request for it ends here.
void DropQueue(MonitorState& monitor) {
    while (!monitor.settingQueue.empty()) {
        File(monitor, monitor.settingQueue.front(), {});
        monitor.settingQueue.pop_front();
    }
}

// Opens device `index`'s disk for a command; the disk, or -1 after telling
// the user.
int OpenFor(AppState& state, device::CommandChannel& ch, MonitorHost& host, int index) {
    auto& d = state.discovery;
    const bool known = index >= 0 && index < d.deviceCount && index < kDeviceSlots;
    if (known) d.currentDevice = index;
    const int disk = known ? d.DiskOf(index) : -1;
    if (!known || !device::OpenDevice(ch, disk)) {
        host.Message("Invalid Drive", "");
        return -1;
    }
    return disk;
}

}  // namespace

bool ApplyPendingCommand(AppState& state, device::CommandChannel& ch, platform::Clock& clock,
                         MonitorHost& host, std::uint8_t* result) {
    auto& d = state.discovery;
    auto& monitor = state.monitor;
    if (state.shell.operationDeviceIndex.load() != kNoOperationDevice ||
        host.DeviceSwitchInProgress()) {
        DropQueue(monitor);
        return false;
    }
    if (d.deviceCount <= 0) {
        host.SetStatusPanel(4, "Device not found!!!");
        host.Message("No Device found !", "Message");
        DropQueue(monitor);
        return false;
    }
    if (monitor.settingQueue.empty()) return OpenFor(state, ch, host, host.SelectedDevice()) >= 0;

    bool allSent = true;
    // Commands queued from the events pumped while one is sent go out too.
    while (!monitor.settingQueue.empty()) {
        const QueuedSetting s = monitor.settingQueue.front();
        monitor.settingQueue.pop_front();
        const int index = s.device >= 0 ? s.device : host.SelectedDevice();
        const int disk = OpenFor(state, ch, host, index);
        if (disk < 0) {
            File(monitor, s, {});
            allSent = false;
            continue;
        }

        clock.SleepMs(kCommandPauseMs);
        device::SetCommandParameters(ch, s.code, s.params[0], s.params[1], s.params[2]);
        device::ReplySector reply{};
        const std::uint8_t answer = device::QueryController(ch, disk, s.code, reply);
        if (result != nullptr) *result = answer;
        File(monitor, s, {true, answer});
        if (answer != device::kResultSuccess) continue;

        const BackupPresetTable presets =
            PresetTableOf(d.deviceSlots[static_cast<std::size_t>(index)]);
        if (s.code >= device::cmd::kBackupPreset0 && s.code <= device::cmd::kBackupPreset3)
            ch.params[1] = presets.entries[s.code - device::cmd::kBackupPreset0];
        const auto text = SettingsLineText(s.code, ch.params[0], ch.params[1], presets.unitHours);
        if (!text) continue;
        state.shell.nowTime = clock.WallNow();
        monitor.settingsLogLines.push_back("D" + std::to_string(index + 1) + *text +
                                           host.TimeStampText(state.shell.nowTime));
    }
    return allSent;
}

}  // namespace raid::monitor
