// The project's polkit actions and bus policy from dist/, as the real polkitd
// and dbus-daemon read them, seen by an unprivileged user and by root.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "tests/bus/private_system_bus.h"

namespace raid::test_support {
namespace {

using testing::HasSubstr;
using testing::Not;

const std::string kPrefix = "org.raidenclosure.manager.";
const std::string kService = "org.raidenclosure.Manager1";
const std::string kServicePath = "/org/raidenclosure/Manager1";

// pkcheck(1)'s exit codes.
constexpr int kAuthorized = 0;
constexpr int kNotAuthorized = 1;
constexpr int kNeedsAuthentication = 2;

// What each action allows without a rule: any, inactive and active session.
const std::map<std::string, std::string> kDefaults = {
    {"read-status", "yes yes yes"},
    {"set-buzzer", "auth_admin_keep auth_admin_keep auth_admin_keep"},
    {"set-backup-period", "auth_admin_keep auth_admin_keep auth_admin_keep"},
    {"mail-settings", "auth_admin_keep auth_admin_keep auth_admin_keep"},
    {"test-mail", "auth_admin_keep auth_admin_keep auth_admin_keep"},
    {"read-flash", "auth_admin auth_admin auth_admin"},
    {"flash", "auth_admin auth_admin auth_admin"},
};

// The value after "key:" on its own line of pkaction's verbose output.
std::string Field(const std::string& text, const std::string& key) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const auto start = line.find_first_not_of(' ');
        if (start == std::string::npos || line.compare(start, key.size() + 1, key + ":") != 0) {
            continue;
        }
        const auto value = line.find_first_not_of(' ', start + key.size() + 1);
        return value == std::string::npos ? "" : line.substr(value);
    }
    return "";
}

class PolicyFilesTest : public testing::Test {
protected:
    // pkcheck for its own process, run as `who` without an agent.
    RunResult Check(RunAs who, const std::string& action) {
        return bus.Run(
            who, {"sh", "-c", "exec pkcheck --action-id " + kPrefix + action + " --process $$"});
    }

    PrivateSystemBus bus;
};

std::string Shown(const RunResult& r) {
    return "exit " + std::to_string(r.exitCode) + (r.timedOut ? " (timed out)" : "") +
           "\nout: " + r.out + "\nerr: " + r.err;
}

TEST_F(PolicyFilesTest, PolkitKnowsEachActionWithItsDefaults) {
    const RunResult list = bus.Run(RunAs::TestUser, {"pkaction"});
    ASSERT_EQ(list.exitCode, 0) << Shown(list);
    std::istringstream ids(list.out);
    std::map<std::string, std::string> seen;
    for (std::string id; std::getline(ids, id);) {
        if (id.starts_with(kPrefix)) seen[id.substr(kPrefix.size())];
    }
    for (const auto& [action, defaults] : kDefaults) {
        EXPECT_TRUE(seen.erase(action)) << action << " is not registered";
        const RunResult r =
            bus.Run(RunAs::TestUser, {"pkaction", "--verbose", "--action-id", kPrefix + action});
        ASSERT_EQ(r.exitCode, 0) << Shown(r);
        EXPECT_EQ(Field(r.out, "implicit any") + " " + Field(r.out, "implicit inactive") + " " +
                      Field(r.out, "implicit active"),
                  defaults)
            << action;
        EXPECT_FALSE(Field(r.out, "description").empty()) << action;
        EXPECT_FALSE(Field(r.out, "message").empty()) << action;
    }
    for (const auto& extra : seen) ADD_FAILURE() << "unexpected action " << extra.first;
}

// Without an agent polkit cannot ask: the challenge comes back as "needs
// authentication", which a client must tell apart from a refusal.
TEST_F(PolicyFilesTest, UserReadsButMustAuthenticateToChangeOrFlash) {
    const RunResult read = Check(RunAs::TestUser, "read-status");
    EXPECT_EQ(read.exitCode, kAuthorized) << Shown(read);

    const RunResult buzzer = Check(RunAs::TestUser, "set-buzzer");
    EXPECT_EQ(buzzer.exitCode, kNeedsAuthentication) << Shown(buzzer);
    // auth_admin_keep: one authentication would serve a while.
    EXPECT_THAT(buzzer.out, HasSubstr("retains_authorization_after_challenge=1")) << Shown(buzzer);

    const RunResult flash = Check(RunAs::TestUser, "flash");
    EXPECT_EQ(flash.exitCode, kNeedsAuthentication) << Shown(flash);
    // auth_admin: every flash asks again.
    EXPECT_THAT(flash.out, Not(HasSubstr("retains_authorization"))) << Shown(flash);
}

