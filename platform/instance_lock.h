#pragma once
// One program at a time per machine drives the enclosures: an exclusive flock
// on a lock file in a machine-wide folder, shared by the window program and
// the monitor service. The lock goes with the process, so a crashed copy never
// blocks the next start. The holder writes its name and process id into the
// file so that a refused start can say who has it.
#include <string>

namespace raid::platform {

inline constexpr const char* kInstanceLockName = "SAVI_GUI";

// /run/lock when it is a folder, else /tmp: both are shared by every user.
std::string MachineLockDirectory();

class InstanceLock {
public:
    enum class Outcome {
        Acquired,
        HeldElsewhere,  // another process holds it; see holder
        Failed,         // the lock file could not be opened or locked; see error
    };
    struct Result {
        Outcome outcome = Outcome::Failed;
        std::string holder;  // "raidgui, process 1234"; empty when unknown
        std::string error;   // why it failed, for Outcome::Failed
    };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock `directory`/`name` for `owner` (a program name). Never
    // waits.
    Result Acquire(const std::string& directory, const std::string& name, const std::string& owner);
    void Release();
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// One line for the user about a start that was refused: who holds the lock,
// or why it could not be taken.
std::string RefusalText(const InstanceLock::Result& result, const std::string& path);

}  // namespace raid::platform
