#pragma once
// The composite D-Bus types of the service's interface, registered with
// QtDBus once per process (RegisterBusTypes) before any call uses them.
#include <QDBusObjectPath>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QVariantMap>

namespace raid::client {

using InterfaceMap = QMap<QString, QVariantMap>;             // a{sa{sv}}
using ManagedObjects = QMap<QDBusObjectPath, InterfaceMap>;  // a{oa{sa{sv}}}

void RegisterBusTypes();

}  // namespace raid::client

Q_DECLARE_METATYPE(raid::client::InterfaceMap)
Q_DECLARE_METATYPE(raid::client::ManagedObjects)
