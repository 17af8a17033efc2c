// Sends against a real SMTP server on the loopback address: the exchange
// and its order, AUTH LOGIN, the test mail, dot-stuffing and header
// injection, 8-bit bodies, refused recipients, the name lookup, STARTTLS
// (asked for or not) and implicit TLS with certificate checks, time-outs
// and refusals. Fails when python3-aiosmtpd (or, for TLS, openssl) is
// missing.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <future>

#include "mail/mail_sender.h"
#include "mail/smtp_client.h"
#include "mail/unicode_text.h"
#include "tests/smtp/loopback_smtp_test.h"

namespace raid::mail {
namespace {

using namespace std::chrono_literals;
using test_support::ReceivedMessage;
using test_support::TestSmtpServer;

constexpr char kHelo[] = "bench.test";

std::vector<std::string> Lines(const std::string& text, const char* end = "\n") {
    std::vector<std::string> lines;
    std::size_t start = 0;
    const std::size_t step = std::string(end).size();
    while (start < text.size()) {
        std::size_t stop = text.find(end, start);
        if (stop == std::string::npos) stop = text.size();
        lines.push_back(text.substr(start, stop - start));
        start = stop + step;
    }
    return lines;
}

// The header lines of a message as received (continuation lines joined).
std::vector<std::string> HeaderLines(const std::string& data) {
    std::vector<std::string> out;
    for (const std::string& line : Lines(data.substr(0, data.find("\r\n\r\n")), "\r\n")) {
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !out.empty()) {
            out.back() += line;
        } else {
            out.push_back(line);
        }
    }
    return out;
}

std::string Body(const std::string& data) { return data.substr(data.find("\r\n\r\n") + 4); }

class SmtpSendTest : public test_support::LoopbackSmtpTest {
protected:
    MailJob Job(Security security = Security::None) {
        MailJob job;
        MailSettings& s = job.settings;
        s.host = "127.0.0.1";
        s.port = std::to_string(server.port());
        s.senderName = "RAID Box";
        s.senderAddress = "raid@example.com";
        s.account = "raid";
        s.password = "s3cret";
        s.security = security;
        job.recipients = {"ops@example.com", "boss@example.com"};
        job.message.subject = "[RAID GUI v0.50.11-5 Message] Disk lost";
        job.message.body = {"Device1 P1 Hard Disk Drive fail.", "Device1 information :"};
        return job;
    }

    SendReport Send(const MailJob& job) {
        SmtpOptions options;
        options.stageTimeout = 5s;
        options.heloName = kHelo;
        options.caFile = caFile;
        return SendNotificationMail(job, options, [this](SmtpEvent e) { events.push_back(e); });
    }

    ReceivedMessage OnlyMessage() {
        const auto messages = server.Messages();
        EXPECT_EQ(messages.size(), 1u);
        return messages.empty() ? ReceivedMessage{} : messages.front();
    }

