// The service on a private system bus with the real polkitd, and raidctl as
// an unprivileged user and as root: what a user may read, what polkit keeps
// from them, and that the answers equal the in-process ones.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "client/bus_names.h"
#include "firmware/message.h"
#include "firmware/upgrade.h"
#include "mail/settings_store.h"
#include "tests/bus/private_system_bus.h"
#include "tests/emulated_firmware.h"
#include "tests/smtp/test_server.h"

namespace raid::test_support {
namespace {

using testing::HasSubstr;
using testing::Not;

const std::string kService = "org.raidenclosure.Manager1";
const std::string kEnclosure0 = "/org/raidenclosure/Manager1/enclosures/0";
constexpr int kNotAuthorized = 77;
constexpr int kBusy = 75;

class ServiceClientsTest : public testing::Test {
protected:
    void SetUp() override {
        logs_ = std::filesystem::temp_directory_path() /
                ("raid-service-test-" + std::to_string(::getpid()));
        std::filesystem::create_directories(logs_);
        settings_ = logs_ / "etc" / "settings.reg";
        service_ =
            bus.Start(RunAs::Root, {RAIDCTL, "monitor", "--simulate", "--log-dir", logs_.string(),
                                    "--interval-ms", "200", "--settings", settings_.string()});
        ASSERT_TRUE(bus.WaitForName(kService)) << service_->Output();
    }
    void TearDown() override {
        service_.reset();
        std::filesystem::remove_all(logs_);
    }

    RunResult User(std::vector<std::string> words) {
        words.insert(words.begin(), RAIDCTL);
        return bus.Run(RunAs::TestUser, words);
    }
    RunResult Root(std::vector<std::string> words) {
        words.insert(words.begin(), RAIDCTL);
        return bus.Run(RunAs::Root, words);
    }
    // A Manager method called by the test user with busctl, whose answer
    // ("as 1 \"x\"", "ay 3 1 2 3") is plain to compare.
    RunResult UserCallsManager(std::vector<std::string> method) {
        std::vector<std::string> words = {"busctl",
                                          "--system",
                                          "call",
                                          kService,
                                          "/org/raidenclosure/Manager1",
                                          "org.raidenclosure.Manager1.Manager"};
        words.insert(words.end(), method.begin(), method.end());
        return bus.Run(RunAs::TestUser, words);
    }

