#include "tests/bus/private_system_bus.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace raid::test_support {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kCleanPath = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
constexpr const char* kActionsFile = "/usr/share/polkit-1/actions/org.raidenclosure.manager.policy";
constexpr const char* kRulesFolder = "/etc/polkit-1/rules.d";
constexpr const char* kRulesName = "60-raidctl-test.rules";
constexpr const char* kLockFile = "/run/lock/raidenclosure-bus-tests.lock";
constexpr const char* kRulesReport = "Finished loading, compiling and executing ";

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) Fail("cannot write " + p.string());
    fs::permissions(p, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                           fs::perms::others_read);
}

// `program` itself when it names a path, else its full path in the clean
// PATH; empty when absent.
std::string Locate(const std::string& program) {
    if (program.find('/') != std::string::npos) {
        return ::access(program.c_str(), X_OK) == 0 ? program : std::string();
    }
    std::istringstream dirs(kCleanPath);
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = dir + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

// polkitd lives in different folders on different distributions.
std::string PolkitDaemon() {
    for (const char* p :
         {"/usr/lib/polkit-1/polkitd", "/usr/libexec/polkitd", "/usr/libexec/polkit-1/polkitd"}) {
        if (::access(p, X_OK) == 0) return p;
    }
    return {};
}

struct Tool {
    std::string path;
    const char* name;
    const char* package;
};

// What every private bus needs: its daemon, and dbus-send to ask it.
std::vector<Tool> BusTools() {
    return {{Locate("dbus-daemon"), "dbus-daemon", "dbus-daemon"},
            {Locate("dbus-send"), "dbus-send", "dbus-bin"}};
}

// Throws naming each of `tools` that is missing.
void RequireTools(const std::vector<Tool>& tools) {
    std::string missing;
    for (const Tool& t : tools) {
        if (t.path.empty()) {
            missing +=
                std::string(missing.empty() ? "" : ", ") + t.name + " (package " + t.package + ")";
        }
    }
    if (!missing.empty()) {
        Fail("the bus tests need " + missing + "; scripts/install-deps.sh installs them");
    }
}

// `words` as exec takes them, ending in a null pointer; valid while `words` is.
std::vector<char*> ExecList(const std::vector<std::string>& words) {
    std::vector<char*> list;
    for (const std::string& w : words) list.push_back(const_cast<char*>(w.c_str()));
    list.push_back(nullptr);
    return list;
}

// Starts `argv` in a session of its own (no controlling terminal), stdin
// /dev/null, standard output into `out`, standard error into `err`.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const fs::path& out, const fs::path& err) {
    std::vector<char*> args = ExecList(argv);
    std::vector<char*> envp = ExecList(env);

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const int create = O_WRONLY | O_CREAT | O_TRUNC | O_APPEND;
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, out.c_str(), create, 0644);
    if (err == out) {
        posix_spawn_file_actions_adddup2(&files, STDOUT_FILENO, STDERR_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&files, STDERR_FILENO, err.c_str(), create, 0644);
    }
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, args[0], &files, &attr, args.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&files);
    if (rc != 0) Fail("cannot start " + argv[0] + ": " + std::strerror(rc));
    return pid;
}

// The wait status of `pid`, or nullopt while it still runs at `deadline`.
std::optional<int> WaitUntil(pid_t pid, Clock::time_point deadline) {
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) return status;
        if (r < 0 && errno != EINTR) return -1;
        if (Clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(5ms);
    }
}

// Kills the session `pid` leads and reaps `pid`.
void KillSession(pid_t pid) {
    ::kill(-pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

// Runs `argv` (its program a full path) with `env`, its output kept in
// `folder` until read; killed with its session at `limit`.
RunResult RunIn(const fs::path& folder, const std::string& stem,
                const std::vector<std::string>& argv, const std::vector<std::string>& env,
                std::chrono::milliseconds limit) {
    const fs::path out = folder / (stem + ".out");
    const fs::path err = folder / (stem + ".err");
    const pid_t pid = Spawn(argv, env, out, err);
    RunResult result;
    const std::optional<int> status = WaitUntil(pid, Clock::now() + limit);
    if (!status) {
        result.timedOut = true;
        KillSession(pid);
    } else if (WIFEXITED(*status)) {
        result.exitCode = WEXITSTATUS(*status);
    }
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    std::error_code ec;
    fs::remove(out, ec);
    fs::remove(err, ec);
    return result;
}

// dbus-daemon with `config`, which goes into `folder` with its output.
std::unique_ptr<BusProcess> StartBusDaemon(const fs::path& folder, const std::string& config) {
    const fs::path file = folder / "bus.conf";
    WriteFile(file, config);
    return std::make_unique<BusProcess>(
        std::vector<std::string>{Locate("dbus-daemon"), "--config-file=" + file.string(),
                                 "--nofork", "--print-address"},
        std::vector<std::string>{"PATH=" + std::string(kCleanPath)}, folder / "dbus-daemon.log");
}

// The address a dbus-daemon from StartBusDaemon listens on, once it has
// printed all of it.
std::string AddressOf(BusProcess& dbus) {
    const auto deadline = Clock::now() + 10s;
    for (;;) {
        std::istringstream lines(dbus.Output());
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with("unix:") && lines.good()) return line;
        }
        if (!dbus.Running() || Clock::now() >= deadline) {
            Fail("dbus-daemon did not start; its output:\n" + dbus.Output());
        }
        std::this_thread::sleep_for(10ms);
    }
}

