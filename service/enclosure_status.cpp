#include "service/enclosure_status.h"

#include <algorithm>

#include "client/status_wire.h"
#include "common/text.h"
#include "maintenance/period_setting.h"
#include "maintenance/schedule.h"
#include "monitor/pending_command.h"
#include "smart/attributes.h"

namespace raid::service {
namespace {

constexpr std::uint32_t kLastFirmwareWithoutSensors = 100125;

const char* ClassName(std::uint8_t nibble) {
    switch (nibble) {
        case diskstate::kHdd1Inserted:
            return "inserted";
        case diskstate::kHdd1Present:
            return "present";
        case diskstate::kHdd1Absent:
            return "absent";
        case diskstate::kHdd1Failed:
            return "failed";
        default:
            return "none";
    }
}

std::string TrimRight(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

MemberStatus DescribeMember(const Record512& r, int member) {
    const bool first = member == 0;
    MemberStatus m;
    m.name = first ? "HDD1" : "HDD2";
    m.stateCode = r[first ? rec::kHdd1State : rec::kHdd2State];
    const auto flags = r[rec::kDiskStateFlags];
    m.stateFlags = static_cast<std::uint8_t>(first ? flags & 0x0F : flags >> 4);
    m.stateClass = ClassName(m.stateFlags);
    m.rebuilding = (r[rec::kRebuildFlags] &
                    (first ? recbits::kHdd1Rebuilding : recbits::kHdd2Rebuilding)) != 0;
    const auto model = text::Field(r, first ? rec::kHdd1Model : rec::kHdd2Model, 40);
    m.model = TrimRight(text::MemberModelText(model));
    m.reportedModel = text::AtaText(model);
    const std::string serial =
        text::SerialText(text::Field(r, first ? rec::kHdd1Serial : rec::kHdd2Serial, 20));
    m.serialKept = !serial.empty();
    m.serial = TrimRight(serial);
    m.capacity =
        text::Capacity40(text::Field(r, first ? rec::kHdd1Capacity : rec::kHdd2Capacity, 6));
    return m;
}

std::string DeviceName(int index) { return "Device" + std::to_string(index + 1); }

std::string PlainIdentity(const AppState& state, int index,
                          const std::vector<platform::DiskInfo>& disks) {
    const platform::DiskInfo* info = DiskInfoOf(state, index, disks);
    if (info && !info->serial.empty()) return info->serial;
    if (info && !info->port.empty()) return info->port;
    return DeviceName(index);
}

}  // namespace

bool FirmwareImpliesSensors(const std::string& firmwareText) {
    if (firmwareText.size() < 7 || firmwareText[6] != '.') return false;
    std::uint32_t n = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        const auto c = static_cast<unsigned char>(firmwareText[i]);
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    return n > kLastFirmwareWithoutSensors;
}

std::string DeviceHint(const DiscoveryState& d, int deviceIndex) {
    std::string hint;
    const int disk = d.DiskOf(deviceIndex);
    if (disk < kMaxDisks)
        hint = text::ControllerModelText(d.identifyRecord[static_cast<std::size_t>(disk)]);
    hint += " [";
    bool first = true;
    for (const VolumeRecord& v : d.volumeTable) {
        if (v.driveType != platform::kDriveFixed || v.diskNumber != disk) continue;
        if (!first) hint += ' ';
        hint += v.label;
        first = false;
    }
    return hint + "]";
}

const platform::DiskInfo* DiskInfoOf(const AppState& state, int index,
                                     const std::vector<platform::DiskInfo>& disks) {
    const int disk = state.discovery.DiskOf(index);
    for (const auto& info : disks)
        if (info.number == disk) return &info;
    return nullptr;
}

std::string EnclosureIdentity(const AppState& state, int index,
                              const std::vector<platform::DiskInfo>& disks) {
    const std::string name = PlainIdentity(state, index, disks);
    const int shown = std::min(state.discovery.deviceCount, kShownDevices);
    bool shared = false;
    for (int other = 0; other < shown; ++other)
        shared = shared || (other != index && PlainIdentity(state, other, disks) == name);
    if (!shared) return name;
    const platform::DiskInfo* info = DiskInfoOf(state, index, disks);
    return name + "@" +
           (info && !info->port.empty() && info->port != name ? info->port : DeviceName(index));
}

DeviceStatus DescribeDevice(const AppState& state, int index,
                            const std::vector<platform::DiskInfo>& disks) {
    const auto& d = state.discovery;
    DeviceStatus s;
    s.index = index;
    s.disk = d.DiskOf(index);
    if (const platform::DiskInfo* info = DiskInfoOf(state, index, disks)) s.path = info->devicePath;
    s.identity = EnclosureIdentity(state, index, disks);
    if (s.disk >= kMaxDisks) return s;
    const auto& identify = d.identifyRecord[static_cast<std::size_t>(s.disk)];
    const auto& r = state.monitor.deviceStatusRecord[static_cast<std::size_t>(s.disk)];
    s.model = TrimRight(text::ControllerModelText(identify));
    s.firmware = text::FirmwareText(identify);
    s.arrayMode = r[rec::kArrayMode];
    s.configuredCapacity = text::Capacity40(text::Field(r, rec::kConfiguredCapacity, 6));
    s.members[0] = DescribeMember(r, 0);
    s.members[1] = DescribeMember(r, 1);
    s.rebuildPercent = r[rec::kRebuildPercent];
    const DeviceSlot slot =
        index < kDeviceSlots ? d.deviceSlots[static_cast<std::size_t>(index)] : DeviceSlot{};
    const std::uint8_t env = r[rec::kEnvironment];
    s.sensorsKnown = slot.hasSensors != 0 || FirmwareImpliesSensors(s.firmware);
    s.sensorsRead =
        (env & recbits::kSensorsMask) == recbits::kSensors && env != recbits::kNotAReading;
    s.sensors = s.sensorsKnown && s.sensorsRead;
    s.fanRpm = r[rec::kFanHigh] * 256u + r[rec::kFanLow];
    s.temperature = r[rec::kTemperature];
    s.fanFailure = (env & recbits::kFanFailure) != 0;
    s.overTemperature = (env & recbits::kOverTemperature) != 0;
    const std::uint8_t capability = slot.optionCapability;
    s.buzzerKnown = (capability & kBuzzerCapability) != 0;
    s.buzzerMuted = (r[rec::kOptionBits] & recbits::kBuzzerSounding) == 0;
    s.buzzerChangePending = slot.optionChangePending != 0;
    s.hint = DeviceHint(d, index);
    s.pages = slot.featureMask;
    s.backupKnown = (capability & maintenance::kScheduleCapability) != 0;
    const maintenance::BackupStatus backup = maintenance::BackupStatusOf(r);
    s.backupPeriod = backup.period;
    const monitor::BackupPresetTable presets = monitor::PresetTableOf(slot);
    s.backupUnitHours = presets.unitHours;
    s.backupPresets.assign(presets.entries.begin(), presets.entries.end());
    s.userPeriodKnown = maintenance::TakesUserPeriod(slot);
    s.backupWaitMinutes = maintenance::WaitMinutes(backup);
    s.backingUp = backup.backingUp;
    s.tableEntry = d.deviceTable[static_cast<std::size_t>(index)];
    s.identifyRecord.assign(identify.begin(), identify.end());
    s.statusRecord.assign(r.begin(), r.end());
    s.discoverySlot = client::SlotBytes(slot);
    return s;
}

client::SmartSectors SmartSectorsOf(const AppState& state, const smart::SmartState& tables,
                                    int index, const std::vector<platform::DiskInfo>& disks) {
    const DeviceStatus device = DescribeDevice(state, index, disks);
    client::SmartSectors s;
    s.index = index;
    s.disk = device.disk;
    s.path = device.path;
    s.model = device.model;
    s.thresholdsRead = tables.thresholdsRead;
    s.dataRead = tables.dataRead;
    const std::uint8_t flags =
        state.monitor
            .deviceStatusRecord[static_cast<std::size_t>(device.disk)][rec::kDiskStateFlags];
    for (int k = 0; k < smart::kSmartDisks; ++k) {
        client::SmartMemberSectors& m = s.members[static_cast<std::size_t>(k)];
        m.name = device.members[k].name;
        m.present = (flags & (k == 0 ? diskstate::kHdd1Present : diskstate::kHdd2Present)) != 0;
        m.model = device.members[k].model;
        m.word106Code = tables.Word106Code(index, k);
        const auto data = tables.DataBlock(index, k);
        const auto thresholds = tables.ThresholdBlock(index, k);
        m.data.assign(data.begin(), data.end());
        m.thresholds.assign(thresholds.begin(), thresholds.end());
        // Decoded once, here: every front shows these rows.
        m.view = smart::BuildSmartView(data, thresholds, m.word106Code);
    }
    return s;
}

}  // namespace raid::service
