// End-to-end: the window program mails a lost member. raidgui runs under
// Xvfb (offscreen without it) against an emulated enclosure served through
// raid-sim-fuse and a loop device, with a settings file that points at an
// SMTP server on the loopback address; pulling HDD1 in the emulator must
// bring exactly one mail. Needs root, /dev/fuse and loop devices (skips
// itself otherwise) and python3-aiosmtpd (fails without it).
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <filesystem>
#include <string>

#include "sim/fuse/sim_mount.h"
#include "tests/e2e/json_field.h"
#include "tests/smtp/test_server.h"

namespace raid {
namespace {

namespace fs = std::filesystem;
using sim::fuse::RunCommand;
using sim::fuse::SimMount;
using test_support::JsonField;
using test_support::TestSmtpServer;

constexpr char kSubjectPrefix[] = "[RAID GUI v0.50.11-5 Message] ";
// Discovery probes physical disks 0..9 only.
constexpr int kProbedDisks = 10;

// The physical disk number raidctl gives `device`; -1 when it lists none.
int DiskNumber(const std::string& device) {
    const auto disks = RunCommand({RAIDCTL_PATH, "disks", "--json"}, 10000);
    return test_support::JsonNumberWith(disks.out, "devicePath", device, "number");
}

// The device index raidctl gives the enclosure on `device` (others may be
// attached too); -1 when it lists none.
int DeviceIndex(const std::string& device) {
    const auto list = RunCommand({RAIDCTL_PATH, "list", "--json"}, 30000);
    return test_support::JsonNumberWith(list.out, "path", device, "index");
}

// Waits up to `ms` for `done`, serving this thread's events.
bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents();
        QThread::msleep(50);
    }
    return true;
}

class RaidguiMailTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string missing = SimMount::MissingPrerequisites();
        if (!missing.empty()) GTEST_SKIP() << "end-to-end test needs " << missing;
        std::string why;
        // Unlike root and FUSE, a missing mail server is a broken test set-up.
        if (!TestSmtpServer::Python(why)) FAIL() << why;
        // A mirror without schedule backup: the window offers its E-mail
        // page, so its lost members are mailed.
        const std::string error = mount_.Start(SIM_FUSE_PATH, {"--scenario", "noschedule"});
        ASSERT_TRUE(error.empty()) << error;
        const int disk = DiskNumber(mount_.LoopDevice());
        ASSERT_GE(disk, 0) << mount_.LoopDevice() << " is not among the disks";
        if (disk >= kProbedDisks) {
            GTEST_SKIP() << mount_.LoopDevice() << " is physical disk " << disk
                         << "; discovery probes only disks 0.." << kProbedDisks - 1;
        }
        const int index = DeviceIndex(mount_.LoopDevice());
        ASSERT_GE(index, 0) << mount_.LoopDevice() << " is not among the enclosures";
        if (index >= 2) {
            GTEST_SKIP() << "the virtual enclosure is Device" << index + 1
                         << "; only Device1 and Device2 are watched";
        }
        number_ = std::to_string(index + 1);
    }

    void TearDown() override {
        for (QProcess* p : {&raidgui_, &monitor_, &xvfb_}) {
            if (p->state() == QProcess::NotRunning) continue;
            p->terminate();
            if (!p->waitForFinished(10000)) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
        mount_.Stop();
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }

    // Xvfb on a display of its own, when there is one; else Qt's
    // offscreen platform.
    QProcessEnvironment DisplayEnvironment() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        xvfb_.start("Xvfb",
                    {"-displayfd", "1", "-nolisten", "tcp", "-ac", "-screen", "0", "1280x1024x24"});
        if (!xvfb_.waitForStarted(5000) || !xvfb_.waitForReadyRead(10000)) {
            std::cout << "no Xvfb: raidgui runs offscreen\n";
            return env;
        }
        const QString display = QString::fromUtf8(xvfb_.readLine()).trimmed();
        env.insert("DISPLAY", ":" + display);
        env.insert("QT_QPA_PLATFORM", "xcb");
        return env;
    }

    // Starts the loopback server and stores settings that point at it.
    void ServeWithSettings(const fs::path& settings) {
        std::string error;
        ASSERT_TRUE(server_.Start({}, error)) << error;
        ASSERT_TRUE(test_support::StoreMailSettings(
            settings, test_support::LoopbackPageFields(server_.port()), error))
            << error;
    }

    int argc_ = 1;
    char name_[10] = "e2e_tests";
    char* argv_[2] = {name_, nullptr};
    QCoreApplication application_{argc_, argv_};
    SimMount mount_;
    std::string number_;  // N of the enclosure's "DeviceN"
    fs::path folder_ = fs::temp_directory_path() / ("raidgui-mail-e2e-" + std::to_string(getpid()));
    TestSmtpServer server_{folder_ / "server"};
    QProcess xvfb_;
    QProcess raidgui_;
    QProcess monitor_;
};