    std::string caFile;
    std::vector<SmtpEvent> events;
};

TEST_F(SmtpSendTest, APlainSendGoesThroughTheExchangeInOrder) {
    ASSERT_TRUE(Serve({}));
    MailJob job = Job();
    // Lines that look like the end of the data or a header arrive as text.
    job.message.body = {".", "..", ".hidden", "\nSystem Name : bench", "last"};
    const SendReport report = Send(job);
    ASSERT_TRUE(report.sent) << report.error;
    EXPECT_EQ(report.error, "");
    EXPECT_EQ(events, (std::vector<SmtpEvent>{SmtpEvent::Connected, SmtpEvent::TransferBegin,
                                              SmtpEvent::TransferEnd, SmtpEvent::Disconnected}));
    EXPECT_EQ(Lines(server.Commands()),
              (std::vector<std::string>{"ehlo bench.test", "Rset", "Mail from:<raid@example.com>",
                                        "RCPT to:<ops@example.com>", "RCPT to:<boss@example.com>",
                                        "Data", "Quit"}));
    const ReceivedMessage m = OnlyMessage();
    EXPECT_EQ(m.mailFrom, "raid@example.com");
    EXPECT_EQ(m.rcptTos, job.recipients);
    EXPECT_EQ(m.login, "");
    EXPECT_EQ(Body(m.data), ".\r\n..\r\n.hidden\r\n\r\nSystem Name : bench\r\nlast\r\n");
    const auto headers = HeaderLines(m.data);
    const auto has = [&](const std::string& prefix) {
        return std::any_of(headers.begin(), headers.end(),
                           [&](const std::string& h) { return h.rfind(prefix, 0) == 0; });
    };
    for (const char* name : {"Date: ", "Message-ID: <", "MIME-Version: 1.0",
                             "Content-Type: text/plain; charset=UTF-8"})
        EXPECT_TRUE(has(name)) << name;
    EXPECT_TRUE(has("From: \"RAID Box\" <raid@example.com>"));
    EXPECT_TRUE(has("To: ops@example.com, boss@example.com"));
    EXPECT_TRUE(has("Subject: [RAID GUI v0.50.11-5 Message] Disk lost"));
}

TEST_F(SmtpSendTest, AuthLoginOnlyWhenSwitchedOnAndOffered) {
    ASSERT_TRUE(Serve({"--auth", "LOGIN,PLAIN"}));
    MailJob job = Job();
    job.authenticate = false;
    const SendReport unauthenticated = Send(job);
    ASSERT_TRUE(unauthenticated.sent);
    EXPECT_TRUE(unauthenticated.warnings.empty());
    EXPECT_EQ(server.Commands().find("auth"), std::string::npos);

    // Without STARTTLS the password still goes, but not unsaid.
    job.authenticate = true;
    const SendReport report = Send(job);
    ASSERT_TRUE(report.sent) << report.error;
    EXPECT_EQ(report.warnings,
              std::vector<std::string>{"The password went unencrypted: the mail server 127.0.0.1:" +
                                       std::to_string(server.port()) + " does not offer STARTTLS"});
    const auto commands = Lines(server.Commands());
    const std::vector<std::string> login{
        "ehlo bench.test", "Rset",     "auth LOGIN",
        "cmFpZA==",        "czNjcmV0", "Mail from:<raid@example.com>"};
    ASSERT_GE(commands.size(), 14u);
    EXPECT_EQ(std::vector<std::string>(commands.begin() + 7, commands.begin() + 13), login);
    const auto messages = server.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].login, "");
    EXPECT_EQ(messages[1].login, "raid");

    job.settings.password = "wrong";
    const SendReport refused = Send(job);
    EXPECT_FALSE(refused.sent);
    EXPECT_EQ(refused.error,
              "The mail server refused AUTH LOGIN (password): 535 5.7.8 Authentication "
              "credentials invalid");
    EXPECT_EQ(server.Messages().size(), 2u);
}

TEST_F(SmtpSendTest, AServerWithoutLoginGetsTheMailWithoutAuthentication) {
    ASSERT_TRUE(Serve({"--auth", "PLAIN"}));
    MailJob job = Job();
    job.authenticate = true;
    const SendReport report = Send(job);
    ASSERT_TRUE(report.sent) << report.error;
    EXPECT_EQ(server.Commands().find("auth"), std::string::npos);
    EXPECT_EQ(OnlyMessage().login, "");
}

TEST_F(SmtpSendTest, TheTestMailGoesToTheSenderAlone) {
    ASSERT_TRUE(Serve({}));
    MailState mail;
    mail.systemInfoBlock = {"\nSystem Name : bench"};
    MailSettingsState settings;
    settings.loaded = true;
    settings.settings = Job().settings;
    settings.recipients = {"ops@example.com", "boss@example.com"};
    auto job = ComposeTestMail(mail, settings, "RAID GUI v0.50.11-5");
    ASSERT_TRUE(job);
    const SendReport report = Send(*job);
    ASSERT_TRUE(report.sent) << report.error;
    const ReceivedMessage m = OnlyMessage();
    EXPECT_EQ(m.rcptTos, std::vector<std::string>{"raid@example.com"});
    EXPECT_EQ(Body(m.data), "[RAID GUI v0.50.11-5] E-Mail test!\r\n\r\nSystem Name : bench\r\n");
    EXPECT_NE(m.data.find("Subject: [RAID GUI v0.50.11-5 Message] Mail Test \r\n"),
              std::string::npos);
}

