#pragma once
// The composite D-Bus types of the service's interface, registered with
// QtDBus once per process (RegisterBusTypes) before any call uses them.
#include <QDBusObjectPath>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QVariantMap>
#include <string>

namespace raid::client {

using InterfaceMap = QMap<QString, QVariantMap>;             // a{sa{sv}}
using ManagedObjects = QMap<QDBusObjectPath, InterfaceMap>;  // a{oa{sa{sv}}}

void RegisterBusTypes();

// What a client says when the service did not answer (`why`), or sent an
// answer it cannot read.
std::string NoAnswerText(const std::string& why);
std::string InvalidAnswerText();

}  // namespace raid::client

Q_DECLARE_METATYPE(raid::client::InterfaceMap)
Q_DECLARE_METATYPE(raid::client::ManagedObjects)