using Runner = std::function<RunResult(const std::vector<std::string>& argv)>;

// True once `name` has an owner on the bus dbus-send reaches with
// `busOption`; false after `limit`.
bool WaitForOwner(const Runner& run, const std::string& busOption, const std::string& name,
                  std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const RunResult r =
            run({"dbus-send", busOption, "--print-reply", "--dest=org.freedesktop.DBus",
                 "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:" + name});
        if (r.exitCode == 0 && r.out.find("boolean true") != std::string::npos) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
}

// The command line of a python3-dbusmock mock on the bus `busOption` names,
// with `args`; throws when `run` cannot import the module.
std::vector<std::string> DbusMockLine(const Runner& run, const std::string& busOption,
                                      const std::vector<std::string>& args) {
    const char* python = "/usr/bin/python3";
    if (Locate(python).empty() || run({python, "-c", "import dbusmock"}).exitCode != 0) {
        Fail("the bus tests need python3-dbusmock; scripts/install-deps.sh installs it");
    }
    std::vector<std::string> line{python, "-m", "dbusmock", busOption};
    line.insert(line.end(), args.begin(), args.end());
    return line;
}

passwd* User(RunAs who) {
    return ::getpwnam(who == RunAs::TestUser ? PrivateSystemBus::kTestUser : "root");
}

// The test user's uid, after creating the user when absent. It must stay
// unprivileged: no root, no disk group (raw disk access).
uid_t EnsureTestUser(const PrivateSystemBus& bus) {
    const char* name = PrivateSystemBus::kTestUser;
    if (::getpwnam(name) == nullptr) {
        const RunResult r =
            bus.Run(RunAs::Root, {"useradd", "--system", "--user-group", "--no-create-home",
                                  "--home-dir", "/nonexistent", "--shell", "/usr/sbin/nologin",
                                  "--comment", "RAID enclosure manager bus tests", name});
        constexpr int kUserExists = 9;  // another test made it meanwhile
        if (r.exitCode != 0 && r.exitCode != kUserExists) {
            Fail(std::string("cannot create the test user ") + name + ": " + r.err);
        }
    }
    const passwd* pw = ::getpwnam(name);
    if (pw == nullptr) Fail(std::string("the test user ") + name + " is missing after useradd");
    if (pw->pw_uid == 0) Fail(std::string("the test user ") + name + " has uid 0");
    int count = 0;
    ::getgrouplist(name, pw->pw_gid, nullptr, &count);
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    ::getgrouplist(name, pw->pw_gid, groups.data(), &count);
    const group* disk = ::getgrnam("disk");
    if (disk != nullptr && std::find(groups.begin(), groups.end(), disk->gr_gid) != groups.end()) {
        Fail(std::string("the test user ") + name +
             " is in the disk group, so it is not unprivileged (gpasswd -d " + name + " disk)");
    }
    return pw->pw_uid;
}

// The private bus: the system bus's own default policy (no one owns a name
// or calls a method unless a policy file allows it), the installed policies
// (polkit's among them) and the project's from the source tree.
std::string BusConfig(const fs::path& socket) {
    return R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=)" +
           socket.string() + R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <deny own="*"/>
    <deny send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/>
    <allow send_destination="org.freedesktop.DBus"
           send_interface="org.freedesktop.DBus.Introspectable"/>
    <allow send_destination="org.freedesktop.DBus"
           send_interface="org.freedesktop.DBus.Properties"/>
  </policy>
  <policy user="root">
    <allow send_destination="org.freedesktop.DBus"
           send_interface="org.freedesktop.DBus.Monitoring"/>
  </policy>
  <includedir>/usr/share/dbus-1/system.d</includedir>
  <include>)" RAID_DBUS_POLICY R"(</include>
</busconfig>
)";
}