TEST_F(SmtpSendTest, LineBreaksCannotStartAHeaderOrACommand) {
    ASSERT_TRUE(Serve({}));
    MailJob job = Job();
    job.message.subject = "Disk lost\r\nBcc: victim@example.com";
    job.settings.senderName = "Box\r\nX-Injected: yes";
    ASSERT_TRUE(Send(job).sent);
    const auto headers = HeaderLines(OnlyMessage().data);
    for (const std::string& h : headers) {
        EXPECT_NE(h.rfind("Bcc:", 0), 0u) << h;
        EXPECT_NE(h.rfind("X-Injected:", 0), 0u) << h;
    }
    EXPECT_NE(
        std::find(headers.begin(), headers.end(), "Subject: Disk lost Bcc: victim@example.com"),
        headers.end());

    // An address with a line break is refused before anything is sent.
    const std::string before = server.Commands();
    job.recipients = {"ops@example.com\r\nRCPT to:<evil@example.com>"};
    const SendReport refused = Send(job);
    EXPECT_FALSE(refused.sent);
    EXPECT_EQ(refused.error,
              "Cannot send with the address \"ops@example.com RCPT to:<evil@example.com>\": the "
              "address holds a control character (such as a line break)");
    EXPECT_EQ(server.Commands(), before);
}

TEST_F(SmtpSendTest, ARefusedOrEmptyRecipientLeavesTheMailToTheOthers) {
    ASSERT_TRUE(Serve({"--reject", "boss@example.com", "--reject", "cto@example.com"}));
    const std::string rejected = ">: 550 5.1.1 <boss@example.com>: Recipient address rejected";
    MailJob job = Job();
    job.recipients = {"ops@example.com", "", "boss@example.com"};
    const SendReport report = Send(job);
    ASSERT_TRUE(report.sent) << report.error;
    ASSERT_EQ(report.refused.size(), 1u);
    EXPECT_EQ(report.refused[0].address, "boss@example.com");
    EXPECT_EQ(SendNotes(report),
              std::vector<std::string>{"The mail server refused RCPT TO <boss@example.com" +
                                       rejected + "; the mail went to the other recipients"});
    EXPECT_EQ(server.Commands().find("RCPT to:<>"), std::string::npos);
    EXPECT_EQ(OnlyMessage().rcptTos, std::vector<std::string>{"ops@example.com"});

    // Refused everywhere: no message, and the connection ends politely.
    events.clear();
    job.recipients = {"boss@example.com", "cto@example.com"};
    const SendReport none = Send(job);
    EXPECT_FALSE(none.sent);
    EXPECT_EQ(none.error, "The mail server refused RCPT TO <boss@example.com" + rejected +
                              "; The mail server refused RCPT TO <cto@example.com>: 550 5.1.1 "
                              "<cto@example.com>: Recipient address rejected");
    const auto commands = Lines(server.Commands());
    EXPECT_EQ(commands.back(), "Quit");
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "Data"), 1);
    EXPECT_EQ(server.Messages().size(), 1u);
    EXPECT_EQ(events, (std::vector<SmtpEvent>{SmtpEvent::Connected, SmtpEvent::Disconnected}));
}

