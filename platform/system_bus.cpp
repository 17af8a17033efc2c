#include "platform/system_bus.h"

#include <systemd/sd-bus.h>

#include <cstring>

namespace raid::platform {

std::optional<bool> SystemBusNameHasOwner(const std::string& name, std::string& error) {
    sd_bus* bus = nullptr;
    int r = sd_bus_open_system(&bus);
    if (r < 0) {
        error = std::string("cannot reach the system bus: ") + std::strerror(-r);
        return std::nullopt;
    }
    sd_bus_error failure = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    r = sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "NameHasOwner", &failure, &reply, "s",
                           name.c_str());
    std::optional<bool> owned;
    int has = 0;
    if (r < 0) {
        error = std::string("the system bus did not answer: ") +
                (failure.message != nullptr ? failure.message : std::strerror(-r));
    } else if (sd_bus_message_read(reply, "b", &has) < 0) {
        error = "the system bus sent an answer that is not valid";
    } else {
        owned = has != 0;
    }
    sd_bus_error_free(&failure);
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
    return owned;
}

}  // namespace raid::platform
