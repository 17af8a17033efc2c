// The machine-wide lock of the window program and the monitor service.
#include "platform/instance_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace raid::platform {
namespace {

namespace fs = std::filesystem;

class InstanceLockTest : public ::testing::Test {
protected:
    InstanceLockTest() {
        dir_ = fs::temp_directory_path() / ("raid-instance-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    ~InstanceLockTest() override { fs::remove_all(dir_); }
    std::string Dir() const { return dir_.string(); }
    fs::path dir_;
};

TEST_F(InstanceLockTest, SecondHolderIsRefusedAndToldWhoHasIt) {
    InstanceLock first;
    ASSERT_EQ(first.Acquire(Dir(), kInstanceLockName, "raidgui").outcome,
              InstanceLock::Outcome::Acquired);
    // Another process: flock locks belong to open files, a fork's own open
    // competes like another program's.
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        InstanceLock second;
        const auto r = second.Acquire(Dir(), kInstanceLockName, "raidctl monitor");
        const std::string text = RefusalText(r, Dir() + "/SAVI_GUI");
        const bool ok = r.outcome == InstanceLock::Outcome::HeldElsewhere &&
                        r.holder == "raidgui, process " + std::to_string(::getppid()) &&
                        text.find("raidgui, process ") != std::string::npos;
        [[maybe_unused]] auto n = ::write(pipeFds[1], ok ? "1" : "0", 1);
        ::_exit(0);
    }
    char answer = 0;
    ASSERT_EQ(::read(pipeFds[0], &answer, 1), 1);
    ::waitpid(child, nullptr, 0);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    EXPECT_EQ(answer, '1');

    first.Release();
    InstanceLock third;
    EXPECT_EQ(third.Acquire(Dir(), kInstanceLockName, "raidctl monitor").outcome,
              InstanceLock::Outcome::Acquired);
}

TEST_F(InstanceLockTest, LockFileThatCannotBeOpenedIsAFailureWithItsReasonNotAHolder) {
    InstanceLock lock;
    const auto r = lock.Acquire(Dir() + "/missing-folder", kInstanceLockName, "raidgui");
    EXPECT_EQ(r.outcome, InstanceLock::Outcome::Failed);
    EXPECT_NE(r.error.find("No such file or directory"), std::string::npos);
    EXPECT_EQ(RefusalText(r, "x"), r.error);
    EXPECT_FALSE(lock.Held());
}

TEST_F(InstanceLockTest, SymlinkInTheSharedFolderIsNotFollowed) {
    const fs::path target = dir_ / "victim";
    std::ofstream(target) << "keep me";
    fs::create_symlink(target, dir_ / kInstanceLockName);
    InstanceLock lock;
    EXPECT_EQ(lock.Acquire(Dir(), kInstanceLockName, "raidgui").outcome,
              InstanceLock::Outcome::Failed);
    std::ifstream in(target);
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, "keep me");
}

TEST_F(InstanceLockTest, LockFileIsReadableByEveryUserWhateverTheUmask) {
    const mode_t old = ::umask(077);
    InstanceLock lock;
    ASSERT_EQ(lock.Acquire(Dir(), kInstanceLockName, "raidgui").outcome,
              InstanceLock::Outcome::Acquired);
    ::umask(old);
    struct stat st {};
    ASSERT_EQ(::stat((dir_ / kInstanceLockName).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(MachineLockDirectory, IsAFolderEveryUserShares) {
    const std::string dir = MachineLockDirectory();
    EXPECT_TRUE(dir == "/run/lock" || dir == "/tmp");
}

}  // namespace
}  // namespace raid::platform
