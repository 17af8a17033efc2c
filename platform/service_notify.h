#pragma once
// Tells systemd how a service started with Type=notify is doing: "READY=1",
// "WATCHDOG=1", "STOPPING=1", "STATUS=...". Does nothing when the program
// was not started by systemd.
#include <string>

namespace raid::platform {

void NotifyServiceManager(const std::string& state);

}  // namespace raid::platform