TEST_F(SmtpSendTest, An8BitBodyGoesAs8BitsOnlyToAServerThatOffers8BitMime) {
    ASSERT_TRUE(Serve({}));
    MailJob job = Job();
    job.message.body = {
        "Temperatur 52 \xC2\xB0"
        "C",
        ".L\xC3\xBC"
        "fter=aus "};
    ASSERT_TRUE(Send(job).sent);
    EXPECT_NE(server.Commands().find("Mail from:<raid@example.com> BODY=8BITMIME\n"),
              std::string::npos);
    const std::string eight = OnlyMessage().data;
    EXPECT_NE(eight.find("Content-Transfer-Encoding: 8bit\r\n"), std::string::npos);
    EXPECT_EQ(Body(eight), job.message.body[0] + "\r\n" + job.message.body[1] + "\r\n");

    TestSmtpServer seven(scratch.path() / "seven");
    std::string error;
    ASSERT_TRUE(seven.Start({"--no-8bitmime"}, error)) << error;
    job.settings.port = std::to_string(seven.port());
    const SendReport report = Send(job);
    ASSERT_TRUE(report.sent) << report.error;
    EXPECT_NE(seven.Commands().find("Mail from:<raid@example.com>\n"), std::string::npos);
    ASSERT_EQ(seven.Messages().size(), 1u);
    const std::string quoted = seven.Messages()[0].data;
    EXPECT_TRUE(IsAscii(quoted));
    EXPECT_NE(quoted.find("Content-Transfer-Encoding: quoted-printable\r\n"), std::string::npos);
    EXPECT_EQ(Body(quoted), "Temperatur 52 =C2=B0C\r\n.L=C3=BCfter=3Daus=20\r\n");
}

TEST_F(SmtpSendTest, AServerWhoseStartTlsIsBrokenStillGetsTheMailInClear) {
    ASSERT_TRUE(Serve({"--broken-starttls", "--auth", "LOGIN"}));
    MailJob job = Job();
    job.authenticate = true;
    const SendReport report = Send(job);
    ASSERT_TRUE(report.sent) << report.error;
    EXPECT_EQ(OnlyMessage().login, "raid");
    const auto commands = Lines(server.Commands());
    ASSERT_GE(commands.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.begin() + 5),
              (std::vector<std::string>{"ehlo bench.test", "STARTTLS", "ehlo bench.test", "Rset",
                                        "auth LOGIN"}));
    ASSERT_EQ(report.warnings.size(), 1u);
    EXPECT_EQ(report.warnings[0].rfind(
                  "The password went unencrypted: the TLS handshake with the mail server "
                  "127.0.0.1:",
                  0),
              0u)
        << report.warnings[0];

    // With TLS required nothing goes in clear.
    job.settings.requireTls = true;
    const SendReport refused = Send(job);
    EXPECT_FALSE(refused.sent);
    EXPECT_EQ(refused.error.rfind("The TLS handshake with the mail server 127.0.0.1:", 0), 0u)
        << refused.error;
    const auto after = Lines(server.Commands());
    EXPECT_EQ(std::count(after.begin(), after.end(), "auth LOGIN"), 1);
    EXPECT_EQ(server.Messages().size(), 1u);
}

