#pragma once
// An enclosure's status record and SMART sectors as D-Bus dictionaries
// (a{sv}) and back. The
// keys are the record's field names; a dictionary from the bus is outside
// input: a missing key or a value of the wrong type or range refuses it.
#include <QVariantMap>
#include <optional>

#include "client/enclosure_records.h"

namespace raid::client {

QVariantMap EncodeStatus(const DeviceStatus& status);
std::optional<DeviceStatus> DecodeStatus(const QVariantMap& map);

// SMART sectors: the members' sectors must be 512 bytes each.
QVariantMap EncodeSmart(const SmartSectors& smart);
std::optional<SmartSectors> DecodeSmart(const QVariantMap& map);

}  // namespace raid::client
