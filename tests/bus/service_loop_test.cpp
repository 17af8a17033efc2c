// The service on a private system bus reaching an emulated enclosure through
// the kernel (raid-sim-fuse and a loop device), not its --simulate stand-in:
// what a user reads, a flash as a job that nothing else interleaves with, the
// shutdown inhibitor it takes from a logind stand-in, and a flash outliving
// its client, a user's window as the service's client, and the service under
// its unit's limits (no capabilities, its system call filter). Needs root, FUSE,
// loop devices, python3-dbusmock, Xvfb and strace; fails naming what is
// missing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QString>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device/protocol.h"
#include "sim/fuse/sim_mount.h"
#include "sim/knock_decoder.h"
#include "tests/bus/journal_socket.h"
#include "tests/bus/logind_inhibitors.h"
#include "tests/bus/private_system_bus.h"
#include "tests/e2e/json_field.h"
#include "tests/emulated_firmware.h"

namespace raid::test_support {
namespace {

namespace fs = std::filesystem;
using sim::fuse::SimMount;
using testing::HasSubstr;
using testing::Not;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kService = "org.raidenclosure.Manager1";
const std::string kEnclosure = "org.raidenclosure.Manager1.Enclosure";
const QString kLogind = "org.freedesktop.login1";
const QString kLogindPath = "/org/freedesktop/login1";
// Discovery probes physical disks 0..9 only.
constexpr int kProbedDisks = 10;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The command codes the controller saw, in order, rebuilt from the trace of
// reads as the emulator's own decoder rebuilds them.
std::vector<std::uint8_t> Commands(const std::vector<std::uint32_t>& trace) {
    sim::KnockDecoder decoder;
    std::vector<std::uint8_t> codes;
    for (const std::uint32_t lba : trace) {
        if (decoder.Feed(lba) == sim::KnockDecoder::Event::Complete)
            codes.push_back(decoder.Block()[12]);
    }
    return codes;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

class ServiceLoopTest : public testing::Test {
protected:
    void SetUp() override {
        const std::string missing = SimMount::MissingPrerequisites();
        ASSERT_EQ(missing, "") << "the service's loop-device tests need root, /dev/fuse, loop "
                                  "devices, losetup and fusermount3; missing: "
                               << missing;
        ASSERT_TRUE(fs::exists(SIM_FUSE_PATH)) << "raid-sim-fuse was not built: " << SIM_FUSE_PATH;
        const std::string error = mount_.Start(SIM_FUSE_PATH, {"--scenario", "raid1"});
        ASSERT_EQ(error, "");
        std::string dir = (fs::temp_directory_path() / "raid-service-loop.XXXXXX").string();
        ASSERT_NE(mkdtemp(dir.data()), nullptr);
        temp_ = dir;
        // The clients write and the test user reads files here.
        fs::permissions(temp_, fs::perms(0755));
        // A machine lock of the test's own, apart from a service this machine
        // may run; root-owned and 0755 as the lock requires.
        const fs::path lock = temp_ / "lock";
        fs::create_directory(lock);
        fs::permissions(lock, fs::perms(0755));
        lockEnv_ = "RAID_LOCK_DIR=" + lock.string();

        // Which physical disk the loop device is depends on the machine.
        const RunResult disks = Root({"disks", "--json"});
        ASSERT_EQ(disks.exitCode, 0) << disks.err;
        const int number = JsonNumberWith(disks.out, "devicePath", mount_.LoopDevice(), "number");
        ASSERT_GE(number, 0) << mount_.LoopDevice() << " is not among " << disks.out;
        disk_ = std::to_string(number);
        ASSERT_LT(std::stoi(disk_), kProbedDisks)
            << mount_.LoopDevice() << " is physical disk " << disk_
            << "; discovery probes only disks 0.." << kProbedDisks - 1;
    }

    void TearDown() override {
        service_.reset();
        mount_.Stop();
        std::error_code ec;
        if (!temp_.empty()) fs::remove_all(temp_, ec);
    }

    // The service, reaching the enclosure through the loop device.
    void StartService(std::vector<std::string> env = {}) {
        fs::create_directories(temp_ / "logs");
        env.push_back(lockEnv_);
        service_ = bus.Start(
            RunAs::Root,
            {RAIDCTL, "monitor", "--log-dir", (temp_ / "logs").string(), "--interval-ms", "200"},
            env);
        ASSERT_TRUE(bus.WaitForName(kService)) << service_->Output();
    }

    RunResult User(std::vector<std::string> words) {
        words.insert(words.begin(), RAIDCTL);
        return bus.Run(RunAs::TestUser, words);
    }
    RunResult Root(std::vector<std::string> words) {
        words.insert(words.begin(), RAIDCTL);
        return bus.Run(RunAs::Root, words, 60s, {lockEnv_});
    }

    // Stops the service and reads the flash's first 8 KiB in-process.
    std::string FlashAfterService() {
        service_.reset();
        const fs::path out = temp_ / "read.bin";
        const RunResult read =
            Root({"--direct", "read-flash", disk_, out.string(), "--length", "0x2000"});
        EXPECT_EQ(read.exitCode, 0) << read.out << read.err;
        return ReadFile(out);
    }

    // The service, and a root client's flash through it, slowed by the
    // emulator's replies so that it takes seconds: programming when this
    // returns.
    void StartSlowFlash(std::unique_ptr<BusProcess>& client, std::vector<std::string> env = {}) {
        ASSERT_NO_FATAL_FAILURE(StartService(std::move(env)));
        const fs::path file = WriteFirmware();
        ASSERT_EQ(mount_.Control("delay 15"), "");
        client =
            bus.Start(RunAs::Root, {RAIDCTL, "flash", disk_, file.string(), "--yes"}, {lockEnv_});
        ASSERT_TRUE(WaitFor(
            [&] { return client->Output().find("Process 2 / 3") != std::string::npos; }, 60s))
            << client->Output();
    }

    // The device index raidctl gives the enclosure on `loop` (others on the
    // machine may come before it); -1 when it lists none.
    int DeviceIndex(const std::string& loop) {
        const RunResult list = Root({"list", "--json"});
        EXPECT_EQ(list.exitCode, 0) << list.err;
        return JsonNumberWith(list.out, "path", loop, "index");
    }

    // A method or property of the Enclosure interface through busctl, as
    // `who`: its output ("s \"/dev/loop3\"").
    RunResult Busctl(RunAs who, std::vector<std::string> words,
                     std::chrono::milliseconds limit = 30s) {
        words.insert(words.begin(), {"busctl", "--system", "--timeout=60"});
        return bus.Run(who, words, limit);
    }
    static std::string EnclosurePath(int index) {
        return "/org/raidenclosure/Manager1/enclosures/" + std::to_string(index);
    }
    // The index of the enclosure object whose device is `loop`, or -1 when
    // none is.
    int EnclosureOn(const std::string& loop) {
        for (int i = 0; i < kProbedDisks; ++i) {
            const RunResult device = Busctl(
                RunAs::Root, {"get-property", kService, EnclosurePath(i), kEnclosure, "Device"});
            if (device.out == "s \"" + loop + "\"\n") return i;
        }
        return -1;
    }

    fs::path WriteFirmware() {
        const fs::path file = temp_ / "fw.bin";
        std::ofstream(file, std::ios::binary) << EmulatedFirmwareFile();
        fs::permissions(file, fs::perms(0644));
        return file;
    }

    PrivateSystemBus bus;
    SimMount mount_;
    fs::path temp_;
    std::string lockEnv_;
    std::string disk_;
    std::unique_ptr<BusProcess> service_;
};

TEST_F(ServiceLoopTest, AUserReadsThroughTheServiceWhatRootReadsInProcess) {
    // This enclosure only: other tests on the machine may attach theirs.
    const RunResult direct = Root({"--direct", "status", disk_, "--json"});
    ASSERT_EQ(direct.exitCode, 0) << direct.err;
    ASSERT_THAT(direct.out, HasSubstr(mount_.LoopDevice()));
    ASSERT_NO_FATAL_FAILURE(StartService());
    const RunResult user = User({"status", disk_, "--json"});
    EXPECT_EQ(user.exitCode, 0) << user.err << service_->Output();
    EXPECT_EQ(user.out, direct.out) << service_->Output();

    // Refused by polkit: the controller never hears of it, while the
    // service's own polls go on.
    ASSERT_TRUE(mount_.ClearTrace());
    const RunResult buzzer = User({"buzzer", disk_, "on", "--no-ask-password"});
    EXPECT_EQ(buzzer.exitCode, 77) << buzzer.err;
    EXPECT_THAT(buzzer.err, HasSubstr("not authorized: "));
    std::vector<std::uint8_t> codes;
    ASSERT_TRUE(WaitFor([&] { return (codes = Commands(mount_.Trace())).size() > 4; }, 10s));
    for (const std::uint8_t mute : {device::cmd::kBuzzerMuteOn, device::cmd::kBuzzerMuteOff})
        EXPECT_EQ(std::count(codes.begin(), codes.end(), mute), 0);
}

TEST_F(ServiceLoopTest, FlashJobKeepsThePollsOffAndHoldsAShutdownInhibitor) {
    QDBusConnection connection =
        QDBusConnection::connectToBus(QString::fromStdString(bus.address()), "service-loop-test");
    // The next test's bus must not find this connection by its name.
    const std::unique_ptr<const QString, void (*)(const QString*)> disconnect(
        new QString(connection.name()), [](const QString* name) {
            QDBusConnection::disconnectFromBus(*name);
            delete name;
        });
    ASSERT_TRUE(connection.isConnected()) << connection.lastError().message().toStdString();
    const auto logind = bus.Start(RunAs::Root, bus.DbusMock({"--template", "logind"}));
    ASSERT_TRUE(bus.WaitForName(kLogind.toStdString())) << logind->Output();
    ASSERT_NO_FATAL_FAILURE(StartService());
    const fs::path file = WriteFirmware();
    // The service's polls have reached the enclosure before the flash.
    ASSERT_TRUE(WaitFor([&] { return Commands(mount_.Trace()).size() > 4; }, 10s));

    ASSERT_TRUE(mount_.ClearTrace());
    const RunResult flash = Root({"flash", disk_, file.string(), "--yes"});
    ASSERT_EQ(flash.exitCode, 0) << flash.out << flash.err << service_->Output();
    EXPECT_THAT(flash.out, HasSubstr("SPI Verify OK\n"));
    // The service polls on after the job; its next poll ends the window below.
    const auto flashOwn = std::set<std::uint8_t>{device::cmd::kEraseSpi, device::cmd::kWriteSpi,
                                                 device::cmd::kReadSpi};
    std::vector<std::uint8_t> codes;
    ASSERT_TRUE(WaitFor(
        [&] {
            codes = Commands(mount_.Trace());
            return !codes.empty() && !flashOwn.contains(codes.back());
        },
        10s))
        << "the service did not poll the enclosure after the flash";
    const auto firstErase = std::find(codes.begin(), codes.end(), device::cmd::kEraseSpi);
    const auto lastRead =
        std::find(codes.rbegin(), codes.rend(), device::cmd::kReadSpi).base();  // one past it
    ASSERT_NE(firstErase, codes.end()) << "no erase in the trace";
    ASSERT_LT(firstErase, lastRead) << "no read-back after the erase";
    EXPECT_TRUE(std::count(firstErase, lastRead, device::cmd::kWriteSpi) > 0);
    const auto other =
        std::find_if(firstErase, lastRead, [&](std::uint8_t c) { return !flashOwn.contains(c); });
    EXPECT_TRUE(other == lastRead)
        << "command 0x" << std::hex << int{*other} << " reached the enclosure during the flash, "
        << std::dec << (other - firstErase) << " commands after the first erase";

    // The job blocked shutdown and sleep through logind, and let go.
    const QDBusMessage calls =
        connection.call(QDBusMessage::createMethodCall(kLogind, kLogindPath,
                                                       "org.freedesktop.DBus.Mock", "GetCalls"),
                        QDBus::Block, 5000);
    ASSERT_EQ(calls.type(), QDBusMessage::ReplyMessage) << calls.errorMessage().toStdString();
    std::vector<std::string> inhibits;
    const QDBusArgument list = calls.arguments().front().value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        quint64 stamp = 0;
        QString method;
        std::string line;
        list.beginStructure();
        list >> stamp >> method;
        list.beginArray();
        while (!list.atEnd()) {
            QDBusVariant v;
            list >> v;
            line += v.variant().toString().toStdString() + "|";
        }
        list.endArray();
        list.endStructure();
        if (method == "Inhibit") inhibits.push_back(line);
    }
    list.endArray();
    EXPECT_THAT(inhibits,
                testing::ElementsAre(testing::StartsWith("shutdown:sleep|raid-monitor|")));
    EXPECT_THAT(inhibits, testing::Each(testing::EndsWith("|block|")));
    EXPECT_TRUE(WaitFor([&] { return ListedInhibitors(connection).empty(); }, 5s))
        << "an inhibitor outlived the job";

    EXPECT_TRUE(FlashAfterService() == EmulatedFirmwareFile())
        << "the flash does not hold the image";
}

TEST_F(ServiceLoopTest, AFlashsClientSaysSoWhenTheServiceDiesDuringIt) {
    std::unique_ptr<BusProcess> client;
    ASSERT_NO_FATAL_FAILURE(StartSlowFlash(client));
    ASSERT_EQ(::kill(service_->pid(), SIGKILL), 0);
    // No Completed will come: the client ends anyway, and says the flash's
    // end is unknown rather than waiting for ever.
    EXPECT_TRUE(WaitFor([&] { return !client->Running(); }, 10s)) << client->Output();
    EXPECT_THAT(client->Output(), HasSubstr("stopped during the firmware upgrade"));
    ASSERT_EQ(mount_.Control("delay 0"), "");
}

TEST_F(ServiceLoopTest, AFlashOutlivesItsKilledClient) {
    std::unique_ptr<BusProcess> client;
    ASSERT_NO_FATAL_FAILURE(StartSlowFlash(client));
    const fs::path file = WriteFirmware();
    ASSERT_EQ(::kill(client->pid(), SIGKILL), 0);
    const RunResult running = User({"jobs", "--check"});
    EXPECT_THAT(running.out, HasSubstr("running")) << "the flash ended before its client died";
    EXPECT_EQ(running.exitCode, 75) << "jobs --check while a job runs";
    // Meanwhile every other command to that enclosure is turned away.
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"buzzer", disk_, "on"},
          std::vector<std::string>{"flash", disk_, file.string(), "--yes"}}) {
        const RunResult busy = Root(words);
        EXPECT_EQ(busy.exitCode, 75) << words[0] << ": " << busy.err;
        EXPECT_THAT(busy.err, HasSubstr("busy")) << words[0];
    }

    const RunResult waited = User({"jobs", "--wait", "--check"});
    EXPECT_EQ(waited.exitCode, 0) << waited.err;
    EXPECT_THAT(waited.out, HasSubstr("ended 0"));
    ASSERT_EQ(mount_.Control("delay 0"), "");
    EXPECT_TRUE(FlashAfterService() == EmulatedFirmwareFile())
        << "the flash does not hold the image";
}