    // The hostile caller's script, where the test user may run it.
    std::string HostileCaller() {
        std::filesystem::permissions(logs_, std::filesystem::perms(0755));
        const std::filesystem::path copy = logs_ / "hostile_caller.py";
        std::filesystem::copy_file(HOSTILE_CALLER, copy,
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::permissions(copy, std::filesystem::perms(0755));
        return copy.string();
    }

    PrivateSystemBus bus;
    std::filesystem::path logs_;
    std::filesystem::path settings_;  // the service's e-mail settings
    std::unique_ptr<BusProcess> service_;
};

const std::string kJobs = "/org/raidenclosure/Manager1/jobs";
const std::string kBusyError = "org.raidenclosure.Manager1.Error.Busy";

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// The Progress values in dbus-monitor's output, in order.
std::vector<unsigned> SignalledProgress(const std::string& monitored) {
    std::vector<unsigned> values;
    std::istringstream lines(monitored);
    bool next = false;
    for (std::string line; std::getline(lines, line);) {
        if (next && line.find("uint32 ") != std::string::npos)
            values.push_back(std::stoul(line.substr(line.find("uint32 ") + 7)));
        next = line.find("string \"Progress\"") != std::string::npos;
    }
    return values;
}

// The icon (the last argument) of the Step signal that told the message
// with `caption`, in dbus-monitor's output; none when no such step came.
std::optional<unsigned> SignalledIcon(const std::string& monitored, const std::string& caption) {
    const std::size_t at = monitored.find("string \"" + caption + "\"");
    if (at == std::string::npos) return std::nullopt;
    std::istringstream lines(monitored.substr(at));
    std::vector<unsigned> numbers;  // the value, then the icon
    for (std::string line; numbers.size() < 2 && std::getline(lines, line);)
        if (line.find("uint32 ") != std::string::npos)
            numbers.push_back(std::stoul(line.substr(line.find("uint32 ") + 7)));
    return numbers.size() == 2 ? std::optional(numbers[1]) : std::nullopt;
}

// The lines of `text` that start with `word`.
int LinesStartingWith(const std::string& text, const std::string& word) {
    std::istringstream lines(text);
    int count = 0;
    for (std::string line; std::getline(lines, line);) count += line.rfind(word, 0) == 0;
    return count;
}

// The calls refused busy by the service, or by the bus: it lets one
// connection wait for 128 replies at most.
int Refused(const std::string& answers) {
    return LinesStartingWith(answers, kBusyError) +
           LinesStartingWith(answers, "org.freedesktop.DBus.Error.LimitsExceeded");
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// A process's peak resident memory (VmHWM) in KiB.
long PeakKib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// One command line, run through the service and in-process on the same
// simulated enclosure: what it prints, on which stream, its exit code, and
// the file it writes.
struct BothWays {
    std::vector<std::string> words;
    // Changes a setting or reads the flash: the test user is granted it.
    bool granted = false;
};

TEST_F(ServiceClientsTest, AUserGetsWhatRootGetsInProcess) {
    std::filesystem::permissions(logs_, std::filesystem::perms::all);
    const std::string accepted = (logs_ / "fw.bin").string();
    std::ofstream(accepted, std::ios::binary) << EmulatedFirmwareFile();
    // A GUID of another product: refused.
    std::string other = EmulatedFirmwareFile();
    other[0x84] ^= 1;
    const std::string refused = (logs_ / "other.bin").string();
    std::ofstream(refused, std::ios::binary) << other;
    const std::string missing = (logs_ / "missing.bin").string();
    const std::string flashCopy = (logs_ / "flash.bin").string();
    // A link, as under /dev/disk/by-id, to what is not a disk.
    const std::string link = (logs_ / "link").string();
    std::filesystem::create_symlink("/dev/null", link);
    const std::string partCopy = (logs_ / "part.bin").string();
    const std::string plainCopy = (logs_ / "plain.bin").string();

    // Settings change the service's enclosure while each in-process run
    // starts from the scenario again: every read comes first, and each
    // setting shows only what it set itself, after the buzzer is back on
    // its default. Disk 1 is a plain disk.
    const BothWays cases[] = {
        {{"status"}},
        {{"status", "--json"}},
        {{"status", "0"}},
        {{"--json", "status", "0"}},
        {{"status", "/dev/sim0"}},
        {{"status", "sim0", "--json"}},
        {{"status", "00"}},
        {{"status", " 0"}},
        {{"status", "1"}},
        {{"status", "/dev/sim1", "--json"}},
        {{"status", "7", "--json"}},
        {{"status", "/dev/sim7"}},
        {{"status", link}},
        {{"smart", "0"}},
        {{"smart", "0", "--json"}},
        {{"smart", "1", "--json"}},
        {{"smart", "2", "--json"}},
        {{"smart", "/dev/nonexistent"}},
        {{"check-firmware", "0", accepted}},
        {{"check-firmware", "0", refused}},
        {{"check-firmware", "0", missing}},
        {{"check-firmware", "1", accepted}},
        {{"status", "0", "1"}},
        {{"buzzer", "0"}},
        {{"backup-period", "0", "preset", "4"}},
        {{"backup-period", "0", "31", "0"}},
        {{"flash", "0", accepted}},  // no --yes off a terminal
        {{"buzzer", "1", "on", "--json"}, true},
        {{"buzzer", "9", "on"}, true},
        {{"buzzer", "0", "on"}, true},
        {{"buzzer", "0", "off", "--json"}, true},
        {{"backup-period", "0", "0", "5"}, true},
        {{"backup-period", "0", "0", "5", "--json"}, true},
        {{"backup-period", "0", "preset", "2"}, true},
        {{"backup-period", "0", "2", "0", "--json"}, true},
        {{"backup-period", "0", "off"}, true},
        {{"read-flash", "1", plainCopy}, true},
        {{"read-flash", "0", flashCopy}, true},
        {{"read-flash", "0", partCopy, "--length", "0x1000"}, true},
    };
    // An in-process run takes seconds of emulated controller time and
    // depends on no other: they all run at once, first.
    std::vector<std::future<RunResult>> inProcess;
    for (const BothWays& c : cases) {
        std::vector<std::string> words = c.words;
        words.insert(words.begin(), "--simulate");
        inProcess.push_back(std::async(std::launch::async, [this, words] { return Root(words); }));
    }
    bool granted = false;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const BothWays& c = cases[i];
        std::string line;
        for (const auto& w : c.words) line += " " + w;
        SCOPED_TRACE("raidctl" + line);
        if (c.granted && !granted) {
            bus.InstallRules(
                "polkit.addRule(function(action, subject) {\n"
                "  if (action.id.indexOf('org.raidenclosure.manager.') == 0 &&\n"
                "      subject.user == 'raidtest') return polkit.Result.YES;\n"
                "});\n");
            granted = true;
        }
        const RunResult local = inProcess[i].get();
        const std::string copy = c.words.front() == "read-flash" ? c.words[2] : "";
        const std::string localCopy = copy.empty() ? "" : ReadFile(copy);
        if (!copy.empty()) std::filesystem::remove(copy);
        const RunResult served = User(c.words);
        EXPECT_EQ(served.out, local.out);
        EXPECT_EQ(served.err, local.err);
        EXPECT_EQ(served.exitCode, local.exitCode);
        if (!copy.empty()) {
            EXPECT_EQ(ReadFile(copy), localCopy);
        }
    }
    bus.RemoveRules();

    const RunResult once = User({"monitor", "--once"});
    EXPECT_EQ(once.exitCode, 0) << once.err;  // healthy, from the service's own poll
    const RunResult direct = Root({"--direct", "status"});
    EXPECT_EQ(direct.exitCode, kBusy);
    EXPECT_THAT(direct.err, HasSubstr(kService));
}

TEST_F(ServiceClientsTest, AUserReadsTheDayFilesButNoOtherPath) {
    // The first poll writes the day's file.
    std::filesystem::path today;
    for (int i = 0; i < 100 && today.empty(); ++i) {
        for (const auto& entry : std::filesystem::directory_iterator(logs_))
            if (entry.path().extension() == ".log" && entry.file_size() > 0) today = entry.path();
        if (today.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_FALSE(today.empty()) << service_->Output();
    const std::string name = today.filename().string();
    std::ofstream(logs_ / "notes.txt") << "not a day file\n";
    // Anyone reads which interface the service speaks, to know it can read it.
    EXPECT_EQ(bus.Run(RunAs::TestUser,
                      {"busctl", "--system", "get-property", kService, "/org/raidenclosure/Manager1",
                       "org.raidenclosure.Manager1.Manager", "InterfaceVersion"})
                  .out,
              "u " + std::to_string(client::bus::kInterfaceVersion) + "\n");

    const RunResult list = UserCallsManager({"ListDayFiles", "a{sv}", "0"});
    ASSERT_EQ(list.exitCode, 0) << list.err << service_->Output();
    EXPECT_EQ(list.out, "as 1 \"" + name + "\"\n");

    const RunResult read = UserCallsManager({"ReadDayFile", "sa{sv}", name, "0"});
    ASSERT_EQ(read.exitCode, 0) << read.err;
    // The service's copy may have grown by a poll's lines since.
    std::istringstream words(read.out);
    std::string type;
    std::size_t count = 0;
    words >> type >> count;
    std::string bytes;
    for (int byte = 0; words >> byte;) bytes.push_back(static_cast<char>(byte));
    EXPECT_EQ(type, "ay");
    EXPECT_EQ(bytes.size(), count);
    EXPECT_EQ(bytes, ReadFile(today).substr(0, bytes.size()));
    EXPECT_FALSE(bytes.empty());

    for (const std::string& bad :
         {"../" + name, "sub/" + name, std::string("notes.txt"), name + "/"}) {
        const RunResult refused = UserCallsManager({"ReadDayFile", "sa{sv}", bad, "0"});
        EXPECT_NE(refused.exitCode, 0) << bad;
        EXPECT_THAT(refused.err, HasSubstr("not the name of a day file")) << bad;
    }
}

TEST_F(ServiceClientsTest, PolkitDecidesWhoChangesSettings) {
    const RunResult refused = User({"buzzer", "0", "on"});
    EXPECT_EQ(refused.exitCode, kNotAuthorized) << refused.out << refused.err;
    EXPECT_THAT(refused.err, HasSubstr("not authorized"));
    EXPECT_THAT(User({"status", "0"}).out, HasSubstr("buzzer: not muted"));

    bus.InstallRules(
        "polkit.addRule(function(action, subject) {\n"
        "  if (action.id == 'org.raidenclosure.manager.set-buzzer' &&\n"
        "      subject.user == 'raidtest') return polkit.Result.YES;\n"
        "});\n");
    const RunResult allowed = User({"buzzer", "0", "on", "--json"});
    EXPECT_EQ(allowed.exitCode, 0) << allowed.err;
    EXPECT_THAT(allowed.out, HasSubstr("\"buzzer\":\"muted\""));
    // Another action stays refused.
    EXPECT_EQ(User({"backup-period", "0", "off"}).exitCode, kNotAuthorized);
    bus.RemoveRules();

    // Root is allowed by polkit.
    const RunResult root = Root({"buzzer", "0", "off"});
    EXPECT_EQ(root.exitCode, 0) << root.err;
}

// The ids of the pkttyagent processes running as `uid`.
std::vector<std::string> AgentsOf(uid_t uid) {
    std::vector<std::string> agents;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream status(entry.path() / "status");
        std::string line;
        bool agent = false;
        while (std::getline(status, line)) {
            if (line == "Name:\tpkttyagent") agent = true;
            if (agent && line.starts_with("Uid:\t")) {
                if (std::stoul(line.substr(5)) == uid) agents.push_back(entry.path().filename());
                break;
            }
        }
    }
    return agents;
}

// On a terminal raidctl starts polkit's text agent for its own process; a
// prompt left with Ctrl-D changes nothing, and the agent ends with raidctl.
TEST_F(ServiceClientsTest, OnATerminalTheAgentGoesWithRaidctlAndNothingChanges) {
    using namespace std::chrono_literals;
    const std::string registered = "Registered Authentication Agent for unix-process:";
    std::size_t logged = bus.PolkitLog().size();
    auto asked = bus.StartOnTerminal(RunAs::TestUser, {RAIDCTL, "buzzer", "0", "on"});
    std::optional<int> code;
    for (int i = 0; i < 60 && !code; ++i) {
        // pkttyagent flushes the terminal's input once it has asked.
        if (asked->Screen().find("Password: ") != std::string::npos) asked->Type("\x04");
        code = asked->Wait(500ms);
    }
    EXPECT_EQ(code, kNotAuthorized) << asked->Screen();
    EXPECT_THAT(asked->Screen(), HasSubstr("raidctl: not authorized"));
    EXPECT_THAT(bus.PolkitLog().substr(logged),
                HasSubstr(registered + std::to_string(asked->pid()) + ":"));
    EXPECT_THAT(AgentsOf(bus.testUid()), testing::IsEmpty());
    EXPECT_THAT(User({"status", "0"}).out, HasSubstr("buzzer: not muted"));

    logged = bus.PolkitLog().size();
    auto quiet =
        bus.StartOnTerminal(RunAs::TestUser, {RAIDCTL, "--no-ask-password", "buzzer", "0", "on"});
    EXPECT_EQ(quiet->Wait(5s), kNotAuthorized) << quiet->Screen();
    EXPECT_THAT(quiet->Screen(), HasSubstr("raidctl: not authorized"));
    EXPECT_THAT(quiet->Screen(), Not(HasSubstr("AUTHENTICATING")));
    EXPECT_THAT(bus.PolkitLog().substr(logged), Not(HasSubstr(registered)));
}

std::vector<std::uint8_t> StoredPasswordRecord(const std::filesystem::path& file) {
    mail::SettingsStore store(file);
    store.Reload();
    return store.ReadBinary("ProductID").value_or(std::vector<std::uint8_t>{});
}

TEST_F(ServiceClientsTest, MailSettingsAndTheTestMailGoThroughTheServiceWithoutThePassword) {
    std::string why;
    TestSmtpServer server(logs_ / "smtp");
    ASSERT_TRUE(server.Start({"--auth", "LOGIN"}, why)) << why;
    mail::MailPageFields fields = LoopbackPageFields(server.port());
    fields.authentication = true;
    ASSERT_TRUE(StoreMailSettings(settings_, fields, why)) << why;
    const std::vector<std::uint8_t> record = StoredPasswordRecord(settings_);
    ASSERT_FALSE(record.empty());

    const RunResult refused = User({"mail-settings", "--json"});
    EXPECT_EQ(refused.exitCode, kNotAuthorized) << refused.out << refused.err;
    EXPECT_THAT(refused.err, HasSubstr("not authorized"));
    EXPECT_EQ(User({"mail-test"}).exitCode, kNotAuthorized);

    bus.InstallRules(
        "polkit.addRule(function(action, subject) {\n"
        "  if ((action.id == 'org.raidenclosure.manager.mail-settings' ||\n"
        "       action.id == 'org.raidenclosure.manager.test-mail') &&\n"
        "      subject.user == 'raidtest') return polkit.Result.YES;\n"
        "});\n");
    const RunResult shown = User({"mail-settings", "--json"});
    ASSERT_EQ(shown.exitCode, 0) << shown.err << service_->Output();
    const RunResult direct = Root({"mail-settings", "--settings", settings_.string(), "--json"});
    ASSERT_EQ(direct.exitCode, 0) << direct.err;
    EXPECT_EQ(shown.out, direct.out);
    EXPECT_THAT(shown.out, HasSubstr("\"password\":\"set\""));
    EXPECT_EQ(User({"mail-settings"}).out,
              Root({"mail-settings", "--settings", settings_.string()}).out);
    // Only whether a password is stored crosses the bus.
    const RunResult wire = UserCallsManager({"GetMailSettings", "a{sv}", "0"});
    ASSERT_EQ(wire.exitCode, 0) << wire.err;
    EXPECT_THAT(wire.out, HasSubstr("\"raid@example.com\""));
    EXPECT_THAT(wire.out, Not(HasSubstr("s3cret")));
    // A change of an unknown setting or of the wrong type writes nothing.
    const RunResult unknown =
        UserCallsManager({"SetMailSettings", "a{sv}a{sv}", "1", "Relay", "s", "x", "0"});
    EXPECT_NE(unknown.exitCode, 0);
    EXPECT_THAT(unknown.err, HasSubstr("\"Relay\" is not a setting"));
    const RunResult mistyped =
        UserCallsManager({"SetMailSettings", "a{sv}a{sv}", "1", "RequireTLS", "s", "on", "0"});
    EXPECT_THAT(mistyped.err, HasSubstr("\"RequireTLS\" must be a boolean"));

    // Stored through the service: the password record stays as it was.
    const RunResult tls = User({"mail-settings", "--require-tls=on", "--json"});
    ASSERT_EQ(tls.exitCode, 0) << tls.err << service_->Output();
    EXPECT_THAT(tls.out, HasSubstr("\"requireTls\":true"));
    EXPECT_EQ(tls.out, Root({"mail-settings", "--settings", settings_.string(), "--json"}).out);
    EXPECT_EQ(StoredPasswordRecord(settings_), record);

    // The server offers no STARTTLS: refused alike through the service and in-process.
    const RunResult noTls = User({"mail-test"});
    EXPECT_EQ(noTls.exitCode, 3) << noTls.out << noTls.err;
    const RunResult noTlsDirect = Root({"mail-test", "--settings", settings_.string()});
    EXPECT_EQ(noTlsDirect.exitCode, 3);
    EXPECT_THAT(noTls.err, HasSubstr("raidctl: the test mail was not sent: "));
    EXPECT_EQ(noTls.err, noTlsDirect.err);

    ASSERT_EQ(User({"mail-settings", "--require-tls=off"}).exitCode, 0);
    const RunResult sent = User({"mail-test"});
    ASSERT_EQ(sent.exitCode, 0) << sent.out << sent.err << service_->Output();
    for (const char* step : {"S: 220 ", "C: auth LOGIN", "C: <the password, Base64, not shown>",
                             "S: 235 ", "C: RCPT to:<raid@example.com>", "-- disconnected",
                             "Send mail Success! (to raid@example.com)"})
        EXPECT_THAT(sent.out, HasSubstr(step));
    EXPECT_THAT(sent.err, HasSubstr("raidctl: warning: The password went unencrypted"));
    const auto messages = server.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].login, "raid");

