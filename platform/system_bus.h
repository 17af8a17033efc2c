#pragma once
// A question to the system bus that a program asks before it has an event
// loop: whether a name has an owner. Honours DBUS_SYSTEM_BUS_ADDRESS.
#include <optional>
#include <string>

namespace raid::platform {

// True or false; nullopt, with the reason in `error`, when the bus cannot
// be asked.
std::optional<bool> SystemBusNameHasOwner(const std::string& name, std::string& error);

}  // namespace raid::platform
