// End-to-end: `raidctl list`, `raidctl smart` and `raidctl monitor` find,
// read and watch an emulated enclosure through the real Linux disk numbering
// and transport (loop device with direct I/O over raid-sim-fuse). Needs root,
// /dev/fuse and loop devices; skips itself otherwise.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/emulator.h"
#include "sim/fuse/sim_mount.h"
#include "tests/e2e/json_field.h"
#include "tests/emulated_firmware.h"
#include "tests/prometheus_textfile.h"

namespace raid {
namespace {

using raid::test_support::JsonField;
using raid::test_support::JsonNumberWith;
using raid::test_support::JsonObjectWith;

namespace fs = std::filesystem;
using sim::fuse::CommandResult;
using sim::fuse::FindProgram;
using sim::fuse::RunCommand;
using sim::fuse::SimMount;
using Clock = std::chrono::steady_clock;

constexpr int kCommandTimeoutMs = 30000;
// A monitor stops at SIGTERM within this, well under the 5 s poll interval
// it would otherwise wait out; loose enough for a loaded machine under the
// sanitizers.
constexpr std::chrono::seconds kPromptStop{3};
// Discovery probes physical disks 0..9 only.
constexpr int kProbedDisks = 10;
// The highest block the protocol reads on a disk that is not an enclosure:
// the knock sequence's separator reads.
constexpr std::uint64_t kHighestKnockLba = 0x5FFF;
const std::string kSeparator(83, '-');

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Today's log file name as raidctl makes it: the local date, "yymmdd.log".
std::string DayLogName() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[16];
    std::strftime(name, sizeof name, "%y%m%d.log", &local);
    return name;
}

// A program running in the background with its output going to files; it is
// killed and reaped when the object goes, whatever happened.
class Background {
public:
    Background(const std::vector<std::string>& argv, const fs::path& out, const fs::path& err) {
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (outFd >= 0 && errFd >= 0) {
            pid_ = fork();
            if (pid_ == 0) {
                dup2(outFd, STDOUT_FILENO);
                dup2(errFd, STDERR_FILENO);
                execv(args[0], args.data());
                _exit(127);
            }
        }
        if (outFd >= 0) ::close(outFd);
        if (errFd >= 0) ::close(errFd);
    }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;
    ~Background() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            Wait(5000);
        }
    }

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    void Signal(int sig) {
        if (pid_ > 0 && !exited_) kill(pid_, sig);
    }
    // The exit status once it has ended within `timeoutMs`; nullopt while
    // it runs on (or was ended by a signal: -1).
    std::optional<int> Wait(int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (pid_ > 0 && !exited_) {
            int status = 0;
            const pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                exited_ = true;
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                break;
            }
            if (r < 0 || Clock::now() >= deadline) return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!exited_) return std::nullopt;
        return status_;
    }

private:
    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = -1;
};

// Waits up to `timeoutMs` for `done` to hold, looking every 20 ms.
bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// The bytes of the C string strace shows after `key="` in `text`.
std::optional<std::vector<std::uint8_t>> StraceBytes(const std::string& text,
                                                     const std::string& key) {
    auto at = text.find(key + "=\"");
    if (at == std::string::npos) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    for (at += key.size() + 2; at < text.size() && text[at] != '"'; ++at) {
        if (text[at] != '\\') {
            bytes.push_back(static_cast<std::uint8_t>(text[at]));
            continue;
        }
        if (++at >= text.size()) return std::nullopt;
        const char c = text[at];
        if (c == 'x' && at + 2 < text.size()) {
            bytes.push_back(
                static_cast<std::uint8_t>(std::stoi(text.substr(at + 1, 2), nullptr, 16)));
            at += 2;
        } else if (c >= '0' && c <= '7') {  // octal, as strace writes some bytes
            std::size_t n = 0;
            int v = 0;
            while (n < 3 && at < text.size() && text[at] >= '0' && text[at] <= '7') {
                v = v * 8 + (text[at] - '0');
                ++at;
                ++n;
            }
            --at;
            bytes.push_back(static_cast<std::uint8_t>(v));
        } else {
            static const std::map<char, std::uint8_t> kEscapes = {
                {'n', '\n'}, {'t', '\t'}, {'r', '\r'},  {'v', '\v'}, {'f', '\f'},
                {'a', '\a'}, {'b', '\b'}, {'\\', '\\'}, {'"', '"'}};
            const auto e = kEscapes.find(c);
            if (e == kEscapes.end()) return std::nullopt;
            bytes.push_back(e->second);
        }
    }
    return bytes;
}

