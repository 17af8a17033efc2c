#include "client/bus_types.h"

#include <QDBusMetaType>

namespace raid::client {

void RegisterBusTypes() {
    static const bool registered = [] {
        qDBusRegisterMetaType<InterfaceMap>();
        qDBusRegisterMetaType<ManagedObjects>();
        qDBusRegisterMetaType<QList<QVariantMap>>();
        // Signals relayed by the adaptors carry object paths.
        qRegisterMetaType<QDBusObjectPath>();
        return true;
    }();
    (void)registered;
}

}  // namespace raid::client
