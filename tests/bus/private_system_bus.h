#pragma once
// A private system bus for end-to-end tests: its own dbus-daemon with the
// system policy folder and the project's bus policy from the source tree, the
// real polkitd on it with the project's actions, and an unprivileged test
// user to run clients as. Never touches the host's own system bus.
//
// Needs root: it creates the test user and puts the actions file into
// polkit's system folder for its lifetime (polkitd reads no other). Every
// failure to set up throws std::runtime_error naming what is missing, so a
// test fails instead of skipping. Tests using it take turns (CTest
// RESOURCE_LOCK polkit_system_folders, and a machine-wide lock file for runs
// from several build trees).
//
// PrivateSessionBus, at the end, is the lighter kin for session-bus clients:
// no root, no polkit.
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace raid::test_support {

// RootWithoutCapabilities: uid 0 as raid-monitor.service runs it, with an
// empty capability bounding set, none inheritable and no new privileges.
enum class RunAs { TestUser, Root, RootWithoutCapabilities };

struct RunResult {
    int exitCode = -1;  // -1: killed by a signal or at the time limit
    bool timedOut = false;
    std::string out;
    std::string err;
};

// A folder of a bus's own under /tmp, removed with everything in it.
struct BusFolder;

// A program started in a session of its own, stdin /dev/null, standard output
// and error into `log`. Stopped (SIGTERM, then SIGKILL after 5 s) in the
// destructor.
class BusProcess {
public:
    BusProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               std::filesystem::path log);
    ~BusProcess() { Stop(); }
    BusProcess(const BusProcess&) = delete;
    BusProcess& operator=(const BusProcess&) = delete;

    bool Running();
    // What it has written so far.
    std::string Output() const;
    void Stop();
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    std::filesystem::path log_;
};

// A program on a pseudo-terminal of its own, which is its controlling
// terminal as at a login: what polkit's text agent needs to ask on. Killed
// with its session in the destructor.
class TerminalProcess {
public:
    TerminalProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env);
    ~TerminalProcess();
    TerminalProcess(const TerminalProcess&) = delete;
    TerminalProcess& operator=(const TerminalProcess&) = delete;

    // True once the terminal has shown `text`; false after `limit`.
    bool WaitFor(const std::string& text, std::chrono::milliseconds limit);
    // Keys typed at the terminal ("\x04" is Ctrl-D).
    void Type(const std::string& keys);
    // The exit code once it ended, -1 for a signal; nullopt at `limit`.
    std::optional<int> Wait(std::chrono::milliseconds limit);
    // The program's process id, also once it has ended.
    pid_t pid() const { return session_; }
    // Everything the terminal has shown so far.
    const std::string& Screen() const { return screen_; }

private:
    // Reads what the terminal shows, waiting at most `ms` for the first byte.
    void Read(int ms);

    pid_t pid_ = -1;  // -1 once reaped
    pid_t session_ = -1;
    int master_ = -1;
    std::string screen_;
};

class PrivateSystemBus {
public:
    static constexpr const char* kTestUser = "raidtest";
    static constexpr const char* kPolkitName = "org.freedesktop.PolicyKit1";

    // Starts dbus-daemon and polkitd and creates the test user when absent.
    PrivateSystemBus();
    ~PrivateSystemBus();
    PrivateSystemBus(const PrivateSystemBus&) = delete;
    PrivateSystemBus& operator=(const PrivateSystemBus&) = delete;

    // What DBUS_SYSTEM_BUS_ADDRESS is for every program run here.
    const std::string& address() const { return address_; }
    uid_t testUid() const { return testUid_; }

    // Runs `argv` (argv[0] looked up in the system folders) as `who` with a
    // clean environment (PATH, HOME, USER, LANG=C.UTF-8, the bus address, then
    // `env`, "NAME=value" each), in a session of its own without a terminal,
    // so polkit has no agent to ask; killed at `limit`.
    RunResult Run(RunAs who, const std::vector<std::string>& argv,
                  std::chrono::milliseconds limit = std::chrono::seconds(30),
                  const std::vector<std::string>& env = {}) const;

    // Starts a long-running program (a service) the same way; its output is
    // kept in the bus's folder. Destroy it before the bus.
    std::unique_ptr<BusProcess> Start(RunAs who, const std::vector<std::string>& argv,
                                      const std::vector<std::string>& env = {}) const;

    // Starts `argv` as `who`, as Run does but on a terminal of its own.
    std::unique_ptr<TerminalProcess> StartOnTerminal(RunAs who,
                                                     const std::vector<std::string>& argv) const;

    // True once `name` has an owner on this bus; false after `limit`.
    bool WaitForName(const std::string& name,
                     std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

    // The command line of a python3-dbusmock mock on this bus with `args`
    // after `--system`, for Start; throws when the module is missing.
    std::vector<std::string> DbusMock(const std::vector<std::string>& args) const;

    // Puts `javascript` into polkit's rules folder as the test's one rules
    // file (replacing an earlier one) and returns once polkitd has loaded it.
    void InstallRules(const std::string& javascript);
    // Removes that file and returns once polkitd has dropped it.
    void RemoveRules();

    // polkitd's output so far, for failure messages.
    std::string PolkitLog() const;

private:
    // The number of rules files polkitd reported at each load, in order,
    // counting only reports after byte `from` of its output.
    std::vector<int> RulesReports(std::size_t from) const;
    void WaitForRulesCount(int count, std::size_t from, const char* what) const;
    std::vector<std::string> Environment(RunAs who, const std::vector<std::string>& extra) const;
    std::vector<std::string> CommandLine(RunAs who, const std::vector<std::string>& argv) const;

    // Members in the order of setting up; torn down in reverse.
    struct MachineLock;
    struct RestoredFile;
    std::unique_ptr<MachineLock> lock_;
    std::unique_ptr<BusFolder> folder_;
    std::unique_ptr<BusProcess> dbus_;
    std::unique_ptr<RestoredFile> actions_;
    std::unique_ptr<RestoredFile> rules_;
    std::unique_ptr<BusProcess> polkit_;
    std::string address_;
    uid_t testUid_ = 0;
    // Names the output files of each run; Run may be called from several threads.
    mutable std::atomic<int> runs_{0};
};

// A private session bus: its own dbus-daemon that anyone may own names on
// and call, with nothing to start on demand (so a service missing on it
// stays missing whatever the host has installed). Needs no root. Every
// failure to set up throws std::runtime_error naming what is missing.
class PrivateSessionBus {
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    // What DBUS_SESSION_BUS_ADDRESS is for every program started here.
    const std::string& address() const { return address_; }

    // Starts a python3-dbusmock mock on this bus with `args` after
    // `--session`; throws when the module is missing. Destroy it before the
    // bus.
    std::unique_ptr<BusProcess> StartMock(const std::vector<std::string>& args) const;

    // True once `name` has an owner on this bus; false after `limit`.
    bool WaitForName(const std::string& name,
                     std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

private:
    RunResult Run(const std::vector<std::string>& argv, std::chrono::milliseconds limit) const;
    std::vector<std::string> Environment() const;

    std::unique_ptr<BusFolder> folder_;
    std::unique_ptr<BusProcess> dbus_;
    std::string address_;
    mutable std::atomic<int> runs_{0};
};

}  // namespace raid::test_support
