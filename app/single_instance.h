#pragma once
// Keeps a second copy of the program from starting: an exclusive flock on a
// lock file in the runtime directory. The lock goes with the process, so a
// crashed copy never blocks the next start.
#include <string>

namespace raid::app {

// $XDG_RUNTIME_DIR when set and absolute, else /tmp.
std::string RuntimeDirectory();

class SingleInstanceLock {
public:
    SingleInstanceLock() = default;
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // Takes the lock on `directory`/`name`. False when another holder has it
    // (or the file cannot be made; then starting is still refused, since two
    // copies would drive the same controllers).
    bool Acquire(const std::string& directory, const std::string& name);
    void Release();

private:
    int fd_ = -1;
};

}  // namespace raid::app
