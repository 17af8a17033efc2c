// raidctl monitor's e-mail against the loopback SMTP server: a member pulled
// while it runs is mailed once with the window's subject, both members lost
// in one poll are mailed one after the other, SIGHUP reads the settings
// again, and a mail server that never answers holds neither the polls nor
// the stop. Skipped without python3-aiosmtpd.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

#include "cli/raidctl_args.h"
#include "cli/raidctl_monitor.h"
#include "cli/raidctl_sim.h"
#include "platform/clock.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"
#include "tests/smtp/loopback_smtp_test.h"

namespace raid::cli {
namespace {

class MonitorMailTest : public test_support::LoopbackSmtpTest {
protected:
    void Store(mail::MailPageFields fields) {
        std::string error;
        ASSERT_TRUE(test_support::StoreMailSettings(settingsFile_, std::move(fields), error))
            << error;
    }

    // `raidctl monitor WORDS` on the emulated "noschedule" enclosure (one
    // with the E-mail page); `between(n)` runs after poll n.
    int Monitor(std::vector<std::string_view> words,
                const std::function<void(std::uint32_t)>& between,
                const std::function<bool()>& interrupted = {}) {
        std::string error;
        auto disks = MakeSimulatedDisks("noschedule", clock_, error);
        EXPECT_TRUE(disks) << error;
        if (!disks) return -1;
        emulator_ = dynamic_cast<sim::SimDiskSystem&>(*disks).Emulator(0);
        words.insert(words.begin(), "monitor");
        const ParseResult parsed = ParseArguments(words);
        EXPECT_TRUE(parsed.ok()) << parsed.error;
        std::filesystem::create_directories(logDir_);
        std::ostringstream out, err;
        Context ctx{*disks, clock_, {}, out, err};
        MonitorOptions options;
        options.logDir = logDir_;
        options.mail = MonitorOptions::Mail{settingsFile_.string(), {}};
        std::uint32_t seen = 0;
        options.stop = [&](std::uint32_t done) {
            if (done > seen) {
                seen = done;
                between(done);
            }
            return false;
        };
        options.interrupted = interrupted;
        options.reloadRequested = [this] { return std::exchange(reload_, false); };
        const int code = RunMonitor(ctx, parsed.args, options);
        out_ = out.str();
        err_ = err.str();
        return code;
    }

    std::filesystem::path settingsFile_ = scratch.path() / "etc" / "settings.reg";
    std::filesystem::path logDir_ = scratch.path() / "logs";
    platform::ManualClock clock_;
    std::shared_ptr<sim::ControllerEmulator> emulator_;
    bool reload_ = false;
    std::string out_, err_;
};

TEST_F(MonitorMailTest, APulledMemberIsMailedOnceWithTheWindowsSubject) {
    ASSERT_TRUE(Serve({"--auth", "LOGIN", "--reject", "boss@example.com"}));
    mail::MailPageFields fields = test_support::LoopbackPageFields(server.port());
    fields.authentication = true;
    Store(fields);
    const int code = Monitor({"--polls", "4"}, [&](std::uint32_t done) {
        if (done == 1) {
            EXPECT_EQ(emulator_->Control("pull 1"), "");
        }
        if (done == 2) reload_ = true;
    });
    ASSERT_EQ(code, kExitOk) << err_;
    EXPECT_NE(out_.find("D1 HDD1 was removed"), std::string::npos) << out_;
    const auto messages = server.Messages();
    ASSERT_EQ(messages.size(), 1u) << err_;
    EXPECT_EQ(messages[0].rcptTos, std::vector<std::string>{"ops@example.com"});
    EXPECT_EQ(messages[0].login, "raid");
    EXPECT_NE(messages[0].data.find("Subject: [RAID GUI v0.50.11-5 Message] "), std::string::npos)
        << messages[0].data;
    // Not a full success: the refused recipient and the password in clear
    // are told in the log.
    for (const std::string& line : std::vector<std::string>{
             "raidctl: e-mail sent only in part: [RAID GUI v0.50.11-5 Message] ",
             "raidctl: e-mail: The mail server refused RCPT TO <boss@example.com>: 550 ",
             "raidctl: e-mail: The password went unencrypted: the mail server 127.0.0.1:" +
                 std::to_string(server.port()) + " does not offer STARTTLS\n"}) {
        EXPECT_NE(err_.find(line), std::string::npos) << line << "\n" << err_;
    }
    EXPECT_NE(err_.find("raidctl: reading the e-mail settings again"), std::string::npos) << err_;
}

TEST_F(MonitorMailTest, BothMembersLostInOnePollAreMailedOneAfterTheOther) {
    ASSERT_TRUE(Serve({}));
    Store(test_support::LoopbackPageFields(server.port()));
    const int code = Monitor({"--polls", "3"}, [&](std::uint32_t done) {
        if (done == 1) {
            EXPECT_EQ(emulator_->Control("pull 1"), "");
            EXPECT_EQ(emulator_->Control("pull 2"), "");
        }
    });
    ASSERT_EQ(code, kExitOk) << err_;
    const auto messages = server.Messages();
    ASSERT_EQ(messages.size(), 2u) << err_;
    EXPECT_NE(messages[0].data.find("Device1 P0 Hard Disk Drive fail."), std::string::npos)
        << messages[0].data;
    EXPECT_NE(messages[1].data.find("Device1 P1 Hard Disk Drive fail."), std::string::npos)
        << messages[1].data;
}

TEST_F(MonitorMailTest, ASilentServerHoldsNeitherThePollsNorTheStop) {
    ASSERT_TRUE(Serve({"--silent"}));
    Store(test_support::LoopbackPageFields(server.port(), "30"));
    bool stop = false;
    std::chrono::steady_clock::time_point stopAt;
    const int code = Monitor(
        {"--polls", "20"},
        [&](std::uint32_t done) {
            if (done == 1) {
                EXPECT_EQ(emulator_->Control("pull 2"), "");
            }
            // Polls go on while the send waits for the server.
            if (done == 10) {
                stop = true;
                stopAt = std::chrono::steady_clock::now();
            }
        },
        [&] { return stop; });
    EXPECT_EQ(code, kExitOk) << err_;
    // The send waiting for its 30 s stage limit ended at once.
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::seconds(2));
    EXPECT_NE(err_.find("raidctl: e-mail not sent: "), std::string::npos) << err_;
    EXPECT_TRUE(server.Messages().empty());
}

}  // namespace
}  // namespace raid::cli
