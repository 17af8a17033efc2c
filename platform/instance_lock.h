#pragma once
// One program at a time per machine drives the enclosures: an exclusive flock
// on a lock file in a folder only root can write, shared by the window
// program and the monitor service. No other user can create the file or
// open it to lock it, so none can keep the service from its enclosures. The
// lock goes with the process, so a crashed copy never blocks the next start.
// Who holds it is the kernel's word (/proc/locks), never the file's content.
#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace raid::platform {

inline constexpr const char* kInstanceLockName = "SAVI_GUI";
// The service's runtime folder (systemd's RuntimeDirectory).
inline constexpr const char* kMachineLockFolder = "/run/raid-monitor";
// Names another folder for the lock, for tests of the programs; it must pass
// the same checks as the default folder and is never created.
inline constexpr const char* kLockFolderVariable = "RAID_LOCK_DIR";

struct LockFolder {
    std::string path;  // absolute
    // Made with `mode` when missing (its parent must exist).
    bool createIfMissing = false;
    // The owner the folder must have; it must not be a symbolic link nor
    // writable by group or others.
    uid_t owner = 0;
    mode_t mode = 0755;
    // With createIfMissing: a missing parent is made too, with mode 0700.
    bool createParent = false;
};

// $RUNTIME_DIRECTORY (the service under systemd), else kMachineLockFolder,
// made when missing; or the folder $RAID_LOCK_DIR names. Owned by root
// either way.
LockFolder MachineLockFolder();

// Root's client window when $XDG_RUNTIME_DIR does not serve: in /run, where
// no other user can make it first.
inline constexpr const char* kRootUserLockFolder = "/run/raidgui-0";
// Any other user's, under $XDG_CACHE_HOME (else ~/.cache): never in /tmp,
// where another user could make it first.
inline constexpr const char* kUserLockFolderName = "raidgui";

// Where a user's window looks for its lock folder: the variables' values, or
// null. `home` is $HOME, else the user's home in the password database.
struct UserLockPlaces {
    const char* runtimeDir = nullptr;  // $XDG_RUNTIME_DIR
    const char* cacheHome = nullptr;   // $XDG_CACHE_HOME
    const char* home = nullptr;
};

struct UserLockChoice {
    LockFolder folder;
    // One line for the user when $XDG_RUNTIME_DIR was given but refused:
    // which folder, why, and the one used instead. Empty otherwise.
    std::string warning;
};

// The window as a client of the service locks per user: two users may each
// have one. $XDG_RUNTIME_DIR when it is `user`'s own (checked now, as the
// lock checks it again), else kRootUserLockFolder for root and
// $XDG_CACHE_HOME/raidgui (default ~/.cache/raidgui) for any other user,
// made with mode 0700. Never fails: a fallback that is not safe either is
// refused by InstanceLock::Acquire.
UserLockChoice ChooseUserLockFolder(const UserLockPlaces& places, uid_t user);
// The same from this process's environment.
UserLockChoice ChooseUserLockFolder(uid_t user);

class InstanceLock {
public:
    enum class Outcome {
        Acquired,
        HeldElsewhere,  // another process holds it; see holderPid
        NotPermitted,   // this user may not create or open the lock file
        Failed,         // the folder is not safe, or another error; see error
    };
    struct Result {
        Outcome outcome = Outcome::Failed;
        // The holder as the kernel knows it: 0 and empty when unknown.
        int holderPid = 0;
        std::string holderCommand;  // its command line, blanks between words
        std::string error;          // why, for NotPermitted and Failed
    };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock `folder`/`name` (created with mode 0600). Never waits.
    Result Acquire(const LockFolder& folder, const std::string& name);
    void Release();
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// The process that holds a flock on the file (`device`, `inode`), read from
// the text of /proc/locks; nullopt when none is listed.
std::optional<int> FlockHolderPid(std::string_view procLocks, dev_t device, ino_t inode);

// "pid 1234 (raidgui --simulate)", "pid 1234" when its command line cannot
// be read, or "an unknown process".
std::string HolderText(const InstanceLock::Result& result);

// One line for the user about a lock that was not taken: who holds it, or
// why it could not be taken.
std::string RefusalText(const InstanceLock::Result& result, const std::string& path);

}  // namespace raid::platform
