#include "client/enclosure_watch.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <algorithm>
#include <optional>
#include <set>

#include "client/bus_names.h"
#include "client/bus_types.h"
#include "client/status_wire.h"

namespace raid::client {
namespace {

const char* const kObjectManager = "org.freedesktop.DBus.ObjectManager";
const char* const kProperties = "org.freedesktop.DBus.Properties";
constexpr int kReadTimeoutMs = 25000;

QDBusMessage CallOf(const QString& path, const char* interface, const char* method) {
    QDBusMessage call = QDBusMessage::createMethodCall(bus::kServiceName, path, interface, method);
    // Watching never starts a service that is not running.
    call.setAutoStartService(false);
    return call;
}

// A signal's dictionary argument, as QtDBus hands it over still marshalled.
template <typename Map>
std::optional<Map> DictionaryOf(const QVariant& v, const char* signature) {
    if (v.metaType() != QMetaType::fromType<QDBusArgument>()) return std::nullopt;
    const auto arg = v.value<QDBusArgument>();
    if (arg.currentSignature() != signature) return std::nullopt;
    Map map;
    arg >> map;
    return map;
}

// Two objects at one index would leave "by index" meaningless.
bool UniqueIndexes(const std::map<QString, DeviceStatus>& enclosures) {
    std::set<int> seen;
    for (const auto& [path, status] : enclosures)
        if (!seen.insert(status.index).second) return false;
    return true;
}

// The object a signal is about: InterfacesAdded and InterfacesRemoved name
// it in their first argument.
QString ObjectOf(const QDBusMessage& message) {
    if (message.member() == "PropertiesChanged") return message.path();
    const QVariantList args = message.arguments();
    if (args.isEmpty() || args[0].metaType() != QMetaType::fromType<QDBusObjectPath>())
        return QString();
    return args[0].value<QDBusObjectPath>().path();
}

}  // namespace

void EnclosureWatch::setEnclosures(Standing standing, std::vector<DeviceStatus> devices,
                                   std::string why, PollTexts texts) {
    if (standing != Standing::Serving) devices.clear();
    std::stable_sort(devices.begin(), devices.end(),
                     [](const auto& a, const auto& b) { return a.index < b.index; });
    if (standing == standing_ && devices == devices_ && why == why_ && texts == texts_) return;
    standing_ = standing;
    devices_ = std::move(devices);
    why_ = std::move(why);
    texts_ = std::move(texts);
    Q_EMIT enclosuresChanged();
}

BusWatch::BusWatch(const QDBusConnection& connection, QObject* parent)
    : EnclosureWatch(parent), connection_(connection) {
    RegisterBusTypes();
    auto* owner = new QDBusServiceWatcher(bus::kServiceName, connection_,
                                          QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(owner, &QDBusServiceWatcher::serviceOwnerChanged, this, &BusWatch::onOwnerChanged);
    const QString service = bus::kServiceName;
    connection_.connect(service, bus::kManagerPath, kObjectManager, "InterfacesAdded", this,
                        SLOT(onSignal(QDBusMessage)));
    connection_.connect(service, bus::kManagerPath, kObjectManager, "InterfacesRemoved", this,
                        SLOT(onSignal(QDBusMessage)));
    // Any object's: the enclosures' status and the manager's state.
    connection_.connect(service, QString(), kProperties, "PropertiesChanged", this,
                        SLOT(onSignal(QDBusMessage)));
    connection_.connect(service, bus::kManagerPath, bus::kManagerInterface, "EventLine", this,
                        SLOT(onEventLine(QString)));
    // Whether the service is there already, the first read tells.
    setEnclosures(Standing::Asking);
    seed();
}

void BusWatch::onSignal(const QDBusMessage& message) {
    // Jobs are the upgrade's business, not the enclosures'.
    const QString object = ObjectOf(message);
    if (object.startsWith(bus::kJobsPath)) return;
    // A read under way may or may not hold what this tells: read again after.
    if (reads_ > 0) {
        dirty_ = true;
        return;
    }
    if (standing() != Standing::Serving || object.isEmpty() || !apply(message)) {
        seed();
        return;
    }
    tell();
}

bool BusWatch::apply(const QDBusMessage& message) {
    const QString member = message.member();
    if (member == "InterfacesAdded") return applyAdded(message);
    if (member == "InterfacesRemoved") return applyRemoved(message);
    return applyChanged(message);
}

bool BusWatch::applyAdded(const QDBusMessage& message) {
    if (message.signature() != "oa{sa{sv}}") return false;
    const auto interfaces = DictionaryOf<InterfaceMap>(message.arguments().value(1), "a{sa{sv}}");
    if (!interfaces) return false;
    const auto enclosure = interfaces->constFind(bus::kEnclosureInterface);
    if (enclosure == interfaces->cend()) return true;
    auto status = DecodeStatusValue(enclosure->value("Status"));
    if (!status) return false;
    enclosures_[ObjectOf(message)] = std::move(*status);
    return UniqueIndexes(enclosures_);
}

bool BusWatch::applyRemoved(const QDBusMessage& message) {
    if (message.signature() != "oas") return false;
    if (message.arguments().value(1).toStringList().contains(bus::kEnclosureInterface))
        enclosures_.erase(ObjectOf(message));
    return true;
}

bool BusWatch::applyChanged(const QDBusMessage& message) {
    // The manager's state: whether it serves at all.
    if (message.path() == bus::kManagerPath) return false;
    if (message.signature() != "sa{sv}as") return false;
    const QVariantList args = message.arguments();
    if (args[0].toString() != bus::kEnclosureInterface) return true;
    const auto known = enclosures_.find(message.path());
    const auto changed = DictionaryOf<QVariantMap>(args[1], "a{sv}");
    if (known == enclosures_.end() || !changed) return false;
    // Status holds every other property's value too.
    if (const auto status = changed->constFind("Status"); status != changed->cend()) {
        auto decoded = DecodeStatusValue(*status);
        if (!decoded) return false;
        known->second = std::move(*decoded);
        if (!UniqueIndexes(enclosures_)) return false;
    }
    if (args[2].toStringList().contains("Status")) readEnclosure(message.path());
    return true;
}

void BusWatch::seed() {
    ++seeds_;
    ++reads_;
    auto* read = new QDBusPendingCallWatcher(
        connection_.asyncCall(CallOf(bus::kManagerPath, kObjectManager, "GetManagedObjects"),
                              kReadTimeoutMs),
        this);
    connect(read, &QDBusPendingCallWatcher::finished, this, [this, read, at = generation_] {
        read->deleteLater();
        if (at != generation_) return;
        --reads_;
        const QDBusPendingReply<ManagedObjects> reply = *read;
        enclosures_.clear();
        if (reply.isError()) {
            const QDBusError error = reply.error();
            const QString why = error.message();
            if (error.name() == bus::kErrorBusy)
                setEnclosures(Standing::NotServing, {}, why.toStdString());
            else if (error.type() == QDBusError::ServiceUnknown ||
                     error.name() == "org.freedesktop.DBus.Error.NameHasNoOwner" ||
                     error.type() == QDBusError::Disconnected)
                setEnclosures(Standing::NoService);
            else
                setEnclosures(Standing::Unreadable, {}, NoAnswerText(why.toStdString()));
        } else if (auto decoded = DecodeEnclosures(reply.value());
                   decoded && UniqueIndexes(*decoded)) {
            enclosures_ = std::move(*decoded);
            tell();
        } else {
            setEnclosures(Standing::Unreadable, {}, InvalidAnswerText());
        }
        readDone();
    });
}

void BusWatch::readEnclosure(const QString& path) {
    ++reads_;
    QDBusMessage call = CallOf(path, kProperties, "Get");
    call << QString(bus::kEnclosureInterface) << QString("Status");
    auto* read = new QDBusPendingCallWatcher(connection_.asyncCall(call, kReadTimeoutMs), this);
    connect(read, &QDBusPendingCallWatcher::finished, this, [this, read, path, at = generation_] {
        read->deleteLater();
        if (at != generation_) return;
        --reads_;
        const QDBusPendingReply<QDBusVariant> reply = *read;
        auto decoded = reply.isError() ? std::nullopt : DecodeStatusValue(reply.value().variant());
        if (decoded && enclosures_.count(path) != 0) {
            enclosures_[path] = std::move(*decoded);
            if (UniqueIndexes(enclosures_))
                tell();
            else
                dirty_ = true;
        } else {
            dirty_ = true;  // gone meanwhile, or not understood: all again
        }
        readDone();
    });
}

void BusWatch::readDone() {
    if (reads_ > 0 || !dirty_) return;
    dirty_ = false;
    seed();
}

void BusWatch::tell() {
    std::vector<DeviceStatus> devices;
    for (const auto& [path, status] : enclosures_) devices.push_back(status);
    setEnclosures(Standing::Serving, std::move(devices));
}

void BusWatch::onEventLine(const QString& line) { Q_EMIT eventLine(line); }

void BusWatch::onOwnerChanged(const QString&, const QString& before, const QString& after) {
    ++generation_;
    reads_ = 0;
    dirty_ = false;
    enclosures_.clear();
    if (!before.isEmpty()) {
        Q_EMIT serviceVanished();
        setEnclosures(Standing::NoService);
    }
    if (!after.isEmpty()) {
        setEnclosures(Standing::Asking);
        seed();
        Q_EMIT serviceAppeared();
    }
}

}  // namespace raid::client