TEST_F(ServiceLoopTest, AStopWaitsForTheFlashAndAsksTheServiceManagerForTime) {
    // The service manager's notification socket, as systemd gives it.
    const fs::path notifyPath = temp_ / "notify";
    const int notify = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const std::unique_ptr<const int, void (*)(const int*)> closer(
        &notify, [](const int* fd) { ::close(*fd); });
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, notifyPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(notify, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    // Read at once, as the service manager reads them: a full queue would
    // block the service's next notification.
    std::mutex toldMutex;
    std::vector<std::string> told;
    std::atomic<bool> heard{false};
    std::thread reader([&] {
        char buffer[4096];
        while (!heard.load()) {
            pollfd ready{notify, POLLIN, 0};
            if (::poll(&ready, 1, 50) <= 0) continue;
            const ssize_t n = ::recv(notify, buffer, sizeof buffer, MSG_DONTWAIT);
            std::lock_guard lock(toldMutex);
            if (n > 0) told.emplace_back(buffer, static_cast<std::size_t>(n));
        }
    });
    const auto stopReading = [&] {
        heard = true;
        if (reader.joinable()) reader.join();
    };
    const std::shared_ptr<void> readerEnd(nullptr, [&](void*) { stopReading(); });
    std::unique_ptr<BusProcess> client;
    ASSERT_NO_FATAL_FAILURE(StartSlowFlash(client, {"NOTIFY_SOCKET=" + notifyPath.string()}));
    ASSERT_EQ(::kill(service_->pid(), SIGTERM), 0);
    // The flash goes on to its end; the service ends after it, having asked
    // for more time as it waited.
    ASSERT_TRUE(WaitFor([&] { return !client->Running(); }, 120s)) << client->Output();
    EXPECT_THAT(client->Output(), HasSubstr("Firmware Upgrade 3/3 completed!"));
    ASSERT_TRUE(WaitFor([&] { return !service_->Running(); }, 30s)) << service_->Output();
    stopReading();
    const auto at = [&](const std::string& what) {
        return std::find(told.begin(), told.end(), what) - told.begin();
    };
    const long extended = at("EXTEND_TIMEOUT_USEC=60000000");
    ASSERT_LT(extended, static_cast<long>(told.size())) << ::testing::PrintToString(told);
    EXPECT_LT(at("STOPPING=1"), extended) << ::testing::PrintToString(told);
    ASSERT_EQ(mount_.Control("delay 0"), "");
    EXPECT_TRUE(FlashAfterService() == EmulatedFirmwareFile())
        << "the flash does not hold the image";
}

TEST_F(ServiceLoopTest, TheJournalHearsEachEventAndASilentEnclosureDoesNotHoldTheStop) {
    const int index = DeviceIndex(mount_.LoopDevice());
    ASSERT_GE(index, 0) << mount_.LoopDevice() << " is not among the enclosures";
    if (index >= 2)
        GTEST_SKIP() << "the virtual enclosure is Device" << index + 1
                     << "; the service polls only Device1 and Device2";
    const std::string name = "Device" + std::to_string(index + 1);
    JournalSocket journal;
    ASSERT_EQ(journal.Error(), "");
    fs::create_directories(temp_ / "logs");
    // As systemd starts it: standard error is the journal's stream, which
    // JOURNAL_STREAM names by device and inode.
    service_ = bus.Start(
        RunAs::Root,
        {"/bin/sh", "-c", "JOURNAL_STREAM=$(stat -L -c %d:%i /proc/self/fd/2) exec \"$0\" \"$@\"",
         RAIDCTL, "monitor", "--log-dir", (temp_ / "logs").string(), "--interval-ms", "200"},
        {lockEnv_});
    ASSERT_TRUE(bus.WaitForName(kService)) << service_->Output();
    using Entry = JournalSocket::Entry;
    // The first entry whose `field` is `value`; with `disk`, only among
    // those that name the enclosure on that device.
    const auto find = [&journal](const std::string& field, const std::string& value,
                                 const std::string& disk = "") {
        for (const Entry& e : journal.Entries()) {
            const auto it = e.find(field);
            const auto on = e.find("ENCLOSURE_DISK");
            if (it != e.end() && it->second == value &&
                (disk.empty() || (on != e.end() && on->second == disk)))
                return e;
        }
        return Entry{};
    };
    ASSERT_EQ(mount_.Control("pull 2"), "");
    ASSERT_TRUE(
        WaitFor([&] { return !find("EVENT", "member-removed", mount_.LoopDevice()).empty(); }, 20s))
        << service_->Output();

    const Entry lost = find("EVENT", "member-removed", mount_.LoopDevice());
    EXPECT_EQ(lost.at("PRIORITY"), "3");
    EXPECT_EQ(lost.at("SYSLOG_IDENTIFIER"), "raidctl");
    EXPECT_EQ(lost.at("MEMBER_SLOT"), "HDD2");
    EXPECT_EQ(lost.at("ENCLOSURE"), name);
    EXPECT_EQ(lost.at("ENCLOSURE_DISK"), mount_.LoopDevice());
    EXPECT_FALSE(lost.at("ENCLOSURE_ID").empty());
    EXPECT_EQ(lost.at("MESSAGE_ID").size(), 32u);
    EXPECT_THAT(lost.at("MESSAGE"),
                testing::StartsWith("D" + std::to_string(index + 1) + " HDD2 was removed, "));
    // No banner: the start is one entry, its information block a field.
    const Entry started = find("EVENT", "started");
    ASSERT_FALSE(started.empty());
    EXPECT_EQ(started.at("PRIORITY"), "6");
    EXPECT_THAT(started.at("DETAIL"), HasSubstr(name + " information :\n"));
    for (const Entry& e : journal.Entries()) {
        EXPECT_EQ(e.at("MESSAGE").find("-----"), std::string::npos) << e.at("MESSAGE");
        EXPECT_NE(e.at("MESSAGE"), name + " information :");
    }
    EXPECT_EQ(find("MESSAGE", name + " information :"), Entry{});
    // The day log keeps every line as it always has.
    std::string dayLog;
    for (const auto& file : fs::directory_iterator(temp_ / "logs")) dayLog += ReadFile(file.path());
    EXPECT_THAT(dayLog, HasSubstr(name + " information :"));

    // Replies no longer signed: the enclosure is told as not answering
    // within the protocol's own limits, and a stop is not held by it.
    const auto silent = Clock::now();
    ASSERT_EQ(mount_.Control("badsig 1000000"), "");
    // "Device1 (disk 2 (/dev/loop0)) did not answer ...": this enclosure's.
    const std::string silentOne =
        name + " (disk " + disk_ + " (" + mount_.LoopDevice() + ")) did not answer";
    ASSERT_TRUE(WaitFor(
        [&] {
            for (const Entry& e : journal.Entries())
                if (e.at("MESSAGE").starts_with(silentOne) && e.at("PRIORITY") == "4") return true;
            return false;
        },
        60s))
        << service_->Output();
    const auto told = Clock::now() - silent;
    EXPECT_LT(told, 30s);
    const auto stop = Clock::now();
    ASSERT_EQ(::kill(service_->pid(), SIGTERM), 0);
    EXPECT_TRUE(WaitFor([&] { return !service_->Running(); }, 60s));
    const auto stopped = Clock::now() - stop;
    // One pass-through's limit at most; the unit's stop timeout is longer.
    EXPECT_LT(stopped, 30s);
    std::cerr << "not answering told after "
              << std::chrono::duration_cast<std::chrono::milliseconds>(told).count()
              << " ms; stopped in "
              << std::chrono::duration_cast<std::chrono::milliseconds>(stopped).count() << " ms\n";
}

// The system calls the unit's SystemCallFilter= lines let through, with
// their groups expanded by systemd-analyze's own lists.
std::set<std::string> UnitSystemCalls(const PrivateSystemBus& bus, std::string& why) {
    const RunResult listed =
        bus.Run(RunAs::Root, {"systemd-analyze", "syscall-filter", "--no-pager"});
    if (listed.exitCode != 0) {
        why = "systemd-analyze syscall-filter: " + listed.err;
        return {};
    }
    std::map<std::string, std::vector<std::string>> groups;
    std::istringstream lines(listed.out);
    std::string group;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("@"))
            group = line;
        else if (line.empty() || line.starts_with("#"))
            group.clear();  // the unlisted calls
        else if (!group.empty() && line.find_first_not_of(' ') != std::string::npos &&
                 line[line.find_first_not_of(' ')] != '#')
            groups[group].push_back(line.substr(line.find_first_not_of(' ')));
    }
    std::function<void(const std::string&, std::set<std::string>&)> expand =
        [&](const std::string& name, std::set<std::string>& into) {
            if (!name.starts_with("@")) {
                into.insert(name);
                return;
            }
            for (const std::string& member : groups[name]) expand(member, into);
        };
    std::set<std::string> allowed;
    std::istringstream unit(ReadFile(RAID_MONITOR_UNIT));
    for (std::string line; std::getline(unit, line);) {
        if (!line.starts_with("SystemCallFilter=")) continue;
        std::string value = line.substr(line.find('=') + 1);
        const bool deny = value.starts_with("~");
        std::istringstream words(deny ? value.substr(1) : value);
        std::set<std::string> named;
        for (std::string word; words >> word;) expand(word, named);
        for (const std::string& call : named)
            deny ? (void)allowed.erase(call) : (void)allowed.insert(call);
    }
    if (allowed.empty()) why = std::string(RAID_MONITOR_UNIT) + " lets no system call through";
    return allowed;
}

