#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>

namespace raid::platform {
namespace {

constexpr std::size_t kHolderTextMax = 256;

// "raidgui 1234\n" as the holder wrote it; empty when unreadable or odd.
std::string ReadHolder(int fd) {
    char buffer[kHolderTextMax] = {};
    const ssize_t got = ::pread(fd, buffer, sizeof buffer - 1, 0);
    if (got <= 0) return {};
    std::string_view text(buffer, static_cast<std::size_t>(got));
    if (const auto end = text.find('\n'); end != std::string_view::npos) text = text.substr(0, end);
    const auto space = text.rfind(' ');
    if (space == std::string_view::npos || space == 0) return {};
    const std::string_view pidText = text.substr(space + 1);
    long pid = 0;
    const auto [ptr, ec] = std::from_chars(pidText.data(), pidText.data() + pidText.size(), pid);
    if (ec != std::errc() || ptr != pidText.data() + pidText.size() || pid <= 0) return {};
    std::string name(text.substr(0, space));
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) == 0x7F) c = '?';
    return name + ", process " + std::to_string(pid);
}

void WriteHolder(int fd, const std::string& owner) {
    const std::string text = owner + " " + std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0) return;
    // Who holds the lock is a courtesy for the refused: a short write only
    // loses the name.
    [[maybe_unused]] const ssize_t written = ::pwrite(fd, text.data(), text.size(), 0);
}

}  // namespace

std::string MachineLockDirectory() {
    struct stat st {};
    if (::stat("/run/lock", &st) == 0 && S_ISDIR(st.st_mode)) return "/run/lock";
    return "/tmp";
}

InstanceLock::~InstanceLock() { Release(); }

InstanceLock::Result InstanceLock::Acquire(const std::string& directory, const std::string& name,
                                           const std::string& owner) {
    Release();
    Result result;
    const std::string path = directory + "/" + name;
    // Readable by everybody so that another user's copy can lock it too (flock
    // needs no write access); O_NOFOLLOW because the folder is shared.
    bool writable = true;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0 && (errno == EACCES || errno == EROFS)) {
        writable = false;
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    }
    if (fd < 0) {
        result.error = "cannot open the lock file " + path + ": " + std::strerror(errno);
        return result;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            result.outcome = Outcome::HeldElsewhere;
            result.holder = ReadHolder(fd);
        } else {
            result.error = "cannot lock " + path + ": " + std::strerror(error);
        }
        ::close(fd);
        return result;
    }
    if (writable) {
        ::fchmod(fd, 0644);  // whatever the umask made of it
        WriteHolder(fd, owner);
    }
    fd_ = fd;
    result.outcome = Outcome::Acquired;
    return result;
}

void InstanceLock::Release() {
    if (fd_ < 0) return;
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

std::string RefusalText(const InstanceLock::Result& result, const std::string& path) {
    switch (result.outcome) {
        case InstanceLock::Outcome::Acquired:
            return {};
        case InstanceLock::Outcome::HeldElsewhere:
            return "another program already manages the enclosures of this machine (" +
                   (result.holder.empty() ? std::string("holder unknown") : result.holder) +
                   "; lock " + path + ")";
        case InstanceLock::Outcome::Failed:
            break;
    }
    return result.error;
}

}  // namespace raid::platform
