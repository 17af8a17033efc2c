#include "platform/service_notify.h"

#include <systemd/sd-daemon.h>

namespace raid::platform {

void NotifyServiceManager(const std::string& state) {
    // Without NOTIFY_SOCKET this returns 0 at once; a failure to reach
    // systemd is not the monitor's to handle.
    sd_notify(0, state.c_str());
}

}  // namespace raid::platform