// The system calls of a `strace -c` table.
std::set<std::string> CountedSystemCalls(const std::string& table) {
    std::set<std::string> calls;
    std::istringstream lines(table);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string first, last;
        words >> first;
        for (std::string word; words >> word;) last = word;
        if (!first.empty() && std::isdigit(static_cast<unsigned char>(first[0])) &&
            first.find('.') != std::string::npos && !last.empty() && last != "total")
            calls.insert(last);
    }
    return calls;
}

TEST_F(ServiceLoopTest, TheServiceServesUnderItsUnitsLimits) {
    // As raid-monitor.service runs it: root without any capability and
    // without new privileges; every system call it makes counted.
    fs::create_directories(temp_ / "logs");
    const fs::path counted = temp_ / "service.syscalls";
    service_ = bus.Start(RunAs::RootWithoutCapabilities,
                         {"strace", "-f", "-qq", "-c", "-o", counted.string(), RAIDCTL, "monitor",
                          "--log-dir", (temp_ / "logs").string(), "--interval-ms", "200"},
                         {lockEnv_});
    ASSERT_TRUE(bus.WaitForName(kService)) << service_->Output();
    const std::string limits = ReadFile("/proc/" + std::to_string(service_->pid()) + "/status");
    for (const char* line :
         {"\nCapEff:\t0000000000000000\n", "\nCapBnd:\t0000000000000000\n", "\nNoNewPrivs:\t1\n"})
        ASSERT_THAT(limits, HasSubstr(line));

    // What a user reads, a setting and SMART, all through the service.
    const RunResult status = User({"status", disk_, "--json"});
    EXPECT_EQ(status.exitCode, 0) << status.err << service_->Output();
    EXPECT_THAT(status.out, HasSubstr(mount_.LoopDevice()));
    const RunResult mute = Root({"buzzer", disk_, "on"});
    EXPECT_EQ(mute.exitCode, 0) << mute.out << mute.err << service_->Output();
    const RunResult smart = User({"smart", disk_, "--json"});
    EXPECT_EQ(smart.exitCode, 0) << smart.err << service_->Output();
    EXPECT_THAT(smart.out, HasSubstr("\"verdict\":\"Good\""));
    EXPECT_FALSE(fs::is_empty(temp_ / "logs")) << "no day log written";

    // Stopped, strace writes its count: every call must pass the unit's
    // system call filter, where a refused one would fail with EPERM.
    service_.reset();
    std::string why;
    const std::set<std::string> allowed = UnitSystemCalls(bus, why);
    ASSERT_FALSE(allowed.empty()) << why;
    const std::set<std::string> made = CountedSystemCalls(ReadFile(counted));
    ASSERT_FALSE(made.empty()) << ReadFile(counted);
    std::string refused;
    for (const std::string& call : made)
        if (!allowed.contains(call)) refused += " " + call;
    EXPECT_EQ(refused, "") << "system calls the unit's SystemCallFilter= refuses";
}