TEST_F(SmtpSendTest, TheNameLookupCountsAgainstTheConnectLimitAndNeverHoldsAStop) {
    ASSERT_TRUE(Serve({}));
    // The system's resolver: "localhost" may name ::1 first, where nobody
    // listens; the next address serves.
    MailJob job = Job();
    job.settings.host = "localhost";
    const SendReport local = Send(job);
    ASSERT_TRUE(local.sent) << local.error;

    job.settings.host = "mail.test";
    SmtpOptions options;
    options.stageTimeout = 300ms;
    options.heloName = kHelo;
    options.resolve = [](const std::string& host) {
        return LookupResult{{host == "mail.test" ? "127.0.0.1" : "192.0.2.1"}, {}};
    };
    const SendReport found = SendNotificationMail(job, options);
    ASSERT_TRUE(found.sent) << found.error;
    EXPECT_EQ(server.Messages().size(), 2u);

    // A resolver that answers only at the end of the test.
    auto release = std::make_shared<std::promise<void>>();
    const std::shared_future<void> released = release->get_future().share();
    options.resolve = [released](const std::string&) {
        released.wait();
        return LookupResult{};
    };
    QElapsedTimer clock;
    clock.start();
    const SendReport late = SendNotificationMail(job, options);
    EXPECT_EQ(late.error, "The name of the mail server mail.test:" + std::to_string(server.port()) +
                              " was not looked up within 300 ms");
    EXPECT_LT(clock.elapsed(), 2000);

    // Closing the sender meanwhile waits neither for the lookup nor for
    // the stage limit.
    auto asked = std::make_shared<std::promise<void>>();
    std::future<void> lookingUp = asked->get_future();
    options.stageTimeout = 30s;
    options.resolve = [released, asked](const std::string&) {
        asked->set_value();
        released.wait();
        return LookupResult{};
    };
    {
        MailSender sender(options);
        MailJob named = Job();
        named.settings.host = "mail.test";
        ASSERT_TRUE(sender.send(std::move(named)));
        lookingUp.wait();
        clock.restart();
    }
    EXPECT_LT(clock.elapsed(), 1000);
    release->set_value();
}

TEST_F(SmtpSendTest, ASilentServerEndsTheSendWithinItsTimeOutWhileTheCallerRuns) {
    ASSERT_TRUE(Serve({"--silent"}));
    SmtpOptions options;
    options.stageTimeout = 300ms;
    options.heloName = kHelo;
    MailSender sender(options);
    QSignalSpy finished(&sender, &MailSender::finished);
    QSignalSpy status(&sender, &MailSender::statusText);
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(10);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(sender.send(Job()));
    EXPECT_TRUE(sender.busy());
    EXPECT_FALSE(sender.send(Job()));  // one at a time
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_GE(ticks, 10);  // the event loop went on meanwhile
    const QList<QVariant> args = finished.takeFirst();
    EXPECT_FALSE(args[0].toBool());
    EXPECT_EQ(args[1].toString().toStdString(),
              "No answer from the mail server 127.0.0.1:" + std::to_string(server.port()) +
                  " within 300 ms (waiting for the answer to the greeting)");
    EXPECT_FALSE(args[2].toBool());
    ASSERT_EQ(status.size(), 1);
    EXPECT_EQ(status[0][0].toInt(), 2);
    EXPECT_EQ(status[0][1].toString(), "Connect");
    EXPECT_FALSE(sender.busy());
}

TEST_F(SmtpSendTest, ASenderClosedMidSendStopsItPromptly) {
    // The window's close must not wait out a long stage limit.
    ASSERT_TRUE(Serve({"--silent"}));
    SmtpOptions options;
    options.stageTimeout = 30s;
    MailState mail;
    MailJob job = Job();
    job.claim = std::move(*SendClaim::Take(mail.sendBusy));
    QElapsedTimer clock;
    {
        MailSender sender(options);
        ASSERT_TRUE(sender.send(std::move(job)));
        QTest::qWait(200);  // connected, waiting for the greeting
        clock.start();
    }
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_FALSE(mail.sendBusy->load());
}

TEST_F(SmtpSendTest, NothingListeningIsToldAtOnce) {
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    MailJob job = Job();
    job.settings.port = std::to_string(port);
    const SendReport report = Send(job);
    EXPECT_FALSE(report.sent);
    EXPECT_EQ(report.error, "Cannot connect to the mail server 127.0.0.1:" + std::to_string(port) +
                                ": Connection refused");
    EXPECT_TRUE(events.empty());
    job.settings.port = "25x";
    EXPECT_EQ(Send(job).error, "The port \"25x\" is not a number from 1 to 65535");
    // Implicit TLS without a port is port 465.
    job.settings.port.clear();
    job.settings.security = Security::Tls;
    EXPECT_EQ(Send(job).error,
              "Cannot connect to the mail server 127.0.0.1:465: Connection refused");
}

