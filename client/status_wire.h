#pragma once
// An enclosure's status record and SMART sectors as D-Bus dictionaries
// (a{sv}) and back. The
// keys are the record's field names; a dictionary from the bus is outside
// input: a missing key or a value of the wrong type or range refuses it.
#include <QVariantMap>
#include <optional>

#include "client/enclosure_records.h"
#include "common/state.h"

namespace raid::client {

// What discovery learnt of a device, as DeviceStatus::discoverySlot carries
// it (the poll's own bookkeeping stays behind); a wrong length gives a blank slot.
inline constexpr std::size_t kSlotBytes = 14;
std::vector<std::uint8_t> SlotBytes(const DeviceSlot& slot);
DeviceSlot SlotOf(const std::vector<std::uint8_t>& bytes);

QVariantMap EncodeStatus(const DeviceStatus& status);
std::optional<DeviceStatus> DecodeStatus(const QVariantMap& map);

// SMART sectors: the members' sectors must be 512 bytes each.
QVariantMap EncodeSmart(const SmartSectors& smart);
std::optional<SmartSectors> DecodeSmart(const QVariantMap& map);

}  // namespace raid::client
