#pragma once
// An enclosure's status record and SMART sectors as D-Bus dictionaries
// (a{sv}) and back. The
// keys are the record's field names; a dictionary from the bus is outside
// input: a missing key or a value of the wrong type or range refuses it.
#include <QVariantMap>
#include <map>
#include <optional>

#include "client/bus_types.h"
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
// The Status property as the bus hands it over: a{sv}, still marshalled or
// not, or in a variant (Properties.Get).
std::optional<DeviceStatus> DecodeStatusValue(const QVariant& value);
// The enclosure objects of GetManagedObjects' answer by object path (other
// objects left out); none when an enclosure's Status is missing or does not
// decode.
std::optional<std::map<QString, DeviceStatus>> DecodeEnclosures(const ManagedObjects& objects);

// SMART sectors: the members' sectors must be 512 bytes each.
QVariantMap EncodeSmart(const SmartSectors& smart);
std::optional<SmartSectors> DecodeSmart(const QVariantMap& map);

}  // namespace raid::client
