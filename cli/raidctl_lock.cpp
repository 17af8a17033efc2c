#include "cli/raidctl_lock.h"

namespace raid::cli {
namespace {

using Outcome = platform::InstanceLock::Outcome;

int RefusalCode(Outcome outcome) {
    switch (outcome) {
        case Outcome::HeldElsewhere:
            return kExitBusy;
        case Outcome::NotPermitted:
            return kExitNotAuthorized;
        case Outcome::Acquired:
        case Outcome::Failed:
            break;
    }
    return kExitConfig;
}

}  // namespace

bool HoldsMachineLock(const Arguments& args) {
    if (args.simulate) return false;
    switch (args.command) {
        case Command::Monitor:
        case Command::Flash:
        case Command::Buzzer:
        case Command::BackupPeriod:
            return true;
        default:
            return false;
    }
}

std::optional<int> TakeMachineLock(platform::InstanceLock& lock, const platform::LockFolder& folder,
                                   const Arguments& args, std::ostream& err, const LockWait& wait) {
    const std::string path = folder.path + "/" + platform::kInstanceLockName;
    auto notify = [&wait](const std::string& what) {
        if (wait.notify) wait.notify(what);
    };
    auto taken = lock.Acquire(folder, platform::kInstanceLockName);
    const bool waits = args.command == Command::Monitor && !args.once;
    if (taken.outcome == Outcome::HeldElsewhere && waits) {
        const std::string holder = platform::HolderText(taken);
        err << "raidctl: waiting for the lock held by " << OneLine(holder) << "\n";
        err.flush();
        // Started, as far as the service manager is concerned: its start
        // time-out must not end a wait that may last as long as the window.
        notify("READY=1");
        notify("STATUS=waiting for the lock held by " +
               (taken.holderPid > 0 ? "pid " + std::to_string(taken.holderPid) : holder));
        while (taken.outcome == Outcome::HeldElsewhere) {
            for (std::uint32_t waited = 0; waited < kLockRetryMs; waited += kLockWaitSliceMs) {
                if (wait.stop && wait.stop()) return kExitOk;
                wait.clock.SleepMs(kLockWaitSliceMs);
            }
            notify("WATCHDOG=1");
            taken = lock.Acquire(folder, platform::kInstanceLockName);
        }
        notify("STATUS=");
    }
    if (taken.outcome == Outcome::Acquired) return std::nullopt;
    err << "raidctl: " << OneLine(platform::RefusalText(taken, path)) << "\n";
    return RefusalCode(taken.outcome);
}

}  // namespace raid::cli