// A session bus open to all, with no service folders: nothing is started on
// demand.
std::string SessionBusConfig(const fs::path& socket) {
    return R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=)" +
           socket.string() + R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
}

}  // namespace

// Runs from several build trees take turns too: the system folders are one.
struct PrivateSystemBus::MachineLock {
    MachineLock() {
        fd = ::open(kLockFile, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) Fail(std::string("cannot open ") + kLockFile + ": " + std::strerror(errno));
        const auto deadline = Clock::now() + 300s;
        while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (Clock::now() >= deadline) {
                ::close(fd);
                Fail(std::string("another bus test held ") + kLockFile + " for 300 s");
            }
            std::this_thread::sleep_for(50ms);
        }
    }
    ~MachineLock() { ::close(fd); }
    int fd = -1;
};

// Under /tmp rather than TMPDIR: the test user must reach the socket.
struct BusFolder {
    BusFolder() {
        std::string pattern = "/tmp/raid-bus-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            Fail(std::string("mkdtemp: ") + std::strerror(errno));
        }
        path = pattern;
        ::chmod(path.c_str(), 0755);
    }
    ~BusFolder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path path;
};

// A file in a system folder put there for the test: what was there before
// comes back afterwards; `restore` false drops an earlier file instead (one
// a crashed test left).
struct PrivateSystemBus::RestoredFile {
    RestoredFile(fs::path p, bool restore) : path(std::move(p)) {
        std::error_code ec;
        if (restore && fs::exists(path)) {
            saved = ReadFile(path);
        } else {
            fs::remove(path, ec);
        }
    }
    ~RestoredFile() {
        std::error_code ec;
        if (saved) {
            std::ofstream(path, std::ios::binary | std::ios::trunc) << *saved;
        } else {
            fs::remove(path, ec);
        }
    }
    fs::path path;
    std::optional<std::string> saved;
};

BusProcess::BusProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                       fs::path log)
    : log_(std::move(log)) {
    pid_ = Spawn(argv, env, log_, log_);
}

bool BusProcess::Running() {
    if (pid_ < 0) return false;
    if (!WaitUntil(pid_, Clock::now())) return true;
    pid_ = -1;
    return false;
}

std::string BusProcess::Output() const { return ReadFile(log_); }

void BusProcess::Stop() {
    if (pid_ < 0) return;
    ::kill(-pid_, SIGTERM);
    if (!WaitUntil(pid_, Clock::now() + 5s)) KillSession(pid_);
    pid_ = -1;
}

TerminalProcess::TerminalProcess(const std::vector<std::string>& argv,
                                 const std::vector<std::string>& env) {
    std::vector<char*> args = ExecList(argv);
    std::vector<char*> envp = ExecList(env);
    // forkpty makes the child a session leader with the terminal as its
    // controlling one; the child only resets its signals and executes.
    pid_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ < 0) Fail(std::string("forkpty: ") + std::strerror(errno));
    if (pid_ == 0) {
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int s = 1; s < NSIG; ++s) ::signal(s, SIG_DFL);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    session_ = pid_;
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
}

// What the program left running in its session goes too.
TerminalProcess::~TerminalProcess() {
    if (session_ > 0) ::kill(-session_, SIGKILL);
    if (pid_ > 0) KillSession(pid_);
    if (master_ >= 0) ::close(master_);
}

void TerminalProcess::Read(int ms) {
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) return;
    char buffer[4096];
    // EIO once nothing has the terminal open any more.
    const ssize_t got = ::read(master_, buffer, sizeof buffer);
    if (got > 0)
        screen_.append(buffer, static_cast<std::size_t>(got));
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool TerminalProcess::WaitFor(const std::string& text, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (screen_.find(text) == std::string::npos) {
        if (Clock::now() >= deadline) return false;
        Read(20);
    }
    return true;
}

void TerminalProcess::Type(const std::string& keys) {
    if (::write(master_, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size()))
        Fail(std::string("cannot type at the terminal: ") + std::strerror(errno));
}

std::optional<int> TerminalProcess::Wait(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        // Read on, so that the program never blocks on a full terminal.
        Read(10);
        const std::optional<int> status = WaitUntil(pid_, Clock::now());
        if (status) {
            pid_ = -1;
            Read(0);
            return WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
        }
        if (Clock::now() >= deadline) return std::nullopt;
    }
}