TEST_F(RaidguiMailTest, PullingHdd1BringsOneMail) {
    const fs::path settings = folder_ / "etc" / "settings.reg";
    ASSERT_NO_FATAL_FAILURE(ServeWithSettings(settings));

    raidgui_.setProcessEnvironment(DisplayEnvironment());
    raidgui_.setProcessChannelMode(QProcess::MergedChannels);
    raidgui_.start(RAIDGUI_PATH, {"--settings", QString::fromStdString(settings.string())});
    ASSERT_TRUE(raidgui_.waitForStarted(10000));
    if (raidgui_.waitForFinished(2000) && raidgui_.exitCode() == 3) {
        GTEST_SKIP() << "another raidgui holds the machine's lock: "
                     << raidgui_.readAll().toStdString();
    }
    ASSERT_EQ(raidgui_.state(), QProcess::Running) << raidgui_.readAll().toStdString();

    // Discovery, the first status and one more poll see both members; then
    // HDD1 goes.
    QThread::sleep(8);
    ASSERT_EQ(raidgui_.state(), QProcess::Running) << raidgui_.readAll().toStdString();
    EXPECT_TRUE(server_.Messages().empty());
    ASSERT_EQ(mount_.Control("pull 1"), "");
    ASSERT_TRUE(WaitFor([&] { return !server_.Messages().empty(); }, 30000))
        << "no mail within 30 s; raidgui said: " << raidgui_.readAll().toStdString();
    // Two more polls: the member stays lost, and is not mailed again.
    QThread::sleep(11);
    const auto messages = server_.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rcptTos,
              (std::vector<std::string>{"ops@example.com", "boss@example.com"}));
    const auto subject = messages[0].data.find("\r\nSubject: ");
    ASSERT_NE(subject, std::string::npos) << messages[0].data;
    EXPECT_EQ(messages[0].data.substr(subject + 11, std::string(kSubjectPrefix).size()),
              kSubjectPrefix);
    EXPECT_NE(messages[0].data.find("Device" + number_ + " P0 Hard Disk Drive fail."),
              std::string::npos)
        << messages[0].data;

    // SIGTERM closes the window as a log-off would.
    raidgui_.terminate();
    EXPECT_TRUE(raidgui_.waitForFinished(10000));
}

// The monitor service mails the same notification, with the same settings.
TEST_F(RaidguiMailTest, TheMonitorServiceMailsAPulledMemberOnce) {
    const fs::path settings = folder_ / "etc" / "settings.reg";
    ASSERT_NO_FATAL_FAILURE(ServeWithSettings(settings));
    const fs::path logs = folder_ / "logs";
    fs::create_directories(logs);

    monitor_.start(RAIDCTL_PATH,
                   {"monitor", "--settings", QString::fromStdString(settings.string()), "--log-dir",
                    QString::fromStdString(logs.string()), "--interval-ms", "1000", "--json"});
    ASSERT_TRUE(monitor_.waitForStarted(10000));
    std::string out;
    const auto read = [&] {
        out += monitor_.readAllStandardOutput().toStdString();
        return out;
    };
    ASSERT_TRUE(
        WaitFor([&] { return read().find("has started from") != std::string::npos; }, 30000))
        << out << monitor_.readAllStandardError().toStdString();
    ASSERT_EQ(mount_.Control("pull 1"), "");
    ASSERT_TRUE(WaitFor([&] { return !server_.Messages().empty(); }, 30000))
        << "no mail within 30 s: " << read() << monitor_.readAllStandardError().toStdString();
    // The removed line came within two polls of the pull. It was printed
    // before the mail went, but may still wait in the pipe.
    const std::string removedText = "D" + number_ + " HDD1 was removed";
    WaitFor([&] { return read().find(removedText) != std::string::npos; }, 5000);
    const auto removed = out.find(removedText);
    ASSERT_NE(removed, std::string::npos) << out;
    const std::string line = out.substr(out.rfind('{', removed), removed - out.rfind('{', removed));
    EXPECT_LE(std::stoi(JsonField(line + "\"}", "poll").value_or("99")), 4) << line;
    QThread::sleep(3);
    EXPECT_EQ(server_.Messages().size(), 1u);
    const auto messages = server_.Messages();
    EXPECT_NE(messages[0].data.find("Subject: " + std::string(kSubjectPrefix)), std::string::npos)
        << messages[0].data;

    // SIGTERM: over within a second, the log whole.
    QElapsedTimer stopping;
    stopping.start();
    monitor_.terminate();
    ASSERT_TRUE(monitor_.waitForFinished(10000));
    EXPECT_LT(stopping.elapsed(), 1000);
    EXPECT_EQ(monitor_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(monitor_.exitCode(), 0) << monitor_.readAllStandardError().toStdString();
}

}  // namespace
}  // namespace raid