    // The same host again keeps the password; another drops it, as the
    // read-back says: it was given for that server only.
    const auto setHost = [&](const std::string& host) {
        return UserCallsManager({"SetMailSettings", "a{sv}a{sv}", "1", "Host", "s", host, "0"});
    };
    ASSERT_EQ(setHost("127.0.0.1").exitCode, 0);
    EXPECT_EQ(StoredPasswordRecord(settings_), record);
    const RunResult moved = setHost("relay.example.net");
    ASSERT_EQ(moved.exitCode, 0) << moved.err << service_->Output();
    const RunResult after = User({"mail-settings", "--json"});
    EXPECT_THAT(after.out, HasSubstr("\"host\":\"relay.example.net\""));
    EXPECT_THAT(after.out, HasSubstr("\"password\":\"empty\"")) << after.out;
    EXPECT_THAT(User({"mail-settings"}).out, testing::ContainsRegex("\nPassword +empty\n"));
    bus.RemoveRules();
}

// A service that finds the lock taken owns its name meanwhile, answers every
// call "busy" naming the holder from the kernel's view, and serves once it
// has the lock.
TEST(ServiceWaitingForTheLock, AnswersBusyNamingTheHolderThenServes) {
    PrivateSystemBus bus;
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("raid-lock-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "logs");
    std::filesystem::permissions(dir, std::filesystem::perms(0755));
    const int held = ::open((dir / "SAVI_GUI").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    auto service =
        bus.Start(RunAs::Root, {RAIDCTL, "monitor", "--log-dir", (dir / "logs").string()},
                  {"RAID_LOCK_DIR=" + dir.string()});
    ASSERT_TRUE(bus.WaitForName(kService)) << service->Output();

    const RunResult busy = bus.Run(RunAs::TestUser, {RAIDCTL, "status"});
    EXPECT_EQ(busy.exitCode, kBusy) << busy.out << busy.err;
    EXPECT_THAT(busy.err,
                HasSubstr("waiting for the lock held by pid " + std::to_string(::getpid())));
    // No user can take the lock from root: the file cannot be opened, nor
    // another made beside it (flock(1) opens, creating, then locks).
    for (const char* name : {"SAVI_GUI", "other"}) {
        const RunResult taken =
            bus.Run(RunAs::TestUser, {"flock", "-n", (dir / name).string(), "true"});
        EXPECT_NE(taken.exitCode, 0) << name;
        EXPECT_THAT(taken.err, HasSubstr("Permission denied")) << name;
    }

    ::close(held);
    RunResult served;
    for (int i = 0; i < 50; ++i) {
        served = bus.Run(RunAs::TestUser, {RAIDCTL, "status"});
        if (served.exitCode != kBusy) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_NE(served.exitCode, kBusy) << served.err << service->Output();
    service.reset();
    std::filesystem::remove_all(dir);
}

TEST_F(ServiceClientsTest, FlashRunsAsAJobOfTheServiceWithTheSameOutput) {
    const std::filesystem::path file = logs_ / "fw.bin";
    std::ofstream(file, std::ios::binary) << EmulatedFirmwareFile();
    std::filesystem::permissions(logs_, std::filesystem::perms::all);

    const RunResult refused = User({"flash", "0", file.string(), "--yes"});
    EXPECT_EQ(refused.exitCode, kNotAuthorized) << refused.out << refused.err;
    EXPECT_THAT(refused.err, HasSubstr("not authorized"));
    EXPECT_THAT(refused.out, Not(HasSubstr("Process 1 / 3")));  // nothing erased

    // A client that follows the job's properties alone sees it to its end.
    const auto monitor = bus.Start(
        RunAs::Root, {"dbus-monitor", "--system",
                      "type='signal',member='PropertiesChanged',path_namespace='" + kJobs + "'"});
    const auto steps = bus.Start(
        RunAs::Root,
        {"dbus-monitor", "--system", "type='signal',member='Step',path_namespace='" + kJobs + "'"});
    // The backup is written by the client, as the calling user.
    const std::filesystem::path backup = logs_ / "backup.bin";
    const RunResult flash =
        Root({"flash", "0", file.string(), "--yes", "--backup", backup.string()});
    ASSERT_EQ(flash.exitCode, 0) << flash.out << flash.err << service_->Output();
    const RunResult total =
        bus.Run(RunAs::Root, {"busctl", "--system", "get-property", kService, kJobs + "/1",
                              "org.raidenclosure.Manager1.Job", "Total"});
    std::vector<unsigned> progress;
    ASSERT_TRUE(WaitUntil(
        [&] {
            progress = SignalledProgress(monitor->Output());
            return monitor->Output().find("\"Finished\"") != std::string::npos;
        },
        std::chrono::seconds(5)))
        << monitor->Output();
    ASSERT_GE(progress.size(), 2u) << monitor->Output();
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(total.out, "u " + std::to_string(progress.back()) + "\n") << monitor->Output();
    // A message's icon comes with it, as the upgrade gave it: the exclamation.
    std::optional<unsigned> icon;
    EXPECT_TRUE(WaitUntil(
        [&] {
            return (icon = SignalledIcon(steps->Output(), firmware::kSuccessCaption)).has_value();
        },
        std::chrono::seconds(5)))
        << steps->Output();
    EXPECT_EQ(icon, static_cast<unsigned>(firmware::MessageIcon::Exclamation)) << steps->Output();
    const std::filesystem::path local = logs_ / "local.bin";
    const RunResult direct =
        Root({"--simulate", "flash", "0", file.string(), "--yes", "--backup", local.string()});
    ASSERT_EQ(direct.exitCode, 0) << direct.err;
    EXPECT_EQ(flash.out.substr(0, flash.out.find("saved ")),
              direct.out.substr(0, direct.out.find("saved ")));
    EXPECT_THAT(flash.out, HasSubstr("SPI Verify OK\n"));
    EXPECT_EQ(std::filesystem::file_size(backup), 0x8000u);

    const RunResult jobs = User({"jobs", "--wait"});
    EXPECT_EQ(jobs.exitCode, 0) << jobs.err;
    EXPECT_THAT(jobs.out, HasSubstr("Device1  ended 0"));
    // Polled again after the job: status answers.
    EXPECT_EQ(User({"status"}).exitCode, 0);
}

TEST_F(ServiceClientsTest, ReadFlashGoesThroughTheServiceAndTheClientWritesOut) {
    const std::filesystem::path file = logs_ / "fw.bin";
    std::ofstream(file, std::ios::binary) << EmulatedFirmwareFile();
    std::filesystem::permissions(logs_, std::filesystem::perms::all);
    const RunResult flash = Root({"flash", "0", file.string(), "--yes"});
    ASSERT_EQ(flash.exitCode, 0) << flash.err << service_->Output();

    // Only the service's enclosure holds the new image: an in-process read
    // of a fresh emulator would not.
    const std::filesystem::path out = logs_ / "flash.bin";
    const RunResult read = Root({"read-flash", "0", out.string()});
    ASSERT_EQ(read.exitCode, 0) << read.err << service_->Output();
    EXPECT_EQ(read.out, "saved 524288 bytes of flash to " + out.string() + "\n");
    EXPECT_EQ(ReadFile(out).substr(0, 0x2000), EmulatedFirmwareFile());

    const std::filesystem::path userOut = logs_ / "user.bin";
    const RunResult refused = User({"read-flash", "0", userOut.string()});
    EXPECT_EQ(refused.exitCode, kNotAuthorized) << refused.out << refused.err;
    EXPECT_THAT(refused.err, HasSubstr("not authorized"));
    EXPECT_FALSE(std::filesystem::exists(userOut));
}

// A user who calls without limit: the service refuses the calls beyond its
// limits busy, holds a bounded number of images, and answers root meanwhile.
TEST_F(ServiceClientsTest, AFloodOfImageChecksIsBoundedAndRootIsAnsweredMeanwhile) {
#if defined(__SANITIZE_ADDRESS__)
    const int calls = 20;  // the busy answers only: the sanitizer's memory is its own
#else
    const int calls = 200;
#endif
    const std::string script = HostileCaller();
    auto flood = bus.Start(RunAs::TestUser, {"/usr/bin/python3", script, "flood", "check",
                                             std::to_string(calls), kEnclosure0});
    ASSERT_TRUE(WaitUntil([&] { return flood->Output().find("SENT") != std::string::npos; },
                          std::chrono::seconds(30)))
        << flood->Output();
    const auto asked = std::chrono::steady_clock::now();
    const RunResult smart = Root({"smart", "0"});
    const auto answeredIn = std::chrono::steady_clock::now() - asked;
    EXPECT_EQ(smart.exitCode, 0) << smart.err;
    ASSERT_TRUE(WaitUntil([&] { return flood->Output().find("DONE") != std::string::npos; },
                          std::chrono::seconds(60)))
        << flood->Output();
    const std::string answers = flood->Output();
    const int busy = LinesStartingWith(answers, kBusyError);
    EXPECT_GE(busy, 1) << answers;
    EXPECT_GE(LinesStartingWith(answers, "OK"), 1) << answers;
    EXPECT_EQ(Refused(answers) + LinesStartingWith(answers, "OK"), calls) << answers;
    EXPECT_THAT(answers, testing::ContainsRegex("busy: user [0-9]+ has"));
    // Each refusal for a limit is told, but not a line per call.
    const int told = static_cast<int>(
        Count(service_->Output(), "refused a call of user " + std::to_string(bus.testUid())));
    EXPECT_GE(told, 1) << service_->Output();
    EXPECT_LE(told, 6) << service_->Output();
    const long peak = PeakKib(service_->pid());
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(peak, 256 * 1024) << "KiB at the service's peak";
#endif
    std::cout << "flood of " << calls << " image checks: service peak " << peak / 1024
              << " MiB, root's smart answered in "
              << std::chrono::duration_cast<std::chrono::milliseconds>(answeredIn).count()
              << " ms, " << busy << " busy\n";
}

// An agent that never answers holds only its own user's few prompts: root
// and other readers are answered, and the prompts are cancelled once the
// caller leaves.
TEST_F(ServiceClientsTest, AHungAgentHoldsOnlyItsUsersFewChecksAndIsCancelledWhenTheCallerGoes) {
    const std::string script = HostileCaller();
    const std::filesystem::path go = logs_ / "go";
    auto flood = bus.Start(RunAs::TestUser, {"/usr/bin/python3", script, "flood", "buzzer", "140",
                                             kEnclosure0, go.string()});
    auto agent = bus.Start(RunAs::TestUser,
                           {"/usr/bin/python3", script, "agent", std::to_string(flood->pid())});
    ASSERT_TRUE(WaitUntil([&] { return agent->Output().find("REGISTERED") != std::string::npos; },
                          std::chrono::seconds(10)))
        << agent->Output() << bus.PolkitLog();
    std::ofstream(go) << "go\n";
    ASSERT_TRUE(WaitUntil(
        [&] {
            return flood->Output().find("SENT") != std::string::npos &&
                   Refused(flood->Output()) == 104 &&
                   LinesStartingWith(agent->Output(), "BEGIN") >= 1;
        },
        std::chrono::seconds(30)))
        << flood->Output() << agent->Output();

    const auto asked = std::chrono::steady_clock::now();
    const RunResult root = Root({"buzzer", "0", "on"});
    const auto rootIn = std::chrono::steady_clock::now() - asked;
    EXPECT_EQ(root.exitCode, 0) << root.err;
    EXPECT_EQ(Root({"smart", "0"}).exitCode, 0);
    const RunResult reader = User({"status", "0"});
    EXPECT_EQ(reader.exitCode, 0) << reader.err;
    EXPECT_THAT(reader.out, HasSubstr("buzzer: muted"));
    // Refused, not queued without end: 140 - 4 prompts - 32 waiting.
    EXPECT_EQ(Refused(flood->Output()), 104) << flood->Output();
    EXPECT_EQ(LinesStartingWith(agent->Output(), "BEGIN"), 4) << agent->Output();

    const auto left = std::chrono::steady_clock::now();
    flood->Stop();
    const auto cookies = [&](const std::string& word) {
        std::set<std::string> found;
        std::istringstream lines(agent->Output());
        for (std::string line; std::getline(lines, line);)
            if (line.rfind(word + " ", 0) == 0) found.insert(line.substr(0, line.rfind(' ')));
        return found;
    };
    const auto cancelled = [&] {
        std::set<std::string> begun;
        for (const auto& b : cookies("BEGIN")) begun.insert(b.substr(6, b.find(' ', 6) - 6));
        std::set<std::string> ended;
        for (const auto& c : cookies("CANCEL")) ended.insert(c.substr(7));
        return begun == ended;
    };
    EXPECT_TRUE(WaitUntil(cancelled, std::chrono::seconds(1))) << agent->Output();
    std::cout << "hung agent: root's buzzer answered in "
              << std::chrono::duration_cast<std::chrono::milliseconds>(rootIn).count()
              << " ms; prompts cancelled "
              << std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - left)
                     .count()
              << " ms after the caller left\n";
    EXPECT_EQ(User({"status", "0"}).exitCode, 0);
}

#ifdef RAIDGUI
// Windows that are the service's clients lock in a folder of their user's
// own: root's beside a /tmp/raidgui-0 another user made first, and a user's
// whose $XDG_RUNTIME_DIR is /tmp (root's), refused once with a warning. A
// second copy of each names the folder the first one locks in.
TEST_F(ServiceClientsTest, ClientWindowsStartInLockFoldersOfTheirUsersOwn) {
    namespace fs = std::filesystem;
    struct Leftovers {
        std::vector<fs::path> paths;
        ~Leftovers() {
            std::error_code ignored;
            for (const fs::path& path : paths) fs::remove_all(path, ignored);
        }
    } leftovers;
    const fs::path squatted = "/tmp/raidgui-0";
    if (!fs::exists("/run/raidgui-0")) leftovers.paths.push_back("/run/raidgui-0");
    if (fs::create_directory(squatted)) {
        leftovers.paths.push_back(squatted);
        ASSERT_EQ(::chown(squatted.c_str(), 65534, 65534), 0);
        fs::permissions(squatted, fs::perms(0700));
    }
    const fs::path home = logs_ / "home";
    fs::create_directory(home);
    ASSERT_EQ(::chown(home.c_str(), bus.testUid(), static_cast<gid_t>(-1)), 0);
    const fs::path cache = home / ".cache";

    const std::vector<std::string> window = {
        "QT_QPA_PLATFORM=offscreen", "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/session-bus"};
    std::vector<std::string> userWindow = window;
    userWindow.insert(userWindow.end(),
                      {"XDG_RUNTIME_DIR=/tmp", "XDG_CACHE_HOME=" + cache.string()});
    const auto rootFirst = bus.Start(RunAs::Root, {RAIDGUI}, window);
    const auto userFirst = bus.Start(RunAs::TestUser, {RAIDGUI}, userWindow);
    // Up as clients: each lists the service's enclosure.
    for (BusProcess* first : {rootFirst.get(), userFirst.get()}) {
        bool shown = false;
        for (int i = 0; i < 300 && !shown && first->Running(); ++i) {
            shown = first->Output().find("raidgui: Device1: ") != std::string::npos;
            if (!shown) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_TRUE(shown) << first->Output() << service_->Output();
    }

    const RunResult rootAgain = bus.Run(RunAs::Root, {RAIDGUI}, std::chrono::seconds(30), window);
    EXPECT_EQ(rootAgain.exitCode, 3) << rootAgain.err;
    EXPECT_THAT(rootAgain.err, HasSubstr(" holds the lock /run/raidgui-0/SAVI_GUI\n"));
    EXPECT_THAT(rootFirst->Output(), Not(HasSubstr("is not used for the lock")));

    const RunResult userAgain =
        bus.Run(RunAs::TestUser, {RAIDGUI}, std::chrono::seconds(30), userWindow);
    EXPECT_EQ(userAgain.exitCode, 3) << userAgain.err;
    const std::string lockFolder = (cache / "raidgui").string();
    EXPECT_THAT(userAgain.err, HasSubstr(" holds the lock " + lockFolder + "/SAVI_GUI\n"));
    const std::string warning =
        "raidgui: warning: $XDG_RUNTIME_DIR is not used for the lock: the lock folder /tmp "
        "belongs to root, not to user " +
        std::to_string(bus.testUid()) + "; using " + lockFolder + " instead\n";
    EXPECT_THAT(userAgain.err, HasSubstr(warning));
    const std::string said = userFirst->Output();
    EXPECT_THAT(said, HasSubstr(warning));
    EXPECT_EQ(said.find(warning), said.rfind(warning)) << said;
    struct stat st {};
    ASSERT_EQ(::stat(lockFolder.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, bus.testUid());
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_TRUE(userFirst->Running() && rootFirst->Running());
}
#endif  // RAIDGUI

}  // namespace
}  // namespace raid::test_support