PrivateSystemBus::PrivateSystemBus() {
    if (::geteuid() != 0) {
        Fail(std::string("the bus tests need root: they create the test user ") + kTestUser +
             " and put the project's polkit actions into /usr/share/polkit-1/actions");
    }
    std::vector<Tool> tools = BusTools();
    tools.insert(tools.end(),
                 {
                     {PolkitDaemon(), "polkitd", "polkitd"},
                     {Locate("pkcheck"), "pkcheck", "polkitd"},
                     {Locate("pkaction"), "pkaction", "polkitd"},
                     {Locate("pkttyagent"), "pkttyagent", "polkitd"},  // raidctl's agent
                     {Locate("setpriv"), "setpriv", "util-linux"},
                     {Locate("useradd"), "useradd", "passwd"},
                 });
    RequireTools(tools);
    for (const char* source : {RAID_DBUS_POLICY, RAID_POLKIT_ACTIONS}) {
        if (!fs::exists(source)) Fail(std::string("missing ") + source);
    }
    lock_ = std::make_unique<MachineLock>();
    folder_ = std::make_unique<BusFolder>();
    testUid_ = EnsureTestUser(*this);

    dbus_ = StartBusDaemon(folder_->path, BusConfig(folder_->path / "system_bus_socket"));
    address_ = AddressOf(*dbus_);

    // polkitd reads actions only from its system folder, once at start and
    // again when the folder changes.
    actions_ = std::make_unique<RestoredFile>(kActionsFile, true);
    WriteFile(kActionsFile, ReadFile(RAID_POLKIT_ACTIONS));
    rules_ = std::make_unique<RestoredFile>(fs::path(kRulesFolder) / kRulesName, false);
    // With its debug output: its reports of loading rules tell when a rules
    // change has taken effect.
    polkit_ = std::make_unique<BusProcess>(
        std::vector<std::string>{PolkitDaemon()},
        std::vector<std::string>{"PATH=" + std::string(kCleanPath),
                                 "DBUS_SYSTEM_BUS_ADDRESS=" + address_},
        folder_->path / "polkitd.log");
    if (!WaitForName(kPolkitName)) {
        Fail(std::string("polkitd did not take ") + kPolkitName + " within 10 s; its output:\n" +
             PolkitLog());
    }
    if (RulesReports(0).empty()) {
        Fail("polkitd did not report loading its rules; its output:\n" + PolkitLog());
    }
}

PrivateSystemBus::~PrivateSystemBus() = default;

