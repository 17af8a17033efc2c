#include "service/enclosure_status.h"

#include <algorithm>

#include "client/status_wire.h"
#include "common/text.h"
#include "maintenance/period_setting.h"
#include "maintenance/schedule.h"
#include "monitor/pending_command.h"

namespace raid::service {
namespace {

constexpr std::uint8_t kBuzzerSounding = 0x01;  // record byte 56 bit 0: "Z", not muted
constexpr std::uint8_t kSensorsPresent = 0xA0;

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
    m.stateClass = ClassName(static_cast<std::uint8_t>(first ? flags & 0x0F : flags >> 4));
    m.rebuilding = (r[rec::kRebuildFlags] & (first ? 0x01 : 0x02)) != 0;
    m.model = TrimRight(
        text::MemberModelText(text::Field(r, first ? rec::kHdd1Model : rec::kHdd2Model, 40)));
    m.serial = TrimRight(
        text::SerialText(text::Field(r, first ? rec::kHdd1Serial : rec::kHdd2Serial, 20)));
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
    s.sensors = (r[rec::kEnvironment] & 0xF0) == kSensorsPresent;
    s.fanRpm = r[rec::kFanHigh] * 256u + r[rec::kFanLow];
    s.temperature = r[rec::kTemperature];
    const std::uint8_t capability =
        index < kDeviceSlots ? d.deviceSlots[static_cast<std::size_t>(index)].optionCapability : 0;
    s.buzzerKnown = (capability & kBuzzerCapability) != 0;
    s.buzzerMuted = (r[rec::kOptionBits] & kBuzzerSounding) == 0;
    const DeviceSlot slot =
        index < kDeviceSlots ? d.deviceSlots[static_cast<std::size_t>(index)] : DeviceSlot{};
    s.backupKnown = (capability & maintenance::kScheduleCapability) != 0;
    const maintenance::BackupStatus backup = maintenance::BackupStatusOf(r);
    s.backupPeriod = backup.period;
    s.backupUnitHours = monitor::PresetTableOf(slot).unitHours;
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
    }
    return s;
}

}  // namespace raid::service
