#pragma once
// A running raid-sim-fuse with its loop device, for end-to-end tests and the
// loop benchmark. Header-only so that both can use it without a library.
// Everything it starts it also stops: the loop device, the mount, the daemon
// and the temporary folder go away in the destructor, even after a failure.
// Needs root, /dev/fuse, loop devices, losetup and fusermount3.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace raid::sim::fuse {

struct CommandResult {
    int exitCode = -1;  // -1: did not run or was killed
    bool timedOut = false;
    std::string out;
    std::string err;
};

// Runs `argv` (argv[0] a path) and collects its output; the program is killed
// when it runs longer than `timeoutMs`.
inline CommandResult RunCommand(const std::vector<std::string>& argv, int timeoutMs) {
    CommandResult result;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) return result;
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        execv(args[0], args.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    if (pid < 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            break;
        }
        if (::poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& p : fds) {
        if (p.fd >= 0) close(p.fd);
    }
    if (result.timedOut) kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!result.timedOut && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    return result;
}

// The full path of `program` in PATH or the system folders; empty if absent.
inline std::string FindProgram(const std::string& program) {
    std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    path += ":/usr/sbin:/sbin:/usr/bin:/bin";
    std::stringstream dirs(path);
    for (std::string dir; std::getline(dirs, dir, ':');) {
        if (dir.empty()) continue;
        const std::string candidate = dir + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

inline std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

class SimMount {
public:
    SimMount() = default;
    SimMount(const SimMount&) = delete;
    SimMount& operator=(const SimMount&) = delete;
    ~SimMount() { Stop(); }

    // Empty when this machine can run a mount, else what is missing.
    static std::string MissingPrerequisites() {
        std::string missing;
        auto add = [&](const std::string& what) {
            missing += (missing.empty() ? "" : "; ") + what;
        };
        if (geteuid() != 0) add("not running as root");
        if (access("/dev/fuse", R_OK | W_OK) != 0) add("/dev/fuse is missing or not accessible");
        if (access("/dev/loop-control", R_OK | W_OK) != 0) {
            add("no loop device support (/dev/loop-control)");
        }
        if (FindProgram("losetup").empty()) add("losetup not found");
        if (FindProgram("fusermount3").empty()) add("fusermount3 not found");
        return missing;
    }

    // Starts `simFuse` with `args` (e.g. {"--scenario", "raid1"}) on a new
    // temporary mount point, waits for the mount and, when `attachLoop`,
    // attaches a loop device with direct I/O to its `disk`. Returns an error
    // sentence, empty on success.
    std::string Start(const std::string& simFuse, const std::vector<std::string>& args,
                      bool attachLoop = true, int timeoutMs = 10000) {
        losetup_ = FindProgram("losetup");
        fusermount_ = FindProgram("fusermount3");
        char dir[] = "/tmp/raid-sim-fuse.XXXXXX";
        if (mkdtemp(dir) == nullptr) return "mkdtemp failed: " + std::string(strerror(errno));
        tempDir_ = dir;
        mountPoint_ = tempDir_ + "/mnt";
        logPath_ = tempDir_ + "/daemon.log";
        if (mkdir(mountPoint_.c_str(), 0755) != 0) return "mkdir failed";

        std::vector<std::string> argv{simFuse};
        argv.insert(argv.end(), args.begin(), args.end());
        argv.insert(argv.end(), {"-f", "--", mountPoint_});
        std::vector<char*> cargs;
        for (const std::string& a : argv) cargs.push_back(const_cast<char*>(a.c_str()));
        cargs.push_back(nullptr);
        const int log = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (log < 0) return "cannot create " + logPath_;
        daemon_ = fork();
        if (daemon_ == 0) {
            dup2(log, STDOUT_FILENO);
            dup2(log, STDERR_FILENO);
            execv(cargs[0], cargs.data());
            _exit(127);
        }
        ::close(log);
        if (daemon_ < 0) return "fork failed";

        if (!WaitForMount(timeoutMs)) {
            return "raid-sim-fuse did not mount within " + std::to_string(timeoutMs) +
                   " ms; its output: " + DaemonLog();
        }
        if (!attachLoop) return {};
        CommandResult r = RunCommand(
            {losetup_, "-f", "--show", "--direct-io=on", mountPoint_ + "/disk"}, timeoutMs);
        if (r.exitCode != 0) return "losetup failed: " + r.err;
        loopDevice_ = Trimmed(r.out);
        return {};
    }

    // Detaches, unmounts, ends the daemon and removes the temporary folder.
    // Safe to call more than once.
    void Stop() {
        if (!loopDevice_.empty()) {
            RunCommand({losetup_, "-d", loopDevice_}, 10000);
            loopDevice_.clear();
        }
        if (daemon_ > 0) {
            // The loop device may hold the file a moment after detaching.
            bool unmounted = false;
            for (int i = 0; i < 50 && !unmounted; ++i) {
                unmounted = RunCommand({fusermount_, "-u", mountPoint_}, 5000).exitCode == 0;
                if (!unmounted) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            if (!unmounted) RunCommand({fusermount_, "-u", "-z", mountPoint_}, 5000);
            if (!WaitDaemon(5000)) {
                kill(daemon_, SIGTERM);
                if (!WaitDaemon(2000)) {
                    kill(daemon_, SIGKILL);
                    WaitDaemon(2000);
                }
            }
            daemon_ = -1;
        }
        if (!tempDir_.empty()) {
            rmdir(mountPoint_.c_str());
            unlink(logPath_.c_str());
            rmdir(tempDir_.c_str());
            tempDir_.clear();
        }
    }

    // Sends SIGTERM to the daemon and waits for it to end; true when it did.
    bool Terminate(int timeoutMs) {
        if (daemon_ <= 0) return false;
        kill(daemon_, SIGTERM);
        if (!WaitDaemon(timeoutMs)) return false;
        daemon_ = -1;
        return true;
    }

    // True while the mount point is the root of another file system.
    bool IsMounted() const {
        struct stat parent {};
        struct stat st {};
        return stat(tempDir_.c_str(), &parent) == 0 && stat(mountPoint_.c_str(), &st) == 0 &&
               st.st_dev != parent.st_dev;
    }

    const std::string& MountPoint() const { return mountPoint_; }
    const std::string& LoopDevice() const { return loopDevice_; }
    // The daemon's process id while it runs, else -1.
    pid_t DaemonPid() const { return daemon_; }
    // Exit status of the daemon once it has ended, else -1.
    int DaemonExitStatus() const { return daemonStatus_; }

    // Writes one line to `control`; the error text, empty on success.
    std::string Control(const std::string& line) const {
        const int fd = ::open((mountPoint_ + "/control").c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) return "open control: " + std::string(strerror(errno));
        const std::string text = line + "\n";
        const ssize_t n = ::write(fd, text.data(), text.size());
        const int error = errno;
        ::close(fd);
        if (n != static_cast<ssize_t>(text.size()))
            return "control: " + std::string(strerror(error));
        return {};
    }

    std::vector<std::uint32_t> Trace() const {
        std::vector<std::uint32_t> lbas;
        std::ifstream in(mountPoint_ + "/trace");
        for (std::string line; std::getline(in, line);) {
            lbas.push_back(static_cast<std::uint32_t>(std::strtoul(line.c_str(), nullptr, 16)));
        }
        return lbas;
    }

    bool ClearTrace() const { return Control("clear").empty(); }

    std::string DaemonLog() const {
        std::ifstream in(logPath_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    bool WaitForMount(int timeoutMs) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            if (IsMounted() && access((mountPoint_ + "/disk").c_str(), F_OK) == 0) return true;
            if (WaitDaemon(0)) {
                daemon_ = -1;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    // True once the daemon has ended (it is then reaped).
    bool WaitDaemon(int timeoutMs) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            int status = 0;
            const pid_t r = waitpid(daemon_, &status, WNOHANG);
            if (r == daemon_ || (r < 0 && errno == ECHILD)) {
                if (r == daemon_ && WIFEXITED(status)) daemonStatus_ = WEXITSTATUS(status);
                return true;
            }
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    std::string losetup_;
    std::string fusermount_;
    std::string tempDir_;
    std::string mountPoint_;
    std::string logPath_;
    std::string loopDevice_;
    pid_t daemon_ = -1;
    int daemonStatus_ = -1;
};

}  // namespace raid::sim::fuse
