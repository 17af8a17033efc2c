#include "client/bus_types.h"

#include <QDBusMetaType>

#include "client/bus_names.h"

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

std::string NoAnswerText(const std::string& why) {
    return "the service " + std::string(bus::kServiceName) + " did not answer: " + why;
}

std::string InvalidAnswerText() {
    return "the service " + std::string(bus::kServiceName) + " sent an answer that is not valid";
}

}  // namespace raid::client
