// The machine-wide lock of the window program, the monitor service and the
// raidctl commands that drive the enclosures.
#include "platform/instance_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "cli/raidctl_lock.h"

namespace raid::platform {
namespace {

namespace fs = std::filesystem;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class InstanceLockTest : public ::testing::Test {
protected:
    InstanceLockTest() {
        dir_ = fs::temp_directory_path() / ("raid-instance-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        ::chmod(dir_.c_str(), 0755);  // whatever the umask
    }
    ~InstanceLockTest() override { fs::remove_all(dir_); }
    // The test's folder, trusted as the machine's is when owned by root.
    LockFolder Folder() const { return {dir_.string(), false, ::geteuid()}; }
    std::string LockPath() const { return (dir_ / kInstanceLockName).string(); }
    fs::path dir_;
};

TEST_F(InstanceLockTest, SecondHolderIsNamedByTheKernelNotByTheFile) {
    InstanceLock first;
    ASSERT_EQ(first.Acquire(Folder(), kInstanceLockName).outcome, InstanceLock::Outcome::Acquired);
    // What the file says is no one's word: only the kernel's record counts.
    std::ofstream(LockPath()) << "raidgui 1\n";
    // flock locks belong to open files: a second open, even in this process,
    // competes like another program's.
    InstanceLock second;
    const auto r = second.Acquire(Folder(), kInstanceLockName);
    EXPECT_EQ(r.outcome, InstanceLock::Outcome::HeldElsewhere);
    EXPECT_EQ(r.holderPid, ::getpid());
    EXPECT_EQ(r.holderCommand.rfind(program_invocation_name, 0), 0u) << r.holderCommand;
    const std::string text = RefusalText(r, LockPath());
    EXPECT_TRUE(Has(text, "pid " + std::to_string(::getpid()) + " (" + program_invocation_name))
        << text;
    EXPECT_FALSE(Has(text, "raidgui")) << text;
    EXPECT_FALSE(second.Held());

    first.Release();
    EXPECT_EQ(second.Acquire(Folder(), kInstanceLockName).outcome, InstanceLock::Outcome::Acquired);
}

TEST(FlockHolderPid, OnlyAHolderOfThatFile) {
    const std::string locks =
        "1: POSIX  ADVISORY  WRITE 111 08:11:1234 0 EOF\n"
        "2: FLOCK  ADVISORY  WRITE 222 08:11:12345 0 EOF\n"
        "2: -> FLOCK  ADVISORY  WRITE 333 08:11:1234 0 EOF\n"
        "3: FLOCK  ADVISORY  WRITE 444 103:2d:1234 0 EOF\n"
        "4: FLOCK  ADVISORY  WRITE 555 08:11:1234 0 EOF\n";
    EXPECT_EQ(FlockHolderPid(locks, makedev(8, 17), 1234), 555);
    EXPECT_EQ(FlockHolderPid(locks, makedev(0x103, 0x2d), 1234), 444);
    EXPECT_EQ(FlockHolderPid(locks, makedev(8, 17), 99), std::nullopt);
    InstanceLock::Result unknown;
    unknown.outcome = InstanceLock::Outcome::HeldElsewhere;
    EXPECT_TRUE(Has(RefusalText(unknown, "L"), "an unknown process holds the lock L"));
}

TEST_F(InstanceLockTest, OnlyAFolderNoOneElseCanWriteIsUsed) {
    const fs::path real = dir_ / "real";
    const fs::path link = dir_ / "link";
    fs::create_directory(real);
    ::chmod(real.c_str(), 0755);
    fs::create_directory_symlink(real, link);
    const uid_t me = ::geteuid();
    struct Case {
        LockFolder folder;
        mode_t mode;
        const char* why;
    };
    for (const Case& c : std::vector<Case>{
             {{link.string(), false, me}, 0755, "is a symbolic link"},
             {{real.string(), false, me + 1}, 0755, "belongs to "},
             {{real.string(), false, me}, 0775, "writable by group or others"},
             {{real.string(), false, me}, 0757, "writable by group or others"},
             {{(dir_ / "missing").string(), false, me}, 0755, "No such file or directory"}}) {
        ::chmod(real.c_str(), c.mode);
        InstanceLock lock;
        const auto r = lock.Acquire(c.folder, kInstanceLockName);
        EXPECT_EQ(r.outcome, InstanceLock::Outcome::Failed) << c.why;
        EXPECT_TRUE(Has(RefusalText(r, "x"), c.why)) << RefusalText(r, "x");
        EXPECT_FALSE(lock.Held());
        EXPECT_FALSE(fs::exists(real / kInstanceLockName)) << c.why;
    }

    // A missing folder is made, and neither it nor the file are left to the
    // umask.
    const mode_t old = ::umask(077);
    InstanceLock lock;
    const fs::path made = dir_ / "made";
    const auto r = lock.Acquire({made.string(), true, me}, kInstanceLockName);
    ::umask(old);
    ASSERT_EQ(r.outcome, InstanceLock::Outcome::Acquired) << r.error;
    struct stat st {};
    ASSERT_EQ(::stat(made.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    ASSERT_EQ(::stat((made / kInstanceLockName).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    // A lock file that is a link is not followed.
    const fs::path target = dir_ / "victim";
    std::ofstream(target) << "keep me";
    fs::create_symlink(target, dir_ / kInstanceLockName);
    EXPECT_EQ(lock.Acquire(Folder(), kInstanceLockName).outcome, InstanceLock::Outcome::Failed);
    std::ifstream in(target);
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, "keep me");
}

TEST_F(InstanceLockTest, TheProgramsUseRootsFolderOrAnotherOneRootOwns) {
    ::unsetenv(kLockFolderVariable);
    const LockFolder machine = MachineLockFolder();
    EXPECT_EQ(machine.path, "/run/raid-monitor");
    EXPECT_TRUE(machine.createIfMissing);
    EXPECT_EQ(machine.owner, 0u);

    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(dir_.c_str(), 65534, 65534), 0);
    }
    ::setenv(kLockFolderVariable, dir_.c_str(), 1);
    const LockFolder other = MachineLockFolder();
    ::unsetenv(kLockFolderVariable);
    EXPECT_EQ(other.path, dir_.string());
    InstanceLock lock;
    const auto r = lock.Acquire(other, kInstanceLockName);
    EXPECT_EQ(r.outcome, InstanceLock::Outcome::Failed);
    EXPECT_TRUE(Has(r.error, "not to root")) << r.error;
    EXPECT_FALSE(fs::exists(dir_ / kInstanceLockName));
}

// A client window's lock is its user's own: the runtime folder, else one no
// other user can have made first, never a relative path.
TEST_F(InstanceLockTest, AClientWindowLocksInAFolderOnlyItsUserCanHaveMade) {
    const uid_t me = ::geteuid();
    const fs::path runtime = dir_ / "runtime";
    fs::create_directory(runtime);
    ::chmod(runtime.c_str(), 0700);
    const std::string cache = (dir_ / "cache").string();
    const UserLockChoice own = ChooseUserLockFolder({runtime.c_str(), cache.c_str(), "/h"}, me);
    EXPECT_EQ(own.folder.path, runtime.string());
    EXPECT_FALSE(own.folder.createIfMissing);
    EXPECT_EQ(own.folder.owner, me);
    EXPECT_EQ(own.warning, "");

    // Refused, it is told once which folder, why, and the one used instead:
    // root's in /run, anyone else's in the cache folder.
    const auto fallback = [&](uid_t user) {
        return user == 0 ? std::string("/run/raidgui-0") : cache + "/raidgui";
    };
    fs::create_directory_symlink(runtime, dir_ / "link");
    struct Case {
        std::string runtimeDir;
        uid_t user;
        std::string why;
    };
    for (const Case& c :
         std::vector<Case>{{"/tmp", 1000, "the lock folder /tmp belongs to root, not to user 1000"},
                           {"/tmp", 0, "the lock folder /tmp is writable by group or others"},
                           {runtime.string(), me,
                            "the lock folder " + runtime.string() + " is writable by group"},
                           {(dir_ / "link").string(), me, " is a symbolic link"},
                           {(dir_ / "gone").string(), me, "/gone: No such file or directory"},
                           {"run/user/1000", 1000, "\"run/user/1000\" is not an absolute path"}}) {
        ::chmod(runtime.c_str(), c.runtimeDir == runtime.string() ? 0770 : 0700);
        const UserLockChoice chosen =
            ChooseUserLockFolder({c.runtimeDir.c_str(), cache.c_str(), "/h"}, c.user);
        EXPECT_EQ(chosen.folder.path, fallback(c.user)) << c.runtimeDir;
        EXPECT_TRUE(chosen.folder.createIfMissing);
        EXPECT_EQ(chosen.folder.owner, c.user);
        EXPECT_EQ(chosen.folder.mode, 0700u);
        EXPECT_EQ(chosen.warning.rfind("$XDG_RUNTIME_DIR is not used for the lock: ", 0), 0u)
            << chosen.warning;
        EXPECT_TRUE(Has(chosen.warning, c.why)) << chosen.warning;
        EXPECT_TRUE(Has(chosen.warning, "; using " + fallback(c.user) + " instead"))
            << chosen.warning;
    }
    // Not given is nothing to tell; without $XDG_CACHE_HOME, ~/.cache.
    for (const char* runtimeDir : {static_cast<const char*>(nullptr), ""}) {
        EXPECT_EQ(ChooseUserLockFolder({runtimeDir, nullptr, "/home/u"}, 1000).folder.path,
                  "/home/u/.cache/raidgui");
        EXPECT_EQ(ChooseUserLockFolder({runtimeDir, "cache", "/home/u"}, 1000).folder.path,
                  "/home/u/.cache/raidgui");
        EXPECT_EQ(ChooseUserLockFolder({runtimeDir, nullptr, "/home/u"}, 1000).warning, "");
        EXPECT_EQ(ChooseUserLockFolder({runtimeDir, cache.c_str(), nullptr}, 0).folder.path,
                  "/run/raidgui-0");
    }
    // Without a home there is no folder: the lock refuses it, saying so.
    InstanceLock lock;
    const auto nowhere =
        lock.Acquire(ChooseUserLockFolder({nullptr, nullptr, nullptr}, 1000).folder, "L");
    EXPECT_EQ(nowhere.outcome, InstanceLock::Outcome::Failed);
    EXPECT_TRUE(Has(nowhere.error, "is not an absolute path")) << nowhere.error;
}

// Needs root to be another user: a window whose $XDG_RUNTIME_DIR is /tmp
// locks in ~/.cache/raidgui, made with its parent, private, and its own.
TEST_F(InstanceLockTest, AUsersLockBesideAnUnusableRuntimeFolderIsInItsCache) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    const fs::path home = dir_ / "home";
    fs::create_directory(home);
    ASSERT_EQ(::chown(home.c_str(), 65534, 65534), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(8);
        const UserLockChoice chosen = ChooseUserLockFolder({"/tmp", nullptr, home.c_str()}, 65534);
        InstanceLock lock;
        const auto r = lock.Acquire(chosen.folder, kInstanceLockName);
        ::_exit((r.outcome == InstanceLock::Outcome::Acquired ? 0 : 1) |
                (Has(chosen.warning, "/tmp belongs to root") ? 0 : 2));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
    for (const fs::path& made : {home / ".cache", home / ".cache" / "raidgui"}) {
        struct stat st {};
        ASSERT_EQ(::lstat(made.c_str(), &st), 0) << made;
        EXPECT_EQ(st.st_mode & 07777, 0700u) << made;
        EXPECT_EQ(st.st_uid, 65534u) << made;
    }
    EXPECT_TRUE(fs::exists(home / ".cache" / "raidgui" / kInstanceLockName));
}

// Needs root: another user is made by dropping to the unprivileged uid.
TEST_F(InstanceLockTest, AnotherUserCanNeitherCreateNorLockIt) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    const LockFolder folder{dir_.string(), false, 0};
    // In a child, as user nobody: 1 not refused for want of rights, 2 the
    // message does not say what is needed, 4 the file could be opened.
    const auto asNobody = [&] {
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(8);
            InstanceLock lock;
            const auto r = lock.Acquire(folder, kInstanceLockName);
            int faults = r.outcome == InstanceLock::Outcome::NotPermitted ? 0 : 1;
            if (!Has(RefusalText(r, "x"), "needs root")) faults |= 2;
            if (::open(LockPath().c_str(), O_RDONLY) >= 0 || (errno != ENOENT && errno != EACCES))
                faults |= 4;
            ::_exit(faults);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(asNobody(), 0) << "before the file exists";
    InstanceLock root;
    ASSERT_EQ(root.Acquire(folder, kInstanceLockName).outcome, InstanceLock::Outcome::Acquired);
    root.Release();
    EXPECT_EQ(asNobody(), 0) << "once root has made it";
}

// monitor waits for the lock; the other commands are refused at once.
class MachineLockOfTheCommands : public InstanceLockTest {
protected:
    cli::Arguments Command(cli::Command command, bool once = false) {
        cli::Arguments args;
        args.command = command;
        args.once = once;
        return args;
    }
    std::optional<int> Take(InstanceLock& lock, const cli::Arguments& args) {
        const cli::LockWait wait{clock_,
                                 [this] { return stopAtMs_ != 0 && clock_.NowMs() >= stopAtMs_; },
                                 [this](const std::string& what) {
                                     told_.push_back(what);
                                     toldAtMs_.push_back(clock_.NowMs());
                                 }};
        return cli::TakeMachineLock(lock, Folder(), args, err_, wait);
    }
    std::string HolderPid() const { return "pid " + std::to_string(::getpid()); }

    ManualClock clock_;
    std::uint64_t stopAtMs_ = 0;
    std::ostringstream err_;
    std::vector<std::string> told_;
    std::vector<std::uint64_t> toldAtMs_;
};

TEST_F(MachineLockOfTheCommands, MonitorWaitsSayingWhomOnceAndPingsTheWatchdog) {
    InstanceLock holder;
    ASSERT_EQ(holder.Acquire(Folder(), kInstanceLockName).outcome, InstanceLock::Outcome::Acquired);
    clock_.onSleep = [&](std::uint64_t now) {
        if (now >= 3500) holder.Release();
    };
    InstanceLock lock;
    EXPECT_EQ(Take(lock, Command(cli::Command::Monitor)), std::nullopt) << err_.str();
    EXPECT_TRUE(lock.Held());
    const std::string said = err_.str();
    EXPECT_EQ(said.rfind("raidctl: waiting for the lock held by " + HolderPid() + " (" +
                             program_invocation_name,
                         0),
              0u)
        << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    ASSERT_GE(told_.size(), 6u);
    EXPECT_EQ(told_[0], "READY=1");
    EXPECT_EQ(told_[1], "STATUS=waiting for the lock held by " + HolderPid());
    EXPECT_EQ(told_.back(), "STATUS=");
    for (std::size_t i = 2; i + 1 < told_.size(); ++i) {
        EXPECT_EQ(told_[i], "WATCHDOG=1") << i;
        EXPECT_LE(toldAtMs_[i] - toldAtMs_[i - 1], 1000u) << i;
    }
    EXPECT_LE(clock_.NowMs(), 4000u + cli::kLockWaitSliceMs);
}

TEST_F(MachineLockOfTheCommands, AStopEndsTheWaitAndTheOthersAreRefusedAtOnce) {
    InstanceLock holder;
    ASSERT_EQ(holder.Acquire(Folder(), kInstanceLockName).outcome, InstanceLock::Outcome::Acquired);
    stopAtMs_ = 2250;
    InstanceLock lock;
    EXPECT_EQ(Take(lock, Command(cli::Command::Monitor)), cli::kExitOk);
    EXPECT_FALSE(lock.Held());
    EXPECT_LE(clock_.NowMs(), stopAtMs_ + cli::kLockWaitSliceMs);

    const std::uint64_t before = clock_.NowMs();
    for (const auto& args : {Command(cli::Command::Monitor, true), Command(cli::Command::Flash),
                             Command(cli::Command::Buzzer), Command(cli::Command::BackupPeriod)}) {
        err_.str("");
        EXPECT_EQ(Take(lock, args), cli::kExitBusy);
        EXPECT_TRUE(Has(err_.str(), "drives the enclosures of this machine: " + HolderPid()))
            << err_.str();
        EXPECT_TRUE(cli::HoldsMachineLock(args));
    }
    EXPECT_EQ(clock_.NowMs(), before) << "a command other than monitor waited";
    cli::Arguments simulated = Command(cli::Command::Flash);
    simulated.simulate = true;
    EXPECT_FALSE(cli::HoldsMachineLock(simulated));
    EXPECT_FALSE(cli::HoldsMachineLock(Command(cli::Command::Status)));

    // A folder that is not safe is a configuration error, not "busy".
    holder.Release();
    ::chmod(dir_.c_str(), 0777);
    EXPECT_EQ(Take(lock, Command(cli::Command::Monitor)), cli::kExitConfig);
    ::chmod(dir_.c_str(), 0755);
}

}  // namespace
}  // namespace raid::platform
