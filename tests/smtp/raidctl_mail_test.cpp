// raidctl mail-test and mail-settings against the loopback SMTP server: the
// stored settings drive the send, every step of the exchange is printed,
// and the password shows nowhere. Skipped without python3-aiosmtpd.
#include <gtest/gtest.h>

#include <QProcess>
#include <fstream>

#include "mail/smtp_protocol.h"
#include "tests/smtp/loopback_smtp_test.h"

namespace raid::mail {
namespace {

struct Outcome {
    int exitCode = -1;
    std::string out, err;
};

Outcome Raidctl(const QStringList& args) {
    QProcess p;
    p.start(RAIDCTL_PATH, args);
    Outcome r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        r.err = "raidctl did not end";
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

class RaidctlMailTest : public test_support::LoopbackSmtpTest {
protected:
    QString Settings() const { return QString::fromStdString(settingsFile.string()); }
    void Store(MailPageFields fields) {
        std::string error;
        ASSERT_TRUE(test_support::StoreMailSettings(settingsFile, std::move(fields), error))
            << error;
    }

    std::filesystem::path settingsFile = scratch.path() / "etc" / "settings.reg";
};

TEST_F(RaidctlMailTest, MailTestSendsTheTestMailToTheSenderAndPrintsEachStepButThePassword) {
    ASSERT_TRUE(Serve({"--auth", "LOGIN"}));
    MailPageFields fields = test_support::LoopbackPageFields(server.port());
    fields.authentication = true;
    Store(fields);

    const Outcome run = Raidctl({"mail-test", "--settings", Settings()});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    for (const char* step :
         {"-- connecting to 127.0.0.1:", "S: 220 ", "C: ehlo ", "S: 250-", "C: Rset",
          "C: auth LOGIN", "S: 334 ", "C: <the password, Base64, not shown>", "S: 235 ",
          "C: Mail from:<raid@example.com>", "C: RCPT to:<raid@example.com>", "C: Data", "S: 354 ",
          "C: <the message, ", "C: .", "C: Quit", "-- disconnected",
          "Send mail Success! (to raid@example.com)"}) {
        EXPECT_NE(run.out.find(step), std::string::npos) << step << "\n" << run.out;
    }
    EXPECT_EQ(run.err,
              "raidctl: warning: The password went unencrypted: the mail server "
              "127.0.0.1:" +
                  std::to_string(server.port()) + " does not offer STARTTLS\n");
    EXPECT_EQ(run.out.find("s3cret"), std::string::npos);
    EXPECT_EQ(run.out.find(Base64("s3cret")), std::string::npos);
    const auto messages = server.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rcptTos, std::vector<std::string>{"raid@example.com"});
    EXPECT_EQ(messages[0].login, "raid");
    EXPECT_NE(messages[0].data.find("Subject: [RAID GUI v0.50.11-5 Message] Mail Test"),
              std::string::npos);
}

TEST_F(RaidctlMailTest, MailTestFailsWithTheServersReasonOrWithoutSettings) {
    const Outcome none = Raidctl({"mail-test", "--settings", Settings()});
    EXPECT_EQ(none.exitCode, 3);
    EXPECT_NE(none.err.find("no e-mail settings in"), std::string::npos) << none.err;

    ASSERT_TRUE(Serve({"--reject", "raid@example.com"}));
    Store(test_support::LoopbackPageFields(server.port()));
    const Outcome refused = Raidctl({"mail-test", "--settings", Settings()});
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_NE(refused.err.find("raidctl: the test mail was not sent: The mail server refused "
                               "RCPT TO <raid@example.com>: 550"),
              std::string::npos)
        << refused.err;
    EXPECT_TRUE(server.Messages().empty());
}

TEST_F(RaidctlMailTest, MailSettingsShowsTheStoredValuesWithThePasswordHidden) {
    MailPageFields fields = test_support::LoopbackPageFields(2525);
    fields.authentication = true;
    fields.suppressDeviceRemoved = true;
    fields.events[0].subject = {"Disk lost"};
    fields.events[0].body = {"line 1", "line 2"};
    Store(fields);

    const Outcome text = Raidctl({"mail-settings", "--settings", Settings()});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("Port                        2525\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Password                    set (hidden)\n"), std::string::npos);
    EXPECT_NE(text.out.find("Recipients                  ops@example.com\n"
                            "                            boss@example.com\n"),
              std::string::npos);
    EXPECT_NE(text.out.find("Hard Disks Fail             mailed, subject \"Disk lost\", 2 body "
                            "lines\nDevice Removed              not mailed"),
              std::string::npos)
        << text.out;

    const Outcome json = Raidctl({"mail-settings", "--json", "--settings", Settings()});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_NE(json.out.find("\"port\":\"2525\""), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"authentication\":true,\"account\":\"raid\",\"password\":\"set\""),
              std::string::npos)
        << json.out;
    for (const Outcome* r : {&text, &json}) {
        EXPECT_EQ(r->out.find("s3cret"), std::string::npos);
        EXPECT_EQ(r->out.find(Base64("s3cret")), std::string::npos);
    }
    EXPECT_NE(text.out.find("Require TLS                 off\n"), std::string::npos) << text.out;

    // --require-tls stores the switch alone, then shows the settings.
    const Outcome on = Raidctl({"mail-settings", "--require-tls", "--settings", Settings()});
    ASSERT_EQ(on.exitCode, 0) << on.err;
    EXPECT_NE(on.out.find("Require TLS                 on\n"), std::string::npos) << on.out;
    EXPECT_NE(on.out.find("Port                        2525\n"), std::string::npos) << on.out;
    const Outcome off =
        Raidctl({"mail-settings", "--require-tls=off", "--json", "--settings", Settings()});
    ASSERT_EQ(off.exitCode, 0) << off.err;
    EXPECT_NE(off.out.find("\"requireTls\":false"), std::string::npos) << off.out;
    const Outcome nothing =
        Raidctl({"mail-settings", "--require-tls", "--settings", Settings() + ".none"});
    EXPECT_EQ(nothing.exitCode, 3);
    EXPECT_NE(nothing.err.find("raidctl: No e-mail settings in "), std::string::npos)
        << nothing.err;
    EXPECT_FALSE(std::filesystem::exists(settingsFile.string() + ".none"));

    const auto damaged = scratch.path() / "damaged.reg";
    std::ofstream(damaged) << "not a registry export\n";
    const Outcome broken =
        Raidctl({"mail-settings", "--settings", QString::fromStdString(damaged)});
    EXPECT_EQ(broken.exitCode, 3);
    EXPECT_NE(broken.err.find("is damaged"), std::string::npos) << broken.err;
}

}  // namespace
}  // namespace raid::mail