TEST(ServeMailRequests, SendsWhatTheMainThreadsPassComposedOnlyWhenAsked) {
    ShellFlags flags;
    MailState mail;
    int passes = 0;
    const auto pass = [&]() -> std::optional<MailJob> {
        ++passes;
        flags.mailRequestFlags = 0;
        MailJob job;
        job.settings.host = "127.0.0.1";
        job.settings.port = "0";  // refused before any connection
        job.recipients = {"ops@example.com"};
        job.claim = std::move(*SendClaim::Take(mail.sendBusy));
        return job;
    };
    EXPECT_FALSE(ServeMailRequests(flags, pass));
    EXPECT_EQ(passes, 0);
    flags.mailRequestFlags = kRequestSend;
    const auto report = ServeMailRequests(flags, pass);
    EXPECT_EQ(passes, 1);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->error, "The port \"0\" is not a number from 1 to 65535");
    EXPECT_FALSE(mail.sendBusy->load());  // freed once the send is over
    flags.mailRequestFlags = kRequestReload;
    EXPECT_FALSE(ServeMailRequests(flags, [&] { return std::optional<MailJob>(); }));
}

class SmtpTlsTest : public SmtpSendTest {
protected:
    static void SetUpTestSuite() {
        certificates_ = test_support::MakeTestCertificates(folder_->path(), certificateError_);
    }
    static void TearDownTestSuite() { folder_.reset(); }

    void SetUp() override {
        SmtpSendTest::SetUp();
        if (HasFatalFailure()) return;
        if (!certificates_)
            FAIL() << "no test certificates: " << certificateError_
                   << " (scripts/install-deps.sh installs openssl)";
        caFile = certificates_->caFile.string();
    }
    static QStringList Cert(const char* option, bool other = false) {
        const auto& c = *certificates_;
        return {option, QString::fromStdString((other ? c.otherCert : c.serverCert).string()),
                QString::fromStdString((other ? c.otherKey : c.serverKey).string())};
    }

    static inline std::unique_ptr<test_support::ScratchFolder> folder_ =
        std::make_unique<test_support::ScratchFolder>("smtp_certs");
    static inline std::optional<test_support::TestCertificates> certificates_;
    static inline std::string certificateError_;
};

TEST_F(SmtpTlsTest, StartTlsSaysEhloAgainOverTlsAskedForOrNot) {
    ASSERT_TRUE(Serve(Cert("--starttls") + QStringList{"--auth", "LOGIN"}));
    const std::vector<std::string> session{"ehlo bench.test",
                                           "STARTTLS",
                                           "ehlo bench.test",
                                           "Rset",
                                           "auth LOGIN",
                                           "cmFpZA==",
                                           "czNjcmV0",
                                           "Mail from:<raid@example.com>",
                                           "RCPT to:<ops@example.com>",
                                           "RCPT to:<boss@example.com>",
                                           "Data",
                                           "Quit"};
    std::vector<std::string> expected;
    for (const Security security : {Security::StartTls, Security::None}) {
        MailJob job = Job(security);
        job.authenticate = true;
        const SendReport report = Send(job);
        ASSERT_TRUE(report.sent) << report.error;
        EXPECT_TRUE(report.warnings.empty());
        expected.insert(expected.end(), session.begin(), session.end());
        EXPECT_EQ(Lines(server.Commands()), expected) << SecurityName(security);
    }
    const auto messages = server.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].login, "raid");
}

