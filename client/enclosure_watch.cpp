#include "client/enclosure_watch.h"

#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>

#include "client/bus_names.h"

namespace raid::client {

BusWatch::BusWatch(const QDBusConnection& connection, QObject* parent)
    : EnclosureWatch(parent), connection_(connection) {
    auto* owner = new QDBusServiceWatcher(bus::kServiceName, connection_,
                                          QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(owner, &QDBusServiceWatcher::serviceOwnerChanged, this, &BusWatch::onOwnerChanged);
    const QString service = bus::kServiceName;
    const QString objectManager = "org.freedesktop.DBus.ObjectManager";
    connection_.connect(service, bus::kManagerPath, objectManager, "InterfacesAdded", this,
                        SLOT(onChanged(QDBusMessage)));
    connection_.connect(service, bus::kManagerPath, objectManager, "InterfacesRemoved", this,
                        SLOT(onChanged(QDBusMessage)));
    // Any object's: the enclosures' status and the manager's state.
    connection_.connect(service, QString(), "org.freedesktop.DBus.Properties", "PropertiesChanged",
                        this, SLOT(onChanged(QDBusMessage)));
    connection_.connect(service, bus::kManagerPath, bus::kManagerInterface, "EventLine", this,
                        SLOT(onEventLine(QString)));
}

void BusWatch::onChanged(const QDBusMessage& message) {
    // Jobs' properties are the upgrade's business, not the enclosures'.
    if (message.path().startsWith(bus::kJobsPath)) return;
    Q_EMIT enclosuresChanged();
}

void BusWatch::onEventLine(const QString& line) { Q_EMIT eventLine(line); }

void BusWatch::onOwnerChanged(const QString&, const QString& before, const QString& after) {
    if (!before.isEmpty()) Q_EMIT serviceVanished();
    if (!after.isEmpty()) Q_EMIT serviceAppeared();
}

}  // namespace raid::client
