#pragma once
// The machine-wide lock of the raidctl commands that drive the enclosures
// in-process: `monitor`, `flash`, `buzzer` and `backup-period` hold it for
// their whole run, as the window program does, so that none of them changes
// or polls an enclosure while another program works on it.
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "cli/raidctl_args.h"
#include "platform/clock.h"
#include "platform/instance_lock.h"

namespace raid::cli {

// The slice of the wait for the lock, and how often the lock is tried again.
inline constexpr std::uint32_t kLockWaitSliceMs = 100;
inline constexpr std::uint32_t kLockRetryMs = 1000;

// Whether `args` run a command that holds the lock. Emulated enclosures
// (--simulate) are the program's own: they need none.
bool HoldsMachineLock(const Arguments& args);

// What `monitor` does while it waits for the lock.
struct LockWait {
    platform::Clock& clock;
    // True ends the wait (SIGINT, SIGTERM).
    std::function<bool()> stop;
    // The service manager's notifications; may be empty.
    std::function<void(const std::string&)> notify;
};

// Takes the lock `folder`/SAVI_GUI for the command of `args`. Nullopt once it
// is held; otherwise the exit code, after one line on `err`: 75 another
// program holds it, 77 this user may not take it, 78 the folder is not safe.
// `monitor` (but not `monitor --once`) waits instead of 75: says once on
// `err` whom it waits for, tells the service manager READY=1 and the
// STATUS, pings the watchdog at every try, and ends with 0 when `stop` says
// so.
std::optional<int> TakeMachineLock(platform::InstanceLock& lock, const platform::LockFolder& folder,
                                   const Arguments& args, std::ostream& err, const LockWait& wait);

}  // namespace raid::cli