// An authorization is for one enclosure: when another stands at its index
// by the time the administrator has authenticated, the request is refused
// and nothing is sent. The prompt names the enclosure.
TEST_F(ServiceLoopTest, AnAuthorizationActsOnlyOnTheEnclosureItWasGivenFor) {
    SimMount second;
    ASSERT_EQ(second.Start(SIM_FUSE_PATH, {"--scenario", "raid0"}), "");
    // The authorization is for the first of the two; the other, right
    // behind it, takes its place when it goes.
    const int own = DeviceIndex(mount_.LoopDevice());
    const int theirs = DeviceIndex(second.LoopDevice());
    ASSERT_GE(own, 0) << mount_.LoopDevice() << " is not among the enclosures";
    ASSERT_GE(theirs, 0) << second.LoopDevice() << " is not among the enclosures";
    const int index = std::min(own, theirs);
    ASSERT_EQ(std::max(own, theirs), index + 1)
        << "another enclosure on this machine stands between the two";
    if (index >= 2)
        GTEST_SKIP() << "the virtual enclosures are Device" << index + 1 << " and Device"
                     << index + 2 << "; settings go to Device1 and Device2 only";
    SimMount* authorized = own == index ? &mount_ : &second;
    SimMount* other = authorized == &mount_ ? &second : &mount_;
    ASSERT_NO_FATAL_FAILURE(StartService());
    ASSERT_TRUE(WaitFor([&] { return EnclosureOn(authorized->LoopDevice()) == index; }, 20s))
        << service_->Output();
    const std::string first = EnclosurePath(index);

    // The test user's call waits for a password; an agent of the test's own
    // says it was typed once the enclosures have been swapped.
    bus.InstallRules(
        "polkit.addRule(function(action, subject) {\n"
        "  if (action.id == 'org.raidenclosure.manager.set-buzzer' &&\n"
        "      subject.user == 'raidtest') return polkit.Result.AUTH_SELF;\n"
        "});\n");
    const fs::path script = temp_ / "hostile_caller.py";
    fs::copy_file(HOSTILE_CALLER, script);
    const fs::path go = temp_ / "go";
    const fs::path grant = temp_ / "grant";
    auto call = bus.Start(RunAs::TestUser, {"/usr/bin/python3", script.string(), "flood", "buzzer",
                                            "1", first, go.string()});
    auto agent = bus.Start(RunAs::Root, {"/usr/bin/python3", script.string(), "agent",
                                         std::to_string(call->pid()), grant.string()});
    ASSERT_TRUE(
        WaitFor([&] { return agent->Output().find("REGISTERED") != std::string::npos; }, 10s))
        << agent->Output() << bus.PolkitLog();
    std::ofstream(go) << "go\n";
    ASSERT_TRUE(WaitFor([&] { return agent->Output().find("BEGIN") != std::string::npos; }, 10s))
        << agent->Output() << call->Output();
    EXPECT_THAT(agent->Output(), HasSubstr("of the RAID enclosure SIM RAID")) << agent->Output();
    EXPECT_THAT(agent->Output(), HasSubstr(" on " + authorized->LoopDevice()));

    authorized->Stop();
    ASSERT_TRUE(WaitFor([&] { return EnclosureOn(other->LoopDevice()) == index; }, 20s))
        << "the other enclosure did not take Device" << index + 1
        << "'s place: " << service_->Output();
    ASSERT_TRUE(other->ClearTrace());
    std::ofstream(grant) << "typed\n";
    ASSERT_TRUE(WaitFor([&] { return call->Output().find("DONE") != std::string::npos; }, 20s))
        << call->Output() << agent->Output();
    EXPECT_THAT(call->Output(), HasSubstr("is not the enclosure this was authorized for"));
    EXPECT_THAT(call->Output(), HasSubstr("nothing was sent to it"));
    const auto codes = Commands(other->Trace());
    EXPECT_EQ(std::count(codes.begin(), codes.end(), device::cmd::kBuzzerMuteOn), 0);
    bus.RemoveRules();
}

}  // namespace
}  // namespace raid::test_support

