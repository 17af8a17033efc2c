#include "platform/instance_lock.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <utility>
#include <vector>

#include "platform/program_folder.h"

namespace raid::platform {
namespace {

// A command line longer than this is cut: one line of a message is enough.
constexpr std::size_t kCommandTextMax = 160;

class FdGuard {
public:
    explicit FdGuard(int fd) : fd_(fd) {}
    ~FdGuard() {
        if (fd_ >= 0) ::close(fd_);
    }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    int Get() const { return fd_; }
    int Take() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// At most `max` bytes of a file of /proc, which stat says are 0 bytes long.
std::string ReadProcFile(const std::string& path, std::size_t max) {
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[4096];
    while (text.size() < max) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return text;
}

// The words of /proc/PID/cmdline with blanks between them and control
// characters shown as '?'; empty when it cannot be read.
std::string CommandLineOf(int pid) {
    std::string text = ReadProcFile("/proc/" + std::to_string(pid) + "/cmdline", 4096);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    for (char& c : text) {
        if (c == '\0')
            c = ' ';
        else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) == 0x7F)
            c = '?';
    }
    if (text.size() > kCommandTextMax) text = text.substr(0, kCommandTextMax) + "...";
    return text;
}

template <typename Number>
bool ParseNumber(std::string_view text, Number& value, int base) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

// "fe:00:10952991": major and minor in hexadecimal, the inode in decimal.
bool SameFile(std::string_view field, dev_t device, ino_t inode) {
    const auto first = field.find(':');
    const auto second = field.find(':', first == std::string_view::npos ? first : first + 1);
    if (second == std::string_view::npos) return false;
    unsigned major = 0, minor = 0;
    unsigned long long number = 0;
    return ParseNumber(field.substr(0, first), major, 16) &&
           ParseNumber(field.substr(first + 1, second - first - 1), minor, 16) &&
           ParseNumber(field.substr(second + 1), number, 10) && major == ::major(device) &&
           minor == ::minor(device) && number == inode;
}

std::string OwnerText(uid_t uid) { return uid == 0 ? "root" : "user " + std::to_string(uid); }

InstanceLock::Result Refusal(InstanceLock::Outcome outcome, std::string error) {
    InstanceLock::Result result;
    result.outcome = outcome;
    result.error = std::move(error);
    return result;
}

constexpr const char* kNeedsRoot =
    "; driving the enclosures directly needs root (or the running raid-monitor service)";

// A refused open or create: for want of rights, or for another reason.
InstanceLock::Result OpenRefusal(int error, const std::string& what) {
    const std::string text = what + ": " + std::strerror(error);
    if (error == EACCES || error == EPERM)
        return Refusal(InstanceLock::Outcome::NotPermitted, text + kNeedsRoot);
    return Refusal(InstanceLock::Outcome::Failed, text);
}

// Why a folder cannot hold a lock; `error` is the errno of a refused make
// or open, else 0.
struct FolderProblem {
    int error = 0;
    std::string text;
};

FolderProblem Problem(int error, std::string text) {
    if (error != 0) text += std::string(": ") + std::strerror(error);
    return {error, std::move(text)};
}

// Makes the folder when it is missing (`made` says whether this call did),
// with createParent its missing parent first; the problem when it cannot.
std::optional<FolderProblem> MakeFolder(const LockFolder& folder, bool& made) {
    if (::mkdir(folder.path.c_str(), folder.mode) == 0) {
        made = true;
        return std::nullopt;
    }
    if (errno == ENOENT && folder.createParent) {
        const std::string parent = std::filesystem::path(folder.path).parent_path().string();
        if (::mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST)
            return Problem(errno, "cannot make the folder " + parent);
        if (::mkdir(folder.path.c_str(), folder.mode) == 0) {
            made = true;
            return std::nullopt;
        }
    }
    if (errno == EEXIST) return std::nullopt;
    return Problem(errno, "cannot make the lock folder " + folder.path);
}

// The folder opened once and checked through that descriptor, so that what
// is checked is what the lock file is made in. Nullopt when it is safe.
std::optional<FolderProblem> OpenCheckedFolder(const LockFolder& folder, int& dirFd) {
    // A relative path would follow the working folder.
    if (folder.path.empty() || folder.path.front() != '/')
        return Problem(0, "the lock folder \"" + folder.path + "\" is not an absolute path");
    bool made = false;
    if (folder.createIfMissing) {
        if (auto problem = MakeFolder(folder, made)) return problem;
    }
    dirFd = ::open(folder.path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0) {
        const int error = errno;
        struct stat st {};
        if (::lstat(folder.path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            return Problem(0, "the lock folder " + folder.path + " is a symbolic link");
        return Problem(error, "cannot open the lock folder " + folder.path);
    }
    struct stat st {};
    if (::fstat(dirFd, &st) != 0)
        return Problem(errno, "cannot check the lock folder " + folder.path);
    // Whatever the umask made of it.
    if (made && ::fchmod(dirFd, folder.mode) == 0) st.st_mode = (st.st_mode & ~07777) | folder.mode;
    if (st.st_uid != folder.owner)
        return Problem(0, "the lock folder " + folder.path + " belongs to " + OwnerText(st.st_uid) +
                              ", not to " + OwnerText(folder.owner));
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return Problem(0, "the lock folder " + folder.path + " is writable by group or others");
    return std::nullopt;
}

std::optional<InstanceLock::Result> OpenSafeFolder(const LockFolder& folder, int& dirFd) {
    const auto problem = OpenCheckedFolder(folder, dirFd);
    if (!problem) return std::nullopt;
    if (problem->error == EACCES || problem->error == EPERM) {
        return Refusal(InstanceLock::Outcome::NotPermitted, problem->text + kNeedsRoot);
    }
    return Refusal(InstanceLock::Outcome::Failed, problem->text);
}

}  // namespace

LockFolder MachineLockFolder() {
    const char* override = std::getenv(kLockFolderVariable);
    if (override != nullptr && *override != '\0') return {override, false, 0};
    // systemd's RuntimeDirectory= names the same folder for the service;
    // the window program, started without it, finds the default.
    return {ServiceFolder("RUNTIME_DIRECTORY", kMachineLockFolder).string(), true, 0};
}

UserLockChoice ChooseUserLockFolder(const UserLockPlaces& places, uid_t user) {
    UserLockChoice choice;
    std::string refused;
    if (places.runtimeDir != nullptr && places.runtimeDir[0] != '\0') {
        const LockFolder runtime{places.runtimeDir, false, user, 0700};
        int dirFd = -1;
        const auto problem = OpenCheckedFolder(runtime, dirFd);
        if (dirFd >= 0) ::close(dirFd);
        if (!problem) {
            choice.folder = runtime;
            return choice;
        }
        refused = problem->text;
    }
    if (user == 0) {
        choice.folder = {kRootUserLockFolder, true, 0, 0700};
    } else {
        // A relative value is no folder (the XDG rule): it is passed over.
        std::string cache;
        if (places.cacheHome != nullptr && places.cacheHome[0] == '/')
            cache = places.cacheHome;
        else if (places.home != nullptr && places.home[0] == '/')
            cache = std::string(places.home) + "/.cache";
        // Without a home the lock refuses the relative path and says so.
        choice.folder = {(std::filesystem::path(cache) / kUserLockFolderName).string(), true, user,
                         0700, true};
    }
    if (!refused.empty())
        choice.warning = "$XDG_RUNTIME_DIR is not used for the lock: " + refused + "; using " +
                         choice.folder.path + " instead";
    return choice;
}

UserLockChoice ChooseUserLockFolder(uid_t user) {
    UserLockPlaces places{std::getenv("XDG_RUNTIME_DIR"), std::getenv("XDG_CACHE_HOME"),
                          std::getenv("HOME")};
    std::string home;
    if (places.home == nullptr || places.home[0] != '/') {
        // sudo and service managers may leave $HOME out.
        std::vector<char> buffer(16384);
        struct passwd entry {};
        struct passwd* found = nullptr;
        if (::getpwuid_r(user, &entry, buffer.data(), buffer.size(), &found) == 0 &&
            found != nullptr && found->pw_dir != nullptr) {
            home = found->pw_dir;
            places.home = home.c_str();
        }
    }
    return ChooseUserLockFolder(places, user);
}

std::optional<int> FlockHolderPid(std::string_view procLocks, dev_t device, ino_t inode) {
    std::istringstream lines{std::string(procLocks)};
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string id, kind, mandatory, mode, pid, file;
        words >> id >> kind;
        // "->" marks a process that waits for the lock, not one that holds it.
        if (kind != "FLOCK") continue;
        words >> mandatory >> mode >> pid >> file;
        int value = 0;
        if (SameFile(file, device, inode) && ParseNumber(std::string_view(pid), value, 10))
            return value;
    }
    return std::nullopt;
}

InstanceLock::~InstanceLock() { Release(); }

InstanceLock::Result InstanceLock::Acquire(const LockFolder& folder, const std::string& name) {
    Release();
    int rawDir = -1;
    const auto unsafe = OpenSafeFolder(folder, rawDir);
    FdGuard dir(rawDir);
    if (unsafe) return *unsafe;

    const std::string path = folder.path + "/" + name;
    // 0600: flock needs no write access, so a file anyone may read is a
    // file anyone may lock.
    FdGuard file(
        ::openat(dir.Get(), name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (file.Get() < 0) return OpenRefusal(errno, "cannot open the lock " + path);
    struct stat st {};
    if (::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return Refusal(Outcome::Failed, "the lock " + path + " is not a plain file");
    if (::flock(file.Get(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error != EWOULDBLOCK)
            return Refusal(Outcome::Failed, "cannot lock " + path + ": " + std::strerror(error));
        Result result;
        result.outcome = Outcome::HeldElsewhere;
        const auto pid = FlockHolderPid(ReadProcFile("/proc/locks", 1 << 20), st.st_dev, st.st_ino);
        if (pid && *pid > 0) {
            result.holderPid = *pid;
            result.holderCommand = CommandLineOf(*pid);
        }
        return result;
    }
    // A file left by an older copy may have other rights.
    if ((st.st_mode & 07777) != 0600) ::fchmod(file.Get(), 0600);
    fd_ = file.Take();
    return {Outcome::Acquired, 0, {}, {}};
}

void InstanceLock::Release() {
    if (fd_ < 0) return;
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

std::string HolderText(const InstanceLock::Result& result) {
    if (result.holderPid <= 0) return "an unknown process";
    std::string text = "pid " + std::to_string(result.holderPid);
    if (!result.holderCommand.empty()) text += " (" + result.holderCommand + ")";
    return text;
}

std::string RefusalText(const InstanceLock::Result& result, const std::string& path) {
    switch (result.outcome) {
        case InstanceLock::Outcome::Acquired:
            return {};
        case InstanceLock::Outcome::HeldElsewhere:
            return "another program already drives the enclosures of this machine: " +
                   HolderText(result) + " holds the lock " + path;
        case InstanceLock::Outcome::NotPermitted:
        case InstanceLock::Outcome::Failed:
            break;
    }
    return result.error;
}

}  // namespace raid::platform