TEST_F(PolicyFilesTest, RulesFileGrantsAndRefusesUntilRemoved) {
    bus.InstallRules(R"(polkit.addRule(function(action, subject) {
    if (action.id == "org.raidenclosure.manager.set-buzzer" && subject.isInGroup("raidtest"))
        return polkit.Result.YES;
    if (action.id == "org.raidenclosure.manager.flash" && subject.user == "raidtest")
        return polkit.Result.NO;
});
)");
    const RunResult buzzer = Check(RunAs::TestUser, "set-buzzer");
    EXPECT_EQ(buzzer.exitCode, kAuthorized) << Shown(buzzer);
    const RunResult flash = Check(RunAs::TestUser, "flash");
    EXPECT_EQ(flash.exitCode, kNotAuthorized) << Shown(flash);
    const RunResult other = Check(RunAs::TestUser, "set-backup-period");
    EXPECT_EQ(other.exitCode, kNeedsAuthentication) << Shown(other);

    bus.RemoveRules();
    const RunResult buzzerAfter = Check(RunAs::TestUser, "set-buzzer");
    EXPECT_EQ(buzzerAfter.exitCode, kNeedsAuthentication) << Shown(buzzerAfter);
    const RunResult flashAfter = Check(RunAs::TestUser, "flash");
    EXPECT_EQ(flashAfter.exitCode, kNeedsAuthentication) << Shown(flashAfter);
}

// polkit grants uid 0 every action before it consults any rule: the service
// cannot use a rule to refuse root.
TEST_F(PolicyFilesTest, RootIsAuthorizedForEveryActionWhateverTheRules) {
    bus.InstallRules(R"(polkit.addRule(function(action, subject) {
    if (action.id.indexOf("org.raidenclosure.manager.") == 0) return polkit.Result.NO;
});
)");
    for (const auto& entry : kDefaults) {
        const RunResult r = Check(RunAs::Root, entry.first);
        EXPECT_EQ(r.exitCode, kAuthorized) << entry.first << "\n" << Shown(r);
    }
    const RunResult user = Check(RunAs::TestUser, "read-status");
    EXPECT_EQ(user.exitCode, kNotAuthorized) << Shown(user);
}

// Only root may own the service's name; anyone may call it, whatever the
// interface: polkit decides in the service.
TEST_F(PolicyFilesTest, OnlyRootOwnsTheServiceAndAnyoneCallsIt) {
    const RunResult take = bus.Run(
        RunAs::TestUser, {"dbus-send", "--system", "--print-reply", "--dest=org.freedesktop.DBus",
                          "/org/freedesktop/DBus", "org.freedesktop.DBus.RequestName",
                          "string:" + kService, "uint32:0"});
    EXPECT_NE(take.exitCode, 0) << Shown(take);
    EXPECT_THAT(take.err, HasSubstr("AccessDenied")) << Shown(take);

    const auto service = bus.Start(RunAs::Root, bus.DbusMock({kService, kServicePath, kService}));
    ASSERT_TRUE(bus.WaitForName(kService)) << service->Output();
    const RunResult add = bus.Run(
        RunAs::Root, {"dbus-send", "--system", "--print-reply", "--dest=" + kService, kServicePath,
                      "org.freedesktop.DBus.Mock.AddMethod", "string:" + kService, "string:Ping",
                      "string:", "string:s", "string:ret = 'pong'"});
    ASSERT_EQ(add.exitCode, 0) << Shown(add);

    const auto call = [&](const std::vector<std::string>& message) {
        std::vector<std::string> argv{"dbus-send", "--system", "--print-reply",
                                      "--dest=" + kService, kServicePath};
        argv.insert(argv.end(), message.begin(), message.end());
        return bus.Run(RunAs::TestUser, argv);
    };
    const RunResult ping = call({kService + ".Ping"});
    EXPECT_EQ(ping.exitCode, 0) << Shown(ping);
    EXPECT_THAT(ping.out, HasSubstr("pong")) << Shown(ping);
    const RunResult introspect = call({"org.freedesktop.DBus.Introspectable.Introspect"});
    EXPECT_EQ(introspect.exitCode, 0) << Shown(introspect);
    const RunResult properties =
        call({"org.freedesktop.DBus.Properties.GetAll", "string:" + kService});
    EXPECT_EQ(properties.exitCode, 0) << Shown(properties);
}

}  // namespace
}  // namespace raid::test_support