#ifdef RAIDGUI
namespace raid::test_support {
namespace {

// An X server of the test's own, open to every local user (-ac), on the
// first free display from :80.
class VirtualDisplay {
public:
    explicit VirtualDisplay(const PrivateSystemBus& bus) {
        for (int n = 80; n < 100; ++n) {
            if (fs::exists("/tmp/.X11-unix/X" + std::to_string(n)) ||
                fs::exists("/tmp/.X" + std::to_string(n) + "-lock"))
                continue;
            name_ = ":" + std::to_string(n);
            server_ = bus.Start(RunAs::Root, {"Xvfb", name_, "-nolisten", "tcp", "-ac", "-screen",
                                              "0", "1024x768x24"});
            socket_ = "/tmp/.X11-unix/X" + std::to_string(n);
            return;
        }
    }
    // False when it did not come up within `limit`.
    bool Wait(std::chrono::milliseconds limit) {
        return server_ && WaitFor([&] { return fs::exists(socket_); }, limit);
    }
    const std::string& name() const { return name_; }
    std::string Output() const { return server_ ? server_->Output() : "no free display"; }

private:
    std::string name_;
    fs::path socket_;
    std::unique_ptr<BusProcess> server_;
};

TEST_F(ServiceLoopTest, AUserWindowShowsTheEnclosureAndItsEventsAndOpensNoDisk) {
    // Two enclosures: a window's start-up calls stay well within a user's limits.
    SimMount second;
    ASSERT_EQ(second.Start(SIM_FUSE_PATH, {"--scenario", "raid0"}), "");
    // The window shows Device1 and Device2, which other enclosures on the
    // machine may be: each as "DeviceN: MODEL on disk D (PATH)".
    const RunResult list = Root({"list", "--json"});
    std::vector<std::string> shownTexts;
    for (const std::string& o : JsonObjects(list.out)) {
        const int i = std::stoi(JsonField(o, "index").value_or("-1"));
        if (i >= 0 && i < 2)
            shownTexts.push_back("Device" + std::to_string(i + 1) + ": " +
                                 JsonField(o, "model").value_or("") + " on disk " +
                                 JsonField(o, "disk").value_or("") + " (" +
                                 JsonField(o, "path").value_or("") + ")");
    }
    const int index = JsonNumberWith(list.out, "path", mount_.LoopDevice(), "index");
    ASSERT_GE(index, 0) << mount_.LoopDevice() << " is not among " << list.out;
    if (index >= 2)
        GTEST_SKIP() << "the virtual enclosure is Device" << index + 1
                     << "; the window shows only Device1 and Device2";
    ASSERT_NO_FATAL_FAILURE(StartService());
    VirtualDisplay display(bus);
    ASSERT_TRUE(display.Wait(10s)) << display.Output();

    // The user's runtime folder, as a login session has it: the window's lock.
    const fs::path runtime = temp_ / "runtime";
    fs::create_directory(runtime);
    ASSERT_EQ(::chown(runtime.c_str(), bus.testUid(), static_cast<gid_t>(-1)), 0);
    fs::permissions(runtime, fs::perms(0700));
    // The window as the test user, every file it opens traced.
    const fs::path trace = temp_ / "raidgui.trace";
    const fs::path log = temp_ / "raidgui.log";
    const std::string line = "exec strace -f -qq -u " + std::string(PrivateSystemBus::kTestUser) +
                             " -e trace=open,openat,openat2 -o " + trace.string() + " " + RAIDGUI +
                             " 2>" + log.string();
    RunResult window;
    std::atomic<bool> ended{false};
    std::thread run([&] {
        window = bus.Run(RunAs::Root, {"/bin/sh", "-c", line}, 90s,
                         {"DISPLAY=" + display.name(), "QT_QPA_PLATFORM=xcb", "HOME=/tmp",
                          "XDG_RUNTIME_DIR=" + runtime.string(),
                          // No session bus: without this, libdbus would start one
                          // for the display, which strace would follow forever.
                          "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/session-bus"});
        ended = true;
    });
    const auto said = [&](const std::string& text) {
        return ReadFile(log).find(text) != std::string::npos;
    };
    const bool shown =
        WaitFor([&] { return std::all_of(shownTexts.begin(), shownTexts.end(), said); }, 30s);
    EXPECT_TRUE(shown) << testing::PrintToString(shownTexts) << "\n" << ReadFile(log);
    // A member pulled: the service's event line reaches the window.
    EXPECT_EQ(mount_.Control("pull 2"), "");
    const std::string removed = "D" + std::to_string(index + 1) + " HDD2 was removed, ";
    const bool heard = WaitFor([&] { return said(removed); }, 20s);
    EXPECT_TRUE(heard) << ReadFile(log) << service_->Output();

    // Still up; then closed as a desktop closes it.
    EXPECT_FALSE(ended.load());
    bus.Run(RunAs::Root, {"pkill", "-TERM", "-u", PrivateSystemBus::kTestUser, "-x", "raidgui"});
    run.join();
    EXPECT_EQ(window.exitCode, 0) << window.err << ReadFile(log);
    EXPECT_THAT(service_->Output(), Not(HasSubstr("refused a call")));
    EXPECT_THAT(ReadFile(log), Not(HasSubstr("busy")));

    // It never opened a block device: not the enclosure's, not any other.
    const std::string opens = ReadFile(trace);
    ASSERT_FALSE(opens.empty());
    std::istringstream lines(opens);
    for (std::string l; std::getline(lines, l);) {
        for (const char* device : {"\"/dev/loop", "\"/dev/sd", "\"/dev/nvme", "\"/dev/vd",
                                   "\"/dev/sr", "\"/dev/dm-", "\"/dev/mmcblk"})
            EXPECT_EQ(l.find(device), std::string::npos) << l;
    }
}

// True when every command the trace starts also completes before the next
// one starts: no two programs' knock sequences mixed.
bool NoCommandInterleaves(const std::vector<std::uint32_t>& trace, std::string& why) {
    sim::KnockDecoder decoder;
    bool started = false;  // a sequence began and has not completed
    std::size_t complete = 0;
    for (const std::uint32_t lba : trace) {
        switch (decoder.Feed(lba)) {
            case sim::KnockDecoder::Event::Started:
                if (started) {
                    why = "a command broken off after " + std::to_string(complete) + " whole ones";
                    return false;
                }
                started = true;
                break;
            case sim::KnockDecoder::Event::Complete:
                started = false;
                ++complete;
                break;
            case sim::KnockDecoder::Event::BadCrc:
                why = "a command with a wrong CRC after " + std::to_string(complete);
                return false;
            case sim::KnockDecoder::Event::None:
                break;
        }
    }
    return true;
}

TEST_F(ServiceLoopTest, RootsWindowHandsTheEnclosuresToTheServiceAndTakesThemBack) {
    VirtualDisplay display(bus);
    ASSERT_TRUE(display.Wait(10s)) << display.Output();
    ASSERT_TRUE(mount_.ClearTrace());
    const fs::path log = temp_ / "raidgui.log";
    const fs::path pid = temp_ / "raidgui.pid";
    const std::string line =
        "echo $$ > " + pid.string() + "; exec " + std::string(RAIDGUI) + " 2>" + log.string();
    RunResult window;
    std::atomic<bool> ended{false};
    std::thread run([&] {
        window = bus.Run(RunAs::Root, {"/bin/sh", "-c", line}, 90s,
                         {lockEnv_, "DISPLAY=" + display.name(), "QT_QPA_PLATFORM=xcb",
                          "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/session-bus"});
        ended = true;
    });
    const auto said = [&](const std::string& text) {
        return ReadFile(log).find(text) != std::string::npos;
    };
    // The window has found the enclosure itself: its commands reach it.
    const bool working = WaitFor([&] { return Commands(mount_.Trace()).size() >= 4; }, 30s);
    EXPECT_TRUE(working) << ReadFile(log);

    // The service comes, waits for the machine lock, and gets the enclosures.
    fs::create_directories(temp_ / "logs");
    service_ = bus.Start(
        RunAs::Root,
        {RAIDCTL, "monitor", "--log-dir", (temp_ / "logs").string(), "--interval-ms", "200"},
        {lockEnv_});
    const bool handed = WaitFor([&] { return said("this window is now its client"); }, 30s);
    EXPECT_TRUE(handed) << ReadFile(log) << service_->Output();
    const bool shown =
        WaitFor([&] { return said(": SIM RAID1 ENCLOSURE on disk " + disk_ + " ("); }, 30s);
    EXPECT_TRUE(shown) << ReadFile(log) << service_->Output();
    // The service polls on, and no command of the two ever mixed.
    const std::size_t before = Commands(mount_.Trace()).size();
    EXPECT_TRUE(WaitFor([&] { return Commands(mount_.Trace()).size() > before + 4; }, 10s));
    // The service stops: the window takes the enclosures back.
    service_.reset();
    const bool back =
        WaitFor([&] { return said("this window drives the enclosures itself again"); }, 30s);
    EXPECT_TRUE(back) << ReadFile(log);
    const std::size_t served = Commands(mount_.Trace()).size();
    EXPECT_TRUE(WaitFor([&] { return Commands(mount_.Trace()).size() > served + 4; }, 30s));
    std::string why;
    EXPECT_TRUE(NoCommandInterleaves(mount_.Trace(), why)) << why;
    EXPECT_FALSE(ended.load());

    const int windowPid = std::atoi(ReadFile(pid).c_str());
    if (windowPid > 0) ::kill(windowPid, SIGTERM);
    run.join();
    EXPECT_EQ(window.exitCode, 0) << window.err << ReadFile(log);
}

}  // namespace
}  // namespace raid::test_support
#endif  // RAIDGUI