// An SG_IO ioctl whose command is READ(10) of one sector at a low block.
bool IsLowOneSectorRead(const std::string& ioctlArgs) {
    if (ioctlArgs.rfind(", SG_IO, {", 0) != 0) return false;
    if (ioctlArgs.find("dxfer_direction=SG_DXFER_FROM_DEV") == std::string::npos) return false;
    const auto cdb = StraceBytes(ioctlArgs, "cmdp");
    if (!cdb || cdb->size() != 10 || (*cdb)[0] != 0x28) return false;
    const std::uint64_t lba =
        (std::uint64_t{(*cdb)[2]} << 24) | ((*cdb)[3] << 16) | ((*cdb)[4] << 8) | (*cdb)[5];
    const unsigned sectors = ((*cdb)[7] << 8) | (*cdb)[8];
    return sectors == 1 && lba <= kHighestKnockLba;
}

// What a strace log says raidctl did to disks other than `ownDevice`: one
// complaint per system call that is not a one-sector read of a low block, and
// the disks it could open.
struct ForeignDiskUse {
    std::vector<std::string> complaints;
    std::vector<std::string> opened;
};

ForeignDiskUse CheckForeignDiskUse(const std::string& straceLog, const std::string& ownDevice) {
    static const std::regex kCall(R"(^\d+\s+(\w+)\((\d+)(.*)$)");
    static const std::regex kOpen(R"re(^\d+\s+openat\(AT_FDCWD, "(/dev/[^"]+)",.*\)\s+= (\d+))re");
    static const std::regex kRead(R"(, 512, (\d+)\)\s+= )");
    ForeignDiskUse use;
    std::map<std::string, std::string> fds;  // open descriptor -> device path
    for (const std::string& line : Lines(straceLog)) {
        std::smatch m;
        if (std::regex_search(line, m, kOpen)) {
            fds[m[2]] = m[1];
            if (m[1] != ownDevice &&
                std::find(use.opened.begin(), use.opened.end(), m[1]) == use.opened.end())
                use.opened.push_back(m[1]);
            continue;
        }
        if (!std::regex_search(line, m, kCall)) continue;
        const auto fd = fds.find(m[2]);
        if (fd == fds.end()) continue;
        const std::string call = m[1];
        const std::string rest = m[3];
        if (call == "close") {
            fds.erase(fd);
            continue;
        }
        const bool write = call.find("write") != std::string::npos;
        if (fd->second == ownDevice && !write) continue;
        std::smatch r;
        bool fine = false;
        if (call == "pread64" && std::regex_search(rest, r, kRead)) {
            fine = std::stoull(r[1]) <= kHighestKnockLba * 512;
        } else if (call == "ioctl") {
            fine = IsLowOneSectorRead(rest);
        } else if (call == "fcntl" || call == "newfstatat" || call == "fstat") {
            fine = true;
        } else if (call == "flock") {
            // A command's turn on the disk: taking and giving back its lock.
            fine = rest.find("LOCK_EX|LOCK_NB") != std::string::npos ||
                   rest.find("LOCK_UN") != std::string::npos;
        }
        if (!fine) use.complaints.push_back(fd->second + ": " + line);
    }
    return use;
}

// The program's own answers to its command line. No disk is touched, so this
// needs neither root nor FUSE.
TEST(RaidctlProgram, HelpVersionAndOneLineUsageErrors) {
    const auto raidctl = [](std::vector<std::string> words) {
        words.insert(words.begin(), RAIDCTL_PATH);
        return RunCommand(words, kCommandTimeoutMs);
    };
    const CommandResult help = raidctl({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Usage: raidctl [OPTIONS] SUBCOMMAND\n"), std::string::npos)
        << help.out;
    EXPECT_EQ(help.err, "");
    const CommandResult statusHelp = raidctl({"status", "--help"});
    EXPECT_EQ(statusHelp.exitCode, 0);
    EXPECT_NE(statusHelp.out.find("Usage: raidctl status [OPTIONS] [DISK]\n"), std::string::npos)
        << statusHelp.out;
    const CommandResult version = raidctl({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "raidctl v0.50.11-5\n");

    // monitor's is above its health bits.
    for (const auto& [words, code] : std::vector<std::pair<std::vector<std::string>, int>>{
             {{"status", "--bogus"}, 1}, {{"monitor", "--polls", "5s"}, 64}, {{}, 1}}) {
        const CommandResult r = raidctl(words);
        const std::string line = testing::PrintToString(words);
        EXPECT_EQ(r.exitCode, code) << line;
        EXPECT_EQ(r.out, "") << line;
        EXPECT_EQ(r.err.rfind("raidctl: ", 0), 0u) << line << ": " << r.err;
        EXPECT_EQ(Lines(r.err).size(), 1u) << line << ": " << r.err;
        EXPECT_TRUE(r.err.ends_with('\n')) << line << ": " << r.err;
    }
}

class RaidctlLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string missing = SimMount::MissingPrerequisites();
        if (!missing.empty()) {
            GTEST_SKIP() << "end-to-end test needs root, /dev/fuse, loop devices, losetup and "
                            "fusermount3; missing: "
                         << missing;
        }
        const std::string error = mount_.Start(SIM_FUSE_PATH, {"--scenario", "raid1"});
        ASSERT_TRUE(error.empty()) << error;
        std::string dir = (fs::temp_directory_path() / "raidctl-e2e.XXXXXX").string();
        ASSERT_NE(mkdtemp(dir.data()), nullptr);
        tempDir_ = dir;
        // A lock of the tests' own, apart from a service this machine may run.
        lockDir_ = tempDir_ / "lock";
        fs::create_directory(lockDir_);
        fs::permissions(lockDir_, fs::perms(0755));
        setenv("RAID_LOCK_DIR", lockDir_.c_str(), 1);

        // Which physical disk number the loop device got: all of /sys/block
        // is numbered, so it depends on the machine.
        diskNumber_ = DiskNumberOf(mount_.LoopDevice());
        ASSERT_GE(diskNumber_, 0) << mount_.LoopDevice() << " is not among the disks";
        if (diskNumber_ >= kProbedDisks) {
            GTEST_SKIP() << mount_.LoopDevice() << " is physical disk " << diskNumber_
                         << "; discovery probes only disks 0.." << kProbedDisks - 1;
        }
    }

    void TearDown() override {
        unsetenv("RAID_LOCK_DIR");
        mount_.Stop();
        if (!tempDir_.empty()) {
            std::error_code ec;
            fs::remove_all(tempDir_, ec);
        }
    }

    // The device index `raidctl list --json` gives the loop device (other
    // enclosures may be attached too), with the whole run; -1 when absent.
    int DeviceIndex(const CommandResult& list, std::string* object = nullptr) {
        const std::string own = JsonObjectWith(list.out, "path", mount_.LoopDevice());
        if (object) *object = own;
        return std::stoi(JsonField(own, "index").value_or("-1"));
    }

    // What `raidctl disks --json` prints: every disk with its number.
    static std::string Disks() {
        const CommandResult disks = RunCommand({RAIDCTL_PATH, "disks", "--json"}, 10000);
        EXPECT_EQ(disks.exitCode, 0) << disks.err;
        return disks.out;
    }
    static int DiskNumberOf(const std::string& device) {
        return JsonNumberWith(Disks(), "devicePath", device, "number");
    }

    // The device index an enclosure on `device`, attached after `list` was
    // taken, gets: enclosures go in disk order. -1 when discovery cannot
    // find it.
    static int IndexOfNewcomer(const CommandResult& list, const std::string& device) {
        const std::string disks = Disks();
        const int number = JsonNumberWith(disks, "devicePath", device, "number");
        if (number < 0 || number >= kProbedDisks) return -1;
        int index = 0;
        for (const std::string& o : test_support::JsonObjects(list.out)) {
            const int before =
                JsonNumberWith(disks, "devicePath", JsonField(o, "path").value_or(""), "number");
            index += before >= 0 && before < number ? 1 : 0;
        }
        return index;
    }

    SimMount mount_;
    fs::path tempDir_;
    fs::path lockDir_;
    int diskNumber_ = -1;
};

TEST_F(RaidctlLoopTest, ListFindsTheEnclosureAndOnlyReadsOtherDisks) {
    const auto model = sim::ScenarioEnclosure("raid1");
    ASSERT_TRUE(model.has_value());
    // The firmware bytes hold control characters, so the text is their hex form.
    ASSERT_LT(model->firmwareCode[0], 0x20);
    char firmware[16];
    std::snprintf(firmware, sizeof firmware, "%02X%02X%02X.%X", model->firmwareCode[0],
                  model->firmwareCode[1], model->firmwareCode[2], model->firmwareCode[3] & 0x0F);

    // Under strace when there is one, to see what reaches the machine's disks.
    const std::string strace = FindProgram("strace");
    const fs::path straceLog = tempDir_ / "strace.log";
    std::vector<std::string> argv{RAIDCTL_PATH, "list", "--json"};
    // LeakSanitizer cannot run under ptrace; the sanitizer build keeps the
    // rest of its checks.
    if (!strace.empty())
        argv.insert(argv.begin(),
                    {strace, "-f", "-E", "ASAN_OPTIONS=detect_leaks=0", "-o", straceLog.string()});
    const CommandResult list = RunCommand(argv, kCommandTimeoutMs);
    ASSERT_FALSE(list.timedOut) << "raidctl list did not end";
    ASSERT_EQ(list.exitCode, 0) << list.out << list.err;

    std::string device;
    ASSERT_GE(DeviceIndex(list, &device), 0) << mount_.LoopDevice() << " not found: " << list.out;
    EXPECT_EQ(JsonField(device, "disk"), std::to_string(diskNumber_)) << device;
    EXPECT_EQ(JsonField(device, "model"), model->controllerModel) << device;
    EXPECT_EQ(JsonField(device, "firmware"), firmware) << device;
    EXPECT_EQ(JsonField(device, "controller"), "raid-bridge") << device;

    if (strace.empty()) {
        std::cout << "strace not found: what raidctl did to the other disks is not checked\n";
        return;
    }
    const ForeignDiskUse use = CheckForeignDiskUse(ReadFile(straceLog), mount_.LoopDevice());
    for (const std::string& complaint : use.complaints)
        ADD_FAILURE() << "not a one-sector read of a low block: " << complaint;
    std::cout << "other disks raidctl list could open:"
              << (use.opened.empty() ? std::string(" none") : "") << "\n";
    for (const std::string& path : use.opened) std::cout << "  " << path << "\n";
}

// How often `part` occurs in `text`.
std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

TEST_F(RaidctlLoopTest, SmartReadsBothMembersThroughTheLoopDevice) {
    const CommandResult smart =
        RunCommand({RAIDCTL_PATH, "smart", mount_.LoopDevice(), "--json"}, kCommandTimeoutMs);
    ASSERT_FALSE(smart.timedOut) << "raidctl smart did not end";
    ASSERT_EQ(smart.exitCode, 0) << smart.out << smart.err;
    EXPECT_EQ(JsonField(smart.out, "path"), mount_.LoopDevice());
    EXPECT_EQ(JsonField(smart.out, "thresholdsRead"), "true");
    EXPECT_EQ(JsonField(smart.out, "dataRead"), "true");
    // The emulator's healthy disks: nine attributes each, word 106 0x6003.
    EXPECT_EQ(Occurrences(smart.out, "{\"id\":"), 18u) << smart.out;
    EXPECT_EQ(Occurrences(smart.out, "\"word106\":24579,\"sector4K\":\"Yes\""), 2u) << smart.out;
    EXPECT_EQ(Occurrences(smart.out, "\"verdict\":\"Good\""), 2u) << smart.out;
    EXPECT_NE(smart.out.find("{\"id\":9,\"name\":\"Power-on hours count\",\"current\":88,"
                             "\"worst\":88,\"threshold\":0,\"raw\":\"000000002238\","
                             "\"rawValue\":8760,\"status\":\"Good\",\"reason\":\"\"}"),
              std::string::npos)
        << smart.out;

    // HDD2's data command goes unanswered: what came is printed, the exit
    // code says the read was not complete.
    ASSERT_EQ(mount_.Control("diskfault 2 D0 0 silent always"), "");
    const CommandResult silent =
        RunCommand({RAIDCTL_PATH, "smart", mount_.LoopDevice()}, kCommandTimeoutMs);
    ASSERT_FALSE(silent.timedOut) << "raidctl smart did not end";
    EXPECT_EQ(silent.exitCode, 3) << silent.out << silent.err;
    EXPECT_NE(silent.out.find("  HDD1: SIM-DISK 1000GB\n"), std::string::npos) << silent.out;
    EXPECT_NE(silent.out.find("    verdict: Good\n"), std::string::npos) << silent.out;
    EXPECT_NE(silent.err.find("did not answer every SMART read"), std::string::npos) << silent.err;
}

TEST_F(RaidctlLoopTest, MonitorLogsThePulledMemberWithinTwoPolls) {
    const CommandResult list = RunCommand({RAIDCTL_PATH, "list", "--json"}, kCommandTimeoutMs);
    const int index = DeviceIndex(list);
    ASSERT_GE(index, 0) << list.out << list.err;
    if (index >= 2)
        GTEST_SKIP() << "the virtual enclosure is Device" << index + 1
                     << "; monitor polls only Device1 and Device2";
    const std::string device = "D" + std::to_string(index + 1);

    const fs::path logDir = tempDir_ / "logs";
    fs::create_directory(logDir);
    const fs::path out = tempDir_ / "monitor.out";
    const fs::path err = tempDir_ / "monitor.err";
    const std::string dayBefore = DayLogName();
    Background monitor({RAIDCTL_PATH, "monitor", "--log-dir", logDir.string(), "--interval-ms",
                        "1000", "--polls", "6", "--json"},
                       out, err);
    ASSERT_TRUE(monitor.Started());

    // The first poll writes the start header and nothing else.
    ASSERT_TRUE(WaitFor(
        [&] {
            const auto lines = Lines(ReadFile(out));
            return lines.size() >= 2 && lines.back().find(kSeparator) != std::string::npos &&
                   lines.front().find(kSeparator) != std::string::npos;
        },
        kCommandTimeoutMs))
        << "no start header: " << ReadFile(out) << ReadFile(err);
    ASSERT_EQ(mount_.Control("pull 2"), "");

    const std::optional<int> status = monitor.Wait(kCommandTimeoutMs);
    ASSERT_TRUE(status.has_value()) << "raidctl monitor did not end after 6 polls";
    EXPECT_EQ(*status, 0) << ReadFile(err);
    const std::string dayAfter = DayLogName();

    // The log of the day the monitor ran (both, if it ran over midnight).
    std::string log = ReadFile(logDir / dayBefore);
    if (dayAfter != dayBefore) log += ReadFile(logDir / dayAfter);
    const std::vector<std::string> lines = Lines(log);
    ASSERT_GE(lines.size(), 4u) << log;
    for (const std::string& line : lines)
        EXPECT_TRUE(!line.empty() && line.back() == '\r') << "CR LF line ends: " << line;
    EXPECT_EQ(lines[0], kSeparator + "\r");
    EXPECT_EQ(lines[1].rfind("RAID GUI v0.50.11-5 has started from ", 0), 0u) << lines[1];
    EXPECT_NE(log.find("Device" + std::to_string(index + 1) + " information :\r\nModel# " +
                       sim::ScenarioEnclosure("raid1")->controllerModel +
                       "\r\nMirroring(RAID1), F/W Rev. "),
              std::string::npos)
        << log;

    const std::string removed = device + " HDD2 was removed, 04";
    std::size_t found = 0;
    for (const std::string& line : lines) found += line.rfind(removed, 0) == 0;
    EXPECT_EQ(found, 1u) << log;

    // The printed lines say at which poll it was logged: the pull came
    // before the second poll, so the second or at the latest the third.
    std::optional<int> poll;
    for (const std::string& line : Lines(ReadFile(out))) {
        if (line.find("\"line\":\"" + removed) != std::string::npos)
            poll = std::stoi(JsonField(line, "poll").value_or("0"));
    }
    ASSERT_TRUE(poll.has_value()) << ReadFile(out);
    EXPECT_GE(*poll, 2);
    EXPECT_LE(*poll, 3);
}

TEST_F(RaidctlLoopTest, SettingsReachTheEnclosureAndStatusShowsThem) {
    const CommandResult list = RunCommand({RAIDCTL_PATH, "list", "--json"}, kCommandTimeoutMs);
    const int index = DeviceIndex(list);
    ASSERT_GE(index, 0) << list.out << list.err;
    if (index >= 2)
        GTEST_SKIP() << "the virtual enclosure is Device" << index + 1
                     << "; settings go to Device1 and Device2 only";
    const std::string& disk = mount_.LoopDevice();
    // The emulator's buzzer letter, as its information reply carries it at
    // byte 130: "Z" while the buzzer sounds.
    const auto buzzerLetter = [&]() -> std::string {
        const CommandResult q =
            RunCommand({RAIDCTL_PATH, "query", disk, "0x11", "--json"}, kCommandTimeoutMs);
        const std::string reply = JsonField(q.out, "reply").value_or("");
        return reply.size() >= 2 * 131 ? reply.substr(2 * 130, 2) : "";
    };
    ASSERT_EQ(buzzerLetter(), "5a");

    const CommandResult mute = RunCommand({RAIDCTL_PATH, "buzzer", disk, "on"}, kCommandTimeoutMs);
    ASSERT_FALSE(mute.timedOut);
    EXPECT_EQ(mute.exitCode, 0) << mute.out << mute.err;
    EXPECT_NE(mute.out.find("  buzzer: muted\n"), std::string::npos) << mute.out;
    const std::string letter = buzzerLetter();
    EXPECT_FALSE(letter.empty());
    EXPECT_NE(letter, "5a");

    const CommandResult status =
        RunCommand({RAIDCTL_PATH, "status", disk, "--json"}, kCommandTimeoutMs);
    EXPECT_EQ(status.exitCode, 0) << status.err;
    EXPECT_EQ(JsonField(status.out, "buzzer"), "muted") << status.out;

    const CommandResult period = RunCommand(
        {RAIDCTL_PATH, "backup-period", disk, "preset", "2", "--json"}, kCommandTimeoutMs);
    EXPECT_EQ(period.exitCode, 0) << period.out << period.err;
    const auto model = sim::ScenarioEnclosure("raid1");
    ASSERT_TRUE(model.has_value());
    EXPECT_EQ(JsonField(period.out, "backupPeriod"), std::to_string(model->backupPresets[1]))
        << period.out;

    // The enclosure keeps its old buzzer setting: 6.
    ASSERT_EQ(mount_.Control("settingfault keep"), "");
    const CommandResult kept = RunCommand({RAIDCTL_PATH, "buzzer", disk, "off"}, kCommandTimeoutMs);
    EXPECT_EQ(kept.exitCode, 6) << kept.out << kept.err;
    EXPECT_NE(buzzerLetter(), "5a");
}

TEST_F(RaidctlLoopTest, MonitorEndsCleanlyOnSigterm) {
    const fs::path logDir = tempDir_ / "logs";
    fs::create_directory(logDir);
    const fs::path out = tempDir_ / "monitor.out";
    Background monitor(
        {RAIDCTL_PATH, "monitor", "--log-dir", logDir.string(), "--interval-ms", "1000"}, out,
        tempDir_ / "monitor.err");
    ASSERT_TRUE(monitor.Started());
    ASSERT_TRUE(WaitFor([&] { return Lines(ReadFile(out)).size() >= 3; }, kCommandTimeoutMs))
        << "no start header: " << ReadFile(out);
    const auto signalled = Clock::now();
    monitor.Signal(SIGTERM);
    const std::optional<int> status = monitor.Wait(10000);
    ASSERT_TRUE(status.has_value()) << "raidctl monitor ignored SIGTERM";
    EXPECT_EQ(*status, 0);
    // The device work in progress stops at its next step.
    EXPECT_LT(Clock::now() - signalled, kPromptStop);
}

TEST_F(RaidctlLoopTest, MonitorFollowsEnclosuresAndWritesMetrics) {
    const CommandResult list = RunCommand({RAIDCTL_PATH, "list", "--json"}, kCommandTimeoutMs);
    const int index = DeviceIndex(list);
    ASSERT_GE(index, 0) << list.out << list.err;
    if (index >= 2)
        GTEST_SKIP() << "the virtual enclosure is Device" << index + 1
                     << "; monitor polls only Device1 and Device2";
    const std::string name = "Device" + std::to_string(index + 1);
    const std::string removed = "D" + std::to_string(index + 1) + " HDD2 was removed";
    const fs::path logDir = tempDir_ / "logs";
    fs::create_directory(logDir);
    const fs::path out = tempDir_ / "monitor.out";
    const fs::path err = tempDir_ / "monitor.err";
    const fs::path metrics = tempDir_ / "raid.prom";
    Background monitor({RAIDCTL_PATH, "monitor", "--log-dir", logDir.string(), "--interval-ms",
                        "1000", "--metrics", metrics.string()},
                       out, err);
    ASSERT_TRUE(monitor.Started());
    ASSERT_TRUE(WaitFor([&] { return Lines(ReadFile(out)).size() >= 3; }, kCommandTimeoutMs))
        << "no start header: " << ReadFile(out) << ReadFile(err);

    // A member pulled: logged, and the metrics show it.
    ASSERT_EQ(mount_.Control("pull 2"), "");
    ASSERT_TRUE(WaitFor([&] { return ReadFile(out).find(removed) != std::string::npos; },
                        kCommandTimeoutMs))
        << ReadFile(out) << ReadFile(err);
    ASSERT_TRUE(WaitFor(
        [&] {
            const auto samples = test_support::ParseTextfile(ReadFile(metrics));
            // A loop device has no bridge: the enclosure goes by its Device name.
            return test_support::Value(
                       samples, "raid_member_state",
                       {{"enclosure", name}, {"slot", "HDD2"}, {"state", "absent"}}) == 1;
        },
        kCommandTimeoutMs))
        << ReadFile(metrics);
    const auto samples = test_support::ParseTextfile(ReadFile(metrics));
    EXPECT_EQ(test_support::Value(samples, "raid_array_state",
                                  {{"enclosure", name}, {"state", "degraded"}}),
              1)
        << ReadFile(metrics);
    EXPECT_EQ(test_support::Value(samples, "raid_enclosure_info",
                                  {{"enclosure", name}, {"path", mount_.LoopDevice()}}),
              1)
        << ReadFile(metrics);
    EXPECT_EQ(test_support::Value(samples, "raid_enclosure_up", {{"enclosure", name}}), 1)
        << ReadFile(metrics);

    // A second enclosure attached: found after the device-change debounce.
    SimMount second;
    const std::string error = second.Start(SIM_FUSE_PATH, {"--scenario", "raid0"});
    ASSERT_TRUE(error.empty()) << error;
    const int newcomer = IndexOfNewcomer(list, second.LoopDevice());
    if (newcomer < 0)
        GTEST_SKIP() << second.LoopDevice() << " is beyond the disks discovery probes";
    const std::string newFound = "D" + std::to_string(newcomer + 1) + " New Device was found.";
    const bool found = WaitFor([&] { return ReadFile(out).find(newFound) != std::string::npos; },
                               kCommandTimeoutMs);
    const std::string log = ReadFile(out);
    second.Stop();
    EXPECT_TRUE(found) << newFound << "\n" << log << ReadFile(err);

    const auto signalled = Clock::now();
    monitor.Signal(SIGTERM);
    const std::optional<int> status = monitor.Wait(10000);
    ASSERT_TRUE(status.has_value()) << "raidctl monitor ignored SIGTERM";
    EXPECT_EQ(*status, 0) << ReadFile(err);
    EXPECT_LT(Clock::now() - signalled, kPromptStop);
    // The log on disk is whole: CR LF lines, the same as printed.
    const std::string day = ReadFile(logDir / DayLogName());
    for (const std::string& line : Lines(day))
        EXPECT_TRUE(!line.empty() && line.back() == '\r') << "CR LF line ends: " << line;
    EXPECT_NE(day.find(removed), std::string::npos) << day;
}

TEST_F(RaidctlLoopTest, OneProgramPerMachineDrivesTheEnclosuresAndTheOthersNameIt) {
    const fs::path logDir = tempDir_ / "logs";
    fs::create_directory(logDir);
    const std::vector<std::string> monitorWords = {RAIDCTL_PATH, "monitor", "--log-dir",
                                                   logDir.string()};
    Background first(monitorWords, tempDir_ / "first.out", tempDir_ / "first.err");
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(WaitFor([&] { return Lines(ReadFile(tempDir_ / "first.out")).size() >= 3; },
                        kCommandTimeoutMs))
        << ReadFile(tempDir_ / "first.err");
    // The kernel's holder and its command line, as /proc shows them.
    const std::string holder =
        "pid " + std::to_string(first.Pid()) + " (" + RAIDCTL_PATH + " monitor --log-dir";

    // A second monitor waits and says for whom, once; a signal ends the wait.
    const fs::path waitErr = tempDir_ / "second.err";
    Background second(monitorWords, tempDir_ / "second.out", waitErr);
    ASSERT_TRUE(second.Started());
    ASSERT_TRUE(WaitFor([&] { return !ReadFile(waitErr).empty(); }, kCommandTimeoutMs));
    EXPECT_EQ(ReadFile(waitErr).rfind("raidctl: waiting for the lock held by " + holder, 0), 0u)
        << ReadFile(waitErr);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(Lines(ReadFile(waitErr)).size(), 1u) << ReadFile(waitErr);
    const auto signalled = Clock::now();
    second.Signal(SIGTERM);
    EXPECT_EQ(second.Wait(10000), std::optional<int>(0));
    EXPECT_LT(Clock::now() - signalled, kPromptStop);

    // The commands that change an enclosure, and the health check, are busy.
    const std::string disk = std::to_string(diskNumber_);
    for (const std::vector<std::string>& words : std::vector<std::vector<std::string>>{
             {RAIDCTL_PATH, "buzzer", disk, "on"},
             {RAIDCTL_PATH, "monitor", "--once", "--log-dir", logDir.string()}}) {
        const CommandResult busy = RunCommand(words, kCommandTimeoutMs);
        EXPECT_EQ(busy.exitCode, 75) << words[1] << ": " << busy.err;
        EXPECT_NE(busy.err.find(holder), std::string::npos) << busy.err;
    }
#ifdef RAIDGUI_PATH
    const CommandResult window = RunCommand({RAIDGUI_PATH}, kCommandTimeoutMs);
    EXPECT_EQ(window.exitCode, 3) << window.err;
    EXPECT_NE(window.err.find(holder), std::string::npos) << window.err;
#endif
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(10000), std::optional<int>(0));
}

TEST_F(RaidctlLoopTest, FlashWithBackupThenReadFlashGivesBackTheImage) {
    const std::string image = test_support::EmulatedFirmwareFile();
    const fs::path file = tempDir_ / "fw.bin";
    std::ofstream(file, std::ios::binary) << image;
    const std::string disk = std::to_string(diskNumber_);
    const fs::path backup = tempDir_ / "backup.bin";

    const CommandResult flash = RunCommand(
        {RAIDCTL_PATH, "flash", disk, file.string(), "--yes", "--backup", backup.string()},
        kCommandTimeoutMs * 4);
    ASSERT_FALSE(flash.timedOut) << "raidctl flash did not end";
    ASSERT_EQ(flash.exitCode, 0) << flash.out << flash.err;
    EXPECT_NE(flash.out.find("SPI Verify OK\n"), std::string::npos) << flash.out;
    EXPECT_EQ(fs::file_size(backup), 0x8000u);

    const fs::path out = tempDir_ / "out.bin";
    const CommandResult read = RunCommand(
        {RAIDCTL_PATH, "read-flash", disk, out.string(), "--length", "0x2000"}, kCommandTimeoutMs);
    ASSERT_EQ(read.exitCode, 0) << read.out << read.err;
    EXPECT_TRUE(ReadFile(out) == image) << "the flash does not hold the image";
}

}  // namespace
}  // namespace raid
