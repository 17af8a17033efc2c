#include "client/status_wire.h"

#include <QDBusArgument>
#include <QDBusVariant>
#include <QList>
#include <algorithm>
#include <limits>
#include <variant>

namespace raid::client {
namespace {

// One field of a record: its key and where it lives, so that encoding and
// decoding read one table and cannot drift apart.
template <typename Record>
struct Field {
    const char* key;
    std::variant<int Record::*, bool Record::*, std::uint8_t Record::*, std::uint32_t Record::*,
                 std::uint64_t Record::*, std::string Record::*,
                 std::vector<std::uint8_t> Record::*>
        member;
    // The exact length of a byte array.
    qsizetype bytes = 512;
};

const Field<MemberStatus> kMemberFields[] = {
    {"name", &MemberStatus::name},
    {"stateCode", &MemberStatus::stateCode},
    {"stateClass", &MemberStatus::stateClass},
    {"rebuilding", &MemberStatus::rebuilding},
    {"model", &MemberStatus::model},
    {"serial", &MemberStatus::serial},
    {"capacity", &MemberStatus::capacity},
};

const Field<SmartMemberSectors> kSmartMemberFields[] = {
    {"name", &SmartMemberSectors::name},   {"present", &SmartMemberSectors::present},
    {"model", &SmartMemberSectors::model}, {"word106Code", &SmartMemberSectors::word106Code},
    {"data", &SmartMemberSectors::data},   {"thresholds", &SmartMemberSectors::thresholds},
};

const Field<SmartSectors> kSmartFields[] = {
    {"index", &SmartSectors::index},
    {"disk", &SmartSectors::disk},
    {"path", &SmartSectors::path},
    {"model", &SmartSectors::model},
    {"thresholdsRead", &SmartSectors::thresholdsRead},
    {"dataRead", &SmartSectors::dataRead},
};

const Field<DeviceStatus> kDeviceFields[] = {
    {"index", &DeviceStatus::index},
    {"disk", &DeviceStatus::disk},
    {"path", &DeviceStatus::path},
    {"model", &DeviceStatus::model},
    {"firmware", &DeviceStatus::firmware},
    {"polled", &DeviceStatus::polled},
    {"pollOk", &DeviceStatus::pollOk},
    {"arrayMode", &DeviceStatus::arrayMode},
    {"configuredCapacity", &DeviceStatus::configuredCapacity},
    {"rebuildPercent", &DeviceStatus::rebuildPercent},
    {"sensors", &DeviceStatus::sensors},
    {"fanRpm", &DeviceStatus::fanRpm},
    {"temperature", &DeviceStatus::temperature},
    {"buzzerKnown", &DeviceStatus::buzzerKnown},
    {"buzzerMuted", &DeviceStatus::buzzerMuted},
    {"backupKnown", &DeviceStatus::backupKnown},
    {"backupPeriod", &DeviceStatus::backupPeriod},
    {"backupUnitHours", &DeviceStatus::backupUnitHours},
    {"backupWaitMinutes", &DeviceStatus::backupWaitMinutes},
    {"backingUp", &DeviceStatus::backingUp},
    {"tableEntry", &DeviceStatus::tableEntry},
    {"identifyRecord", &DeviceStatus::identifyRecord},
    {"statusRecord", &DeviceStatus::statusRecord},
    {"discoverySlot", &DeviceStatus::discoverySlot, static_cast<qsizetype>(kSlotBytes)},
};

template <typename Record, std::size_t N>
QVariantMap Encode(const Record& record, const Field<Record> (&fields)[N]) {
    QVariantMap map;
    for (const auto& f : fields) {
        std::visit(
            [&](auto member) {
                const auto& value = record.*member;
                using T = std::decay_t<decltype(value)>;
                if constexpr (std::is_same_v<T, std::string>)
                    map.insert(f.key, QString::fromStdString(value));
                else if constexpr (std::is_same_v<T, std::uint8_t>)
                    map.insert(f.key, QVariant::fromValue<uchar>(value));
                else if constexpr (std::is_same_v<T, std::uint32_t>)
                    map.insert(f.key, QVariant::fromValue<uint>(value));
                else if constexpr (std::is_same_v<T, std::uint64_t>)
                    map.insert(f.key, QVariant::fromValue<qulonglong>(value));
                else if constexpr (std::is_same_v<T, std::vector<std::uint8_t>>) {
                    // Always the length the reader requires; missing bytes are zero.
                    QByteArray bytes(f.bytes, '\0');
                    std::copy_n(value.begin(), std::min<qsizetype>(f.bytes, value.size()),
                                bytes.begin());
                    map.insert(f.key, bytes);
                } else
                    map.insert(f.key, QVariant::fromValue(value));
            },
            f.member);
    }
    return map;
}

// The exact D-Bus type is required: a sender that puts a string where a
// number belongs is refused, not converted.
template <typename T>
bool Take(const QVariant& v, T& out, qsizetype bytesWanted) {
    if constexpr (std::is_same_v<T, std::string>) {
        if (v.metaType() != QMetaType::fromType<QString>()) return false;
        out = v.toString().toStdString();
    } else if constexpr (std::is_same_v<T, bool>) {
        if (v.metaType() != QMetaType::fromType<bool>()) return false;
        out = v.toBool();
    } else if constexpr (std::is_same_v<T, std::uint8_t>) {
        if (v.metaType() != QMetaType::fromType<uchar>()) return false;
        out = static_cast<std::uint8_t>(v.value<uchar>());
    } else if constexpr (std::is_same_v<T, std::uint32_t>) {
        if (v.metaType() != QMetaType::fromType<uint>()) return false;
        out = v.toUInt();
    } else if constexpr (std::is_same_v<T, std::uint64_t>) {
        if (v.metaType() != QMetaType::fromType<qulonglong>()) return false;
        out = v.toULongLong();
    } else if constexpr (std::is_same_v<T, std::vector<std::uint8_t>>) {
        if (v.metaType() != QMetaType::fromType<QByteArray>()) return false;
        const QByteArray bytes = v.toByteArray();
        if (bytes.size() != bytesWanted) return false;
        out.assign(bytes.begin(), bytes.end());
    } else {
        if (v.metaType() != QMetaType::fromType<int>()) return false;
        out = v.toInt();
    }
    return true;
}

template <typename Record, std::size_t N>
bool Decode(const QVariantMap& map, const Field<Record> (&fields)[N], Record& record) {
    for (const auto& f : fields) {
        const auto it = map.constFind(f.key);
        if (it == map.constEnd()) return false;
        const bool ok =
            std::visit([&](auto member) { return Take(*it, record.*member, f.bytes); }, f.member);
        if (!ok) return false;
    }
    return true;
}

// A dictionary inside a variant arrives from the bus as a QDBusArgument.
std::optional<QVariantMap> MapOf(const QVariant& v) {
    if (v.metaType() == QMetaType::fromType<QVariantMap>()) return v.toMap();
    if (v.metaType() != QMetaType::fromType<QDBusArgument>()) return std::nullopt;
    const auto arg = v.value<QDBusArgument>();
    if (arg.currentSignature() != "a{sv}") return std::nullopt;
    QVariantMap map;
    arg >> map;
    return map;
}

// A list of two dictionaries (aa{sv}, or av of a{sv}), decoded with `fields`.
template <typename Record, std::size_t N>
bool DecodePair(const QVariantMap& map, const char* key, const Field<Record> (&fields)[N],
                std::array<Record, 2>& out) {
    const auto members = map.constFind(key);
    if (members == map.constEnd()) return false;
    QVariantList list;
    if (members->metaType() == QMetaType::fromType<QVariantList>()) {
        list = members->toList();
    } else if (members->metaType() == QMetaType::fromType<QDBusArgument>()) {
        const auto arg = members->value<QDBusArgument>();
        if (arg.currentSignature() != "av") return false;
        arg >> list;
    } else {
        return false;
    }
    if (list.size() != 2) return false;
    for (int i = 0; i < 2; ++i) {
        QVariant item = list[i];
        if (item.metaType() == QMetaType::fromType<QDBusVariant>())
            item = item.value<QDBusVariant>().variant();
        const auto member = MapOf(item);
        if (!member || !Decode(*member, fields, out[static_cast<std::size_t>(i)])) return false;
    }
    return true;
}

}  // namespace

std::vector<std::uint8_t> SlotBytes(const DeviceSlot& slot) {
    return {slot.optionCapability, slot.featureMask,      slot.portMultiplier,
            slot.spiTypeByte,      slot.spiTypeRead,      slot.modelFromController,
            slot.memberOrder,      slot.hasSensors,       slot.rebuildTracking,
            slot.scheduleKind,     slot.scheduleBytes[0], slot.scheduleBytes[1],
            slot.scheduleBytes[2], slot.pageSelector};
}

DeviceSlot SlotOf(const std::vector<std::uint8_t>& bytes) {
    DeviceSlot slot;
    if (bytes.size() != kSlotBytes) return slot;
    std::uint8_t* fields[kSlotBytes] = {
        &slot.optionCapability, &slot.featureMask,      &slot.portMultiplier,
        &slot.spiTypeByte,      &slot.spiTypeRead,      &slot.modelFromController,
        &slot.memberOrder,      &slot.hasSensors,       &slot.rebuildTracking,
        &slot.scheduleKind,     &slot.scheduleBytes[0], &slot.scheduleBytes[1],
        &slot.scheduleBytes[2], &slot.pageSelector};
    for (std::size_t i = 0; i < kSlotBytes; ++i) *fields[i] = bytes[i];
    return slot;
}

QVariantMap EncodeStatus(const DeviceStatus& status) {
    QVariantMap map = Encode(status, kDeviceFields);
    QVariantList members;
    for (const auto& m : status.members) members.push_back(Encode(m, kMemberFields));
    map.insert("members", members);
    return map;
}

std::optional<DeviceStatus> DecodeStatus(const QVariantMap& map) {
    DeviceStatus status;
    std::array<MemberStatus, 2> members;
    if (!Decode(map, kDeviceFields, status) || !DecodePair(map, "members", kMemberFields, members))
        return std::nullopt;
    status.members[0] = members[0];
    status.members[1] = members[1];
    return status;
}

QVariantMap EncodeSmart(const SmartSectors& smart) {
    QVariantMap map = Encode(smart, kSmartFields);
    QVariantList members;
    for (const auto& m : smart.members) members.push_back(Encode(m, kSmartMemberFields));
    map.insert("members", members);
    return map;
}

std::optional<SmartSectors> DecodeSmart(const QVariantMap& map) {
    SmartSectors smart;
    if (!Decode(map, kSmartFields, smart) ||
        !DecodePair(map, "members", kSmartMemberFields, smart.members))
        return std::nullopt;
    return smart;
}

}  // namespace raid::client
