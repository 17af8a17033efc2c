#include "client/status_wire.h"

#include <QDBusArgument>
#include <QDBusVariant>
#include <QList>
#include <algorithm>
#include <limits>
#include <variant>

#include "client/bus_names.h"

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
    {"stateFlags", &MemberStatus::stateFlags},
    {"rebuilding", &MemberStatus::rebuilding},
    {"model", &MemberStatus::model},
    {"reportedModel", &MemberStatus::reportedModel},
    {"serial", &MemberStatus::serial},
    {"serialKept", &MemberStatus::serialKept},
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
    {"sensorsKnown", &DeviceStatus::sensorsKnown},
    {"sensorsRead", &DeviceStatus::sensorsRead},
    {"sensors", &DeviceStatus::sensors},
    {"fanRpm", &DeviceStatus::fanRpm},
    {"temperature", &DeviceStatus::temperature},
    {"fanFailure", &DeviceStatus::fanFailure},
    {"overTemperature", &DeviceStatus::overTemperature},
    {"buzzerKnown", &DeviceStatus::buzzerKnown},
    {"buzzerMuted", &DeviceStatus::buzzerMuted},
    {"buzzerChangePending", &DeviceStatus::buzzerChangePending},
    {"hint", &DeviceStatus::hint},
    {"pages", &DeviceStatus::pages},
    {"backupKnown", &DeviceStatus::backupKnown},
    {"backupPeriod", &DeviceStatus::backupPeriod},
    {"backupUnitHours", &DeviceStatus::backupUnitHours},
    {"backupPresets", &DeviceStatus::backupPresets, 4},
    {"userPeriodKnown", &DeviceStatus::userPeriodKnown},
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

// The dictionaries of a list (aa{sv}, or av of a{sv}) under `key`; none
// when it is not one.
std::optional<std::vector<QVariantMap>> MapsOf(const QVariantMap& map, const char* key) {
    const auto found = map.constFind(key);
    if (found == map.constEnd()) return std::nullopt;
    QVariantList list;
    if (found->metaType() == QMetaType::fromType<QVariantList>()) {
        list = found->toList();
    } else if (found->metaType() == QMetaType::fromType<QDBusArgument>()) {
        const auto arg = found->value<QDBusArgument>();
        if (arg.currentSignature() != "av" && arg.currentSignature() != "aa{sv}")
            return std::nullopt;
        if (arg.currentSignature() == "av") {
            arg >> list;
        } else {
            std::vector<QVariantMap> maps;
            arg.beginArray();
            while (!arg.atEnd()) {
                QVariantMap item;
                arg >> item;
                maps.push_back(item);
            }
            arg.endArray();
            return maps;
        }
    } else {
        return std::nullopt;
    }
    std::vector<QVariantMap> maps;
    for (QVariant item : list) {
        if (item.metaType() == QMetaType::fromType<QDBusVariant>())
            item = item.value<QDBusVariant>().variant();
        const auto one = MapOf(item);
        if (!one) return std::nullopt;
        maps.push_back(*one);
    }
    return maps;
}

// A list of two dictionaries, decoded with `fields`.
template <typename Record, std::size_t N>
bool DecodePair(const QVariantMap& map, const char* key, const Field<Record> (&fields)[N],
                std::array<Record, 2>& out) {
    const auto maps = MapsOf(map, key);
    if (!maps || maps->size() != 2) return false;
    for (std::size_t i = 0; i < 2; ++i)
        if (!Decode((*maps)[i], fields, out[i])) return false;
    return true;
}

// One SMART row as the engine decided it: the attribute and its status.
struct WireRow {
    std::uint8_t id = 0;
    std::uint8_t current = 0;
    std::uint8_t worst = 0;
    int threshold = -1;  // -1: none
    std::uint64_t raw = 0;
    std::uint8_t status = 0;
};