std::vector<std::string> PrivateSystemBus::Environment(
    RunAs who, const std::vector<std::string>& extra) const {
    const passwd* pw = User(who);
    const std::string name = pw != nullptr ? pw->pw_name : "";
    std::vector<std::string> env{"PATH=" + std::string(kCleanPath),
                                 "HOME=" + std::string(pw != nullptr ? pw->pw_dir : "/"),
                                 "USER=" + name,
                                 "LOGNAME=" + name,
                                 "LANG=C.UTF-8",
                                 "DBUS_SYSTEM_BUS_ADDRESS=" + address_};
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

std::vector<std::string> PrivateSystemBus::CommandLine(RunAs who,
                                                       const std::vector<std::string>& argv) const {
    if (argv.empty()) Fail("no program to run");
    std::vector<std::string> line;
    if (who == RunAs::TestUser) {
        const std::string user = kTestUser;
        line = {Locate("setpriv"), "--reuid=" + user, "--regid=" + user, "--init-groups", "--"};
    } else if (who == RunAs::RootWithoutCapabilities) {
        line = {Locate("setpriv"), "--bounding-set=-all", "--inh-caps=-all", "--no-new-privs",
                "--"};
    }
    const std::string program = Locate(argv[0]);
    if (program.empty()) Fail("program not found: " + argv[0]);
    line.push_back(program);
    line.insert(line.end(), argv.begin() + 1, argv.end());
    return line;
}

RunResult PrivateSystemBus::Run(RunAs who, const std::vector<std::string>& argv,
                                std::chrono::milliseconds limit,
                                const std::vector<std::string>& env) const {
    return RunIn(folder_->path, "run-" + std::to_string(runs_++), CommandLine(who, argv),
                 Environment(who, env), limit);
}

std::unique_ptr<BusProcess> PrivateSystemBus::Start(RunAs who, const std::vector<std::string>& argv,
                                                    const std::vector<std::string>& env) const {
    const fs::path log = folder_->path / ("process-" + std::to_string(runs_++) + ".log");
    return std::make_unique<BusProcess>(CommandLine(who, argv), Environment(who, env), log);
}

std::unique_ptr<TerminalProcess> PrivateSystemBus::StartOnTerminal(
    RunAs who, const std::vector<std::string>& argv) const {
    return std::make_unique<TerminalProcess>(CommandLine(who, argv), Environment(who, {}));
}

bool PrivateSystemBus::WaitForName(const std::string& name, std::chrono::milliseconds limit) const {
    return WaitForOwner([this](const auto& argv) { return Run(RunAs::Root, argv, 5s); }, "--system",
                        name, limit);
}

std::vector<std::string> PrivateSystemBus::DbusMock(const std::vector<std::string>& args) const {
    return DbusMockLine([this](const auto& argv) { return Run(RunAs::Root, argv); }, "--system",
                        args);
}

std::string PrivateSystemBus::PolkitLog() const { return polkit_ ? polkit_->Output() : ""; }

std::vector<int> PrivateSystemBus::RulesReports(std::size_t from) const {
    const std::string log = PolkitLog();
    std::vector<int> counts;
    for (std::size_t at = log.find(kRulesReport, from); at != std::string::npos;
         at = log.find(kRulesReport, at + 1)) {
        counts.push_back(std::atoi(log.c_str() + at + std::strlen(kRulesReport)));
    }
    return counts;
}

// polkitd reloads every rules file on each change it sees in the folder, one
// change often twice. A load that counts the files as they are after the
// change can only have begun after it: earlier loads count one more or one
// fewer.
void PrivateSystemBus::WaitForRulesCount(int count, std::size_t from, const char* what) const {
    const auto deadline = Clock::now() + 10s;
    for (;;) {
        const std::vector<int> counts = RulesReports(from);
        if (std::find(counts.begin(), counts.end(), count) != counts.end()) return;
        // polkitd names a rules file only when it cannot run it.
        const bool refused = PolkitLog().find(rules_->path.string(), from) != std::string::npos;
        if (refused || !polkit_->Running() || Clock::now() >= deadline) {
            Fail(std::string("polkitd did not ") + what + "; its output:\n" + PolkitLog());
        }
        std::this_thread::sleep_for(10ms);
    }
}

void PrivateSystemBus::InstallRules(const std::string& javascript) {
    const fs::path file = rules_->path;
    if (fs::exists(file)) RemoveRules();
    const std::size_t from = PolkitLog().size();
    const int before = RulesReports(0).back();
    // Renamed into place, so that polkitd never reads half a file; it skips
    // names that do not end in .rules.
    const fs::path partial = file.parent_path() / ("." + file.filename().string() + ".partial");
    WriteFile(partial, javascript);
    fs::rename(partial, file);
    WaitForRulesCount(before + 1, from, "load the test's rules file");
}

void PrivateSystemBus::RemoveRules() {
    const fs::path file = rules_->path;
    if (!fs::exists(file)) return;
    const std::size_t from = PolkitLog().size();
    const int before = RulesReports(0).back();
    fs::remove(file);
    WaitForRulesCount(before - 1, from, "drop the test's rules file");
}

PrivateSessionBus::PrivateSessionBus() {
    RequireTools(BusTools());
    folder_ = std::make_unique<BusFolder>();
    dbus_ = StartBusDaemon(folder_->path, SessionBusConfig(folder_->path / "session_bus_socket"));
    address_ = AddressOf(*dbus_);
}

PrivateSessionBus::~PrivateSessionBus() = default;

std::vector<std::string> PrivateSessionBus::Environment() const {
    return {"PATH=" + std::string(kCleanPath), "LANG=C.UTF-8",
            "DBUS_SESSION_BUS_ADDRESS=" + address_};
}

RunResult PrivateSessionBus::Run(const std::vector<std::string>& argv,
                                 std::chrono::milliseconds limit) const {
    std::vector<std::string> line = argv;
    line[0] = Locate(argv[0]);
    if (line[0].empty()) Fail("program not found: " + argv[0]);
    return RunIn(folder_->path, "run-" + std::to_string(runs_++), line, Environment(), limit);
}

std::unique_ptr<BusProcess> PrivateSessionBus::StartMock(
    const std::vector<std::string>& args) const {
    const fs::path log = folder_->path / ("process-" + std::to_string(runs_++) + ".log");
    return std::make_unique<BusProcess>(
        DbusMockLine([this](const auto& argv) { return Run(argv, 30s); }, "--session", args),
        Environment(), log);
}

bool PrivateSessionBus::WaitForName(const std::string& name,
                                    std::chrono::milliseconds limit) const {
    return WaitForOwner([this](const auto& argv) { return Run(argv, 5s); }, "--bus=" + address_,
                        name, limit);
}

}  // namespace raid::test_support
