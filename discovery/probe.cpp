#include "discovery/probe.h"

#include <algorithm>
#include <exception>

#include "discovery/device_changes.h"
#include "discovery/drive_enum.h"
#include "discovery/spi_range.h"
#include "monitor/status_decode.h"

namespace raid::discovery {
namespace {

namespace id {
// Byte positions of IdentifyRecord (the information reply, amended).
constexpr std::size_t kFirmware = 46;  // 46..53 take reply bytes 88..95
constexpr std::size_t kReplyFirmware = 88;
constexpr std::size_t kProductLow = 50;
constexpr std::size_t kProductHigh = 51;
constexpr std::size_t kMemberOrder = 49;  // bit 4
constexpr std::size_t kModel = 54;        // 40 bytes
constexpr std::size_t kSensors = 124;     // 124, 125 both 0 = has sensors
constexpr std::size_t kTemperature = 127;
constexpr std::size_t kFanHigh = 128;
constexpr std::size_t kFanLow = 129;
constexpr std::size_t kBuzzer = 130;
constexpr std::size_t kSchedule = 131;  // 131..133
constexpr std::size_t kExtension = 134;
constexpr std::size_t kWeeks = 135;
constexpr std::size_t kScheduleBytes = 136;  // 136..138
constexpr std::size_t kControllerModel = 160;
constexpr std::size_t kControllerCapacity = 200;  // 200..205
}  // namespace id

constexpr std::uint8_t kMemberOrderBit = 0x10;
constexpr std::size_t kSpiTypeOffset = 0x95;
constexpr std::uint8_t kFilledMark = 0xA0;
constexpr std::size_t kModelLength = 40;

// Answer of the 0x78 capability query.
constexpr std::size_t kSettingEchoCode = 81;
constexpr std::size_t kSettingEchoParam = 82;
constexpr std::size_t kSettingCapability = 83;
constexpr std::uint8_t kCapabilityParam = 0x33;

constexpr std::size_t kRebuildTotal = 94;  // 48-bit big-endian
constexpr std::uint64_t kMask48 = (std::uint64_t{1} << 48) - 1;

bool ScheduleValid(const Record512& identify) { return (identify[id::kExtension] & 0xE0) == 0xA0; }

std::uint64_t ReadLe48(const Record512& r, std::size_t offset) {
    std::uint64_t v = 0;
    for (std::size_t k = 6; k-- > 0;) v = (v << 8) | r[offset + k];
    return v;
}

void WriteLe48(Record512& r, std::size_t offset, std::uint64_t v) {
    for (std::size_t k = 0; k < 6; ++k) r[offset + k] = static_cast<std::uint8_t>(v >> (8 * k));
}

// Step 9: the model text, from the controller or from INQUIRY.
void FillModelText(device::CommandChannel& ch, int disk, Record512& identify, DeviceSlot& slot) {
    if (identify[id::kControllerModel] != 0) {
        slot.modelFromController = 1;
        std::copy_n(identify.begin() + id::kControllerModel, kModelLength,
                    identify.begin() + id::kModel);
        return;
    }
    auto handle = device::OpenDevice(ch, disk);
    if (!handle) return;
    std::array<std::uint8_t, platform::kInquirySize> inquiry{};
    bool ok = false;
    try {
        ok = handle->InquiryDevice(inquiry);
    } catch (const std::exception&) {
        ok = false;
    }
    handle.reset();
    if (!ok) return;
    // Vendor and product (INQUIRY 8..23) into ATA text order.
    for (std::size_t j = 0; j < 16; ++j) identify[id::kModel + j] = inquiry[8 + (j ^ 1)];
    std::fill(identify.begin() + id::kModel + 16, identify.begin() + id::kModel + kModelLength,
              ' ');
}

// Step 13: the first fill of the status record from the array status reply.
void FillStatusRecord(device::CommandChannel& ch, int disk, const Record512& identify,
                      DeviceSlot& slot, Record512& record) {
    device::ReplySector reply{};
    ch.clock.SleepMs(kQueryPauseMs);
    if (device::QueryController(ch, disk, device::cmd::kArrayStatus, reply) !=
        device::kResultSuccess)
        return;
    const bool alreadyFilled =
        record[rec::kDiskNumber] == disk && record[rec::kFilledMark] == kFilledMark;
    record[rec::kDiskNumber] = static_cast<std::uint8_t>(disk);
    record[rec::kFilledMark] = kFilledMark;
    monitor::DecodeArrayStatus(record, reply, (identify[id::kMemberOrder] & kMemberOrderBit) != 0,
                               alreadyFilled ? monitor::MemberFill::DiscoveryAlreadyFilled
                                             : monitor::MemberFill::DiscoveryFresh);
    const std::uint8_t rebuilding = record[rec::kRebuildFlags];
    if (rebuilding != 0) slot.rebuildTracking = 1;

    if (record[rec::kArrayMode] == 1) {  // mirroring: the controller knows the size
        ch.clock.SleepMs(kQueryPauseMs);
        if (device::QueryController(ch, disk, device::cmd::kRebuildProgress, reply) ==
            device::kResultSuccess) {
            WriteLe48(record, rec::kConfiguredCapacity,
                      monitor::ReadBigEndian(reply, kRebuildTotal, 6));
            record[rec::kRebuildPercent] = rebuilding != 0 ? monitor::RebuildPercent(reply) : 0;
        }
    } else if (slot.modelFromController != 0) {
        std::copy_n(identify.begin() + id::kControllerCapacity, 6,
                    record.begin() + rec::kConfiguredCapacity);
    } else {
        const std::uint64_t smaller =
            std::min(ReadLe48(record, rec::kHdd1Capacity), ReadLe48(record, rec::kHdd2Capacity));
        WriteLe48(record, rec::kConfiguredCapacity, (smaller * 2) & kMask48);
    }
}

// Step 15: fan, temperature and schedule-backup bytes.
void FillEnvironment(const Record512& identify, DeviceSlot& slot, Record512& record) {
    auto schedule = record.begin() + rec::kSchedule;
    if (slot.hasSensors == 0) {
        record[rec::kEnvironment] = 0xFF;
        std::fill_n(schedule, 4, 0);
        return;
    }
    record[rec::kEnvironment] = 0xA0;
    record[rec::kFanLow] = identify[id::kFanLow];
    record[rec::kFanHigh] = identify[id::kFanHigh];
    record[rec::kTemperature] = identify[id::kTemperature];
    if (!ScheduleValid(identify)) {
        std::fill_n(schedule, 4, 0);
        return;
    }
    schedule[0] = identify[id::kSchedule];
    schedule[1] = identify[id::kSchedule + 1];
    schedule[2] = identify[id::kSchedule + 2];
    schedule[3] = identify[id::kWeeks];
    slot.scheduleKind = identify[id::kExtension] & 0x1F;
    for (std::size_t k = 0; k < 3; ++k) slot.scheduleBytes[k] = identify[id::kScheduleBytes + k];
}

// The device an exclusive operation holds, if any: it must not be probed.
struct HeldDevice {
    int disk = -1;
    std::uint32_t entry = 0;
    DeviceSlot slot;
    Record512 identify{};
};

HeldDevice FindHeldDevice(const AppState& state) {
    HeldDevice held;
    const auto& d = state.discovery;
    const std::uint32_t op = state.shell.operationDeviceIndex.load();
    if (op == kNoOperationDevice || op >= static_cast<std::uint32_t>(d.deviceCount) ||
        op >= static_cast<std::uint32_t>(kDeviceTableSize))
        return held;
    held.entry = d.deviceTable[op];
    held.disk = static_cast<int>(held.entry & kDeviceEntryDiskMask);
    if (op < static_cast<std::uint32_t>(kDeviceSlots)) held.slot = d.deviceSlots[op];
    if (held.disk < kMaxDisks)
        held.identify = d.identifyRecord[static_cast<std::size_t>(held.disk)];
    return held;
}

// Whether the device that held position `index` after the last discovery
// is the one whose information reply is `identify`.
bool SameDeviceAsBefore(const DiscoveryState& d, int index, const Record512& identify) {
    if (index >= d.deviceCount || index >= kDeviceTableSize) return false;
    const int disk = d.DiskOf(index);
    return disk < kMaxDisks &&
           SameIdentity(d.previousIdentifyRecord[static_cast<std::size_t>(disk)], identify);
}

}  // namespace

void TakeInformationReply(Record512& identify) {
    std::copy_n(identify.begin() + id::kReplyFirmware, 8, identify.begin() + id::kFirmware);
}

bool ReadControllerIdentity(device::CommandChannel& ch, int disk, Record512& identify,
                            std::uint8_t& portMultiplier) {
    for (int attempt = 0; attempt < kSpiChunkAttempts; ++attempt) {
        if (ch.pump) ch.pump();
        if (device::QueryController(ch, disk, device::cmd::kInformation, identify) ==
            device::kResultSuccess) {
            TakeInformationReply(identify);
            portMultiplier = ch.controllerType;
            return true;
        }
    }
    identify = {};
    return false;
}

int ProbeDisks(AppState& state, device::CommandChannel& ch, const Notices& notices) {
    auto& d = state.discovery;
    const HeldDevice held = FindHeldDevice(state);
    int found = 0;
    int opened = 0;
    for (auto& r : d.identifyRecord) r.fill(0);
    if (held.disk >= 0 && held.disk < kMaxDisks)
        d.identifyRecord[static_cast<std::size_t>(held.disk)] = held.identify;

    // Devices past the fourth keep their results in a slot nobody reads.
    DeviceSlot overflow;
    auto slotOf = [&](int index) -> DeviceSlot& {
        return index < kDeviceSlots ? d.deviceSlots[static_cast<std::size_t>(index)] : overflow;
    };
    // Step 16: stop once as many disks were opened as the baseline counted.
    auto countOpened = [&] { return ++opened == d.physicalDiskCount; };

    for (int i = 0; i < kMaxDisks && found < kDeviceTableSize; ++i) {
        if (state.shell.closing.load()) return found;
        if (ch.pump) ch.pump();

        if (i == held.disk) {
            d.newDeviceTable[static_cast<std::size_t>(found)] = held.entry;
            slotOf(found) = held.slot;
            ++found;
            if (countOpened()) break;
            continue;
        }

        if (!device::OpenDevice(ch, i)) continue;  // closed again at once

        auto& identify = d.identifyRecord[static_cast<std::size_t>(i)];
        // Results of this device alone: a slot's earlier occupant may have
        // been another enclosure with other capabilities.
        DeviceSlot slot;
        d.probeEntry = i;
        std::uint32_t entry = static_cast<std::uint32_t>(i);
        if (device::QueryController(ch, i, device::cmd::kIdentify, identify) ==
            device::kResultSuccess) {
            slot.optionCapability = 0;
            ch.clock.SleepMs(kQueryPauseMs);
            if (device::QueryController(ch, i, device::cmd::kInformation, identify) ==
                device::kResultSuccess) {
                if ((identify[id::kBuzzer] & 0xF0) == 0x50)
                    slot.optionCapability |= kBuzzerCapability;
                if (ScheduleValid(identify)) slot.optionCapability |= 0x02;
                TakeInformationReply(identify);
                // Product codes 0x0050 and 0x0005 are bridges of other
                // products that answer the same protocol.
                const std::uint8_t lo = identify[id::kProductLow];
                if (identify[id::kProductHigh] != 0 || (lo != 0x50 && lo != 0x05)) {
                    entry = static_cast<std::uint32_t>(i) | kDeviceEntryRecognised;
                    slot.portMultiplier = ch.controllerType;
                }
            }
        }

        if ((entry & 0xF0) != 0) {
            std::array<std::uint8_t, 256> flash{};
            // A failed read leaves 0: better than the type of another device.
            slot.spiTypeRead =
                ReadSpiRange(ch, i, 0, static_cast<std::uint32_t>(flash.size()), flash, notices)
                    ? 1
                    : 0;
            slot.spiTypeByte = flash[kSpiTypeOffset];

            FillModelText(ch, i, identify, slot);
            slot.memberOrder = (identify[id::kMemberOrder] & kMemberOrderBit) != 0 ? 0 : 1;
            if (identify[id::kSensors] == 0 && identify[id::kSensors + 1] == 0) slot.hasSensors = 1;

            auto& record = state.monitor.deviceStatusRecord[static_cast<std::size_t>(i)];
            device::ReplySector reply{};
            device::SetCommandParameters(ch, device::cmd::kSetting, kCapabilityParam, 0xEF, 0xDF);
            ch.clock.SleepMs(kQueryPauseMs);
            if (device::QueryController(ch, i, device::cmd::kSetting, reply) ==
                    device::kResultSuccess &&
                reply[kSettingEchoCode] == device::cmd::kSetting &&
                reply[kSettingEchoParam] == kCapabilityParam)
                slot.optionCapability |=
                    static_cast<std::uint8_t>(0x80 | reply[kSettingCapability]);
            slot.featureMask = (slot.optionCapability & 0x02) != 0 ? 0x37 : 0x3D;

            FillStatusRecord(ch, i, identify, slot, record);

            if ((slot.optionCapability & kBuzzerCapability) != 0) {
                if (identify[id::kBuzzer] == 'Z')
                    record[rec::kOptionBits] |= 0x01;
                else
                    record[rec::kOptionBits] &= static_cast<std::uint8_t>(~0x01);
            }
            FillEnvironment(identify, slot, record);

            d.probeEntry = static_cast<int>(entry);
            slot.pageSelector = 0;
            DeviceSlot& kept = slotOf(found);
            if (SameDeviceAsBefore(d, found, identify)) {
                // The poll's bookkeeping of this device goes on.
                slot.optionChangePending = kept.optionChangePending;
                slot.failureCount = kept.failureCount;
                slot.rebuildTracking |= kept.rebuildTracking;
            }
            kept = slot;
            d.newDeviceTable[static_cast<std::size_t>(found)] = entry;
            ++found;
        }
        if (countOpened()) break;
    }
    return found;
}

int RunDiscovery(AppState& state, device::CommandChannel& ch, const Notices& notices) {
    BuildVolumeTable(state.discovery, notices, ch.pump);
    int found = ProbeDisks(state, ch, notices);
    if (found == 0 && !state.shell.closing.load()) found = ProbeDisks(state, ch, notices);
    state.discovery.newDeviceCount = found;
    return found;
}

bool ServeDetectRequest(AppState& state, device::CommandChannel& ch, const Notices& notices) {
    if (!state.shell.detectRequest.exchange(false)) return false;
    RunDiscovery(state, ch, notices);
    state.shell.detectBusy = false;
    state.shell.detectDone = true;
    return true;
}

}  // namespace raid::discovery