const Field<WireRow> kRowFields[] = {
    {"id", &WireRow::id},       {"current", &WireRow::current},
    {"worst", &WireRow::worst}, {"threshold", &WireRow::threshold},
    {"raw", &WireRow::raw},     {"status", &WireRow::status},
};

// The rows of a member's view: never more than a block holds, each with a
// status the reader knows.
constexpr int kMaxRows = smart::kAttributeEntries;

QVariantList EncodeRows(const smart::SmartView& view) {
    QVariantList rows;
    for (const smart::SmartRow& row : view.rows) {
        const smart::Attribute& a = row.attribute;
        WireRow w{a.id,  a.current, a.worst, a.threshold ? int{*a.threshold} : -1,
                  a.raw, row.status};
        rows.push_back(Encode(w, kRowFields));
    }
    return rows;
}

bool DecodeView(const QVariantMap& member, std::uint32_t word106Code, smart::SmartView& view) {
    const auto maps = MapsOf(member, "attributes");
    const auto overall = member.constFind("overall");
    std::uint8_t overallValue = 0;
    if (!maps || maps->size() > kMaxRows || overall == member.constEnd() ||
        !Take(*overall, overallValue, 0))
        return false;
    std::vector<smart::SmartRow> rows;
    for (const QVariantMap& map : *maps) {
        WireRow w;
        if (!Decode(map, kRowFields, w) || w.threshold < -1 || w.threshold > 255 ||
            w.raw >= (std::uint64_t{1} << 48))
            return false;
        if (w.status != smart::kStatusGood && w.status != smart::kStatusCountAlert &&
            w.status != smart::kStatusPendingAlert && w.status != smart::kStatusWarningAlert &&
            w.status != smart::kStatusError)
            return false;
        smart::Attribute a{w.id, w.current, w.worst, std::nullopt, w.raw};
        if (w.threshold >= 0) a.threshold = static_cast<std::uint8_t>(w.threshold);
        rows.push_back(smart::RowOf(a, w.status));
    }
    view = smart::ViewOf(std::move(rows), overallValue, word106Code);
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

std::optional<DeviceStatus> DecodeStatusValue(const QVariant& value) {
    const QVariant inner = value.metaType() == QMetaType::fromType<QDBusVariant>()
                               ? value.value<QDBusVariant>().variant()
                               : value;
    const auto map = MapOf(inner);
    return map ? DecodeStatus(*map) : std::nullopt;
}

std::optional<std::map<QString, DeviceStatus>> DecodeEnclosures(const ManagedObjects& objects) {
    std::map<QString, DeviceStatus> enclosures;
    for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
        const auto iface = it->constFind(bus::kEnclosureInterface);
        if (iface == it->cend()) continue;
        const auto status = iface->constFind("Status");
        if (status == iface->cend()) return std::nullopt;
        auto decoded = DecodeStatusValue(*status);
        if (!decoded) return std::nullopt;
        enclosures.emplace(it.key().path(), std::move(*decoded));
    }
    return enclosures;
}

QVariantMap EncodeSmart(const SmartSectors& smart) {
    QVariantMap map = Encode(smart, kSmartFields);
    QVariantList members;
    for (const auto& m : smart.members) {
        QVariantMap member = Encode(m, kSmartMemberFields);
        member.insert("attributes", EncodeRows(m.view));
        member.insert("overall", QVariant::fromValue<uchar>(m.view.overall));
        members.push_back(member);
    }
    map.insert("members", members);
    return map;
}

std::optional<SmartSectors> DecodeSmart(const QVariantMap& map) {
    SmartSectors smart;
    const auto members = MapsOf(map, "members");
    if (!Decode(map, kSmartFields, smart) || !members || members->size() != 2) return std::nullopt;
    for (std::size_t i = 0; i < 2; ++i) {
        SmartMemberSectors& m = smart.members[i];
        if (!Decode((*members)[i], kSmartMemberFields, m) ||
            !DecodeView((*members)[i], m.word106Code, m.view))
            return std::nullopt;
    }
    return smart;
}

}  // namespace raid::client