TEST_F(SmtpTlsTest, UnaskedStartTlsTakesACertificateThatDoesNotVerifyWithAWarning) {
    ASSERT_TRUE(Serve(Cert("--starttls") + QStringList{"--auth", "LOGIN"}));
    MailJob job = Job(Security::None);
    job.authenticate = true;
    // Without the test CA the certificate does not verify: the mail still
    // goes, encrypted, with a warning...
    caFile.clear();
    const SendReport unverified = Send(job);
    ASSERT_TRUE(unverified.sent) << unverified.error;
    ASSERT_EQ(unverified.warnings.size(), 1u);
    EXPECT_NE(unverified.warnings[0].find(
                  " did not verify (The issuer certificate of a locally looked up certificate "
                  "could not be found"),
              std::string::npos)
        << unverified.warnings[0];
    EXPECT_EQ(OnlyMessage().login, "raid");

    // ...but not when TLS is required.
    job.settings.requireTls = true;
    const SendReport refused = Send(job);
    EXPECT_FALSE(refused.sent);
    EXPECT_EQ(refused.error.rfind("The TLS handshake with the mail server 127.0.0.1:", 0), 0u)
        << refused.error;
    EXPECT_EQ(server.Messages().size(), 1u);
}

TEST_F(SmtpTlsTest, WhatTheServerSentInTheClearBeforeTheHandshakeIsDropped) {
    // A forged "250" for the EHLO after the handshake would hide the real
    // reply, and with it the AUTH offer.
    ASSERT_TRUE(Serve(Cert("--starttls") + QStringList{"--auth", "LOGIN", "--inject"}));
    MailJob job = Job(Security::StartTls);
    job.authenticate = true;
    const SendReport report = Send(job);
    ASSERT_TRUE(report.sent) << report.error;
    EXPECT_EQ(OnlyMessage().login, "raid");
}

TEST_F(SmtpTlsTest, ImplicitTlsSendsFromTheFirstByte) {
    ASSERT_TRUE(Serve(Cert("--tls")));
    const SendReport report = Send(Job(Security::Tls));
    ASSERT_TRUE(report.sent) << report.error;
    EXPECT_EQ(OnlyMessage().rcptTos, Job().recipients);
    EXPECT_EQ(Lines(server.Commands()).front(), "ehlo bench.test");
}

TEST_F(SmtpTlsTest, ACertificateForAnotherHostOrFromAnUnknownIssuerIsRefused) {
    ASSERT_TRUE(Serve(Cert("--tls", true)));
    const SendReport report = Send(Job(Security::Tls));
    EXPECT_FALSE(report.sent);
    EXPECT_EQ(report.error.rfind("The TLS handshake with the mail server 127.0.0.1:", 0), 0u)
        << report.error;
    EXPECT_NE(report.error.find("The host name did not match any of the valid hosts for this "
                                "certificate"),
              std::string::npos)
        << report.error;
    EXPECT_TRUE(server.Messages().empty());
    EXPECT_TRUE(events.empty());

    // Without the test CA the issuer is unknown.
    caFile.clear();
    const SendReport untrusted = Send(Job(Security::Tls));
    EXPECT_FALSE(untrusted.sent);
    EXPECT_NE(untrusted.error.find("The issuer certificate of a locally looked up certificate "
                                   "could not be found"),
              std::string::npos)
        << untrusted.error;
}

TEST_F(SmtpTlsTest, StartTlsOrRequiredTlsIsNeverSkippedWhenTheServerDoesNotOfferIt) {
    ASSERT_TRUE(Serve({"--auth", "LOGIN"}));
    MailJob job = Job(Security::StartTls);
    job.authenticate = true;
    const SendReport report = Send(job);
    EXPECT_FALSE(report.sent);
    const std::string host = "127.0.0.1:" + std::to_string(server.port());
    EXPECT_EQ(report.error, "The mail server " + host + " does not offer STARTTLS");

    job.settings.security = Security::None;
    job.settings.requireTls = true;
    const SendReport required = Send(job);
    EXPECT_FALSE(required.sent);
    EXPECT_EQ(required.error, "TLS is required, but the mail server " + host +
                                  " does not offer STARTTLS: the mail was not sent");
    EXPECT_EQ(Lines(server.Commands()),
              (std::vector<std::string>{"ehlo bench.test", "Quit", "ehlo bench.test", "Quit"}));
}

}  // namespace
}  // namespace raid::mail
