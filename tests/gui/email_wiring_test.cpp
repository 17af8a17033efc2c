// The e-mail page inside the main window and the mail thread: the page
// fills from the settings file once the thread has loaded it, a test mail
// goes out on its own thread while the window runs on, and the mail
// thread mails a lost member (two lost together one after the other, behind
// a test mail under way) through a real SMTP server on the loopback address
// (python3-aiosmtpd; those tests fail without it).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <condition_variable>
#include <mutex>

#include "app/email_page.h"
#include "app/hand_over.h"
#include "app/message_sink.h"
#include "main_window_fixture.h"
#include "tests/smtp/test_server.h"
#include "thread_turn.h"

namespace raid::app::test {
namespace {

using namespace std::chrono_literals;
using test_support::TestSmtpServer;

const QString kChangedText =
    "E-Mail setting was changed, please click \"OK\" or \"Ignore\" button first!";

class EmailWiringTest : public MainWindowTest {
protected:
    std::filesystem::path SettingsFile() const {
        return logFolder.path / "settings" / "settings.reg";
    }

    void Store(mail::MailPageFields fields) {
        std::string error;
        ASSERT_TRUE(test_support::StoreMailSettings(SettingsFile(), std::move(fields), error))
            << error;
    }

    // Starts the loopback server; the test fails when it cannot (without
    // aiosmtpd too: a skip would hide that no mail was tested).
    bool Serve(const QStringList& options) {
        std::string why;
        const bool up = server.Start(options, why);
        EXPECT_TRUE(up) << why;
        return up;
    }

    // The window with an enclosure that has the E-mail page, after the
    // first discovery and status poll.
    void MakeWindowWithDevice() {
        // Without schedule backup the enclosure has the E-mail page.
        AddEnclosure("noschedule");
        smtp.heloName = "testhost";
        MakeWindow();
        RunDiscovery();
        ServeRequests();
        ASSERT_EQ(window->lastPageMask(), 0x3D);
    }

    // The same with the settings loaded, as after the mail thread's pass.
    void MakeLoadedWindow() {
        MakeWindowWithDevice();
        ASSERT_TRUE(window->state().shell.mailRequestFlags & mail::kRequestReload);
        EXPECT_FALSE(window->runMailPass());
        ASSERT_TRUE(window->mailSettings().loaded);
    }

    // Runs the event loop until `done` holds or `limit` has passed; the
    // longest the loop was away between two turns of a 5 ms timer.
    std::chrono::milliseconds PumpUntil(const std::function<bool()>& done,
                                        std::chrono::milliseconds limit) {
        QElapsedTimer sinceTick;
        sinceTick.start();
        qint64 longest = 0;
        QTimer ticker;
        ticker.setInterval(5);
        QObject::connect(&ticker, &QTimer::timeout,
                         [&] { longest = std::max(longest, sinceTick.restart()); });
        ticker.start();
        QElapsedTimer total;
        total.start();
        while (!done() && total.elapsed() < limit.count()) QTest::qWait(5);
        return std::chrono::milliseconds(longest);
    }

    QString Panel(int i) {
        return Find<QLabel>(("statusPanel" + std::to_string(i)).c_str())->text();
    }

    void OpenPageAndTest() {
        window->openEmailPage();
        Find<QPushButton>("emailTestButton")->click();
    }

    // Two poll ticks request a poll; the monitoring thread's work serves it.
    void Poll() {
        window->onPollTick();
        window->onPollTick();
        ServeRequests();
    }

    // One turn of the mail thread on a thread of its own while this one
    // serves the hand-overs.
    std::optional<mail::SendReport> MailThreadTurn() {
        QObject receiver;
        HandOverGate gate(&receiver);
        const MailThread::MainThreadWork work = window->mailThreadWork();
        mail::SmtpOptions options = smtp;
        ThreadTurn<std::optional<mail::SendReport>> turn(
            [&] { return MailThread::Pass(window->state().shell, gate, work, options); });
        PumpUntil([&] { return turn.Ended(); }, 30s);
        return turn.Get();
    }

    TestSmtpServer server{logFolder.path / "smtp-server"};
};

TEST_F(EmailWiringTest, ThePageFillsFromTheSettingsFileAndRefusesTestWithUnsavedChanges) {
    mail::MailPageFields fields = test_support::LoopbackPageFields(2525);
    fields.suppressDeviceRemoved = true;
    fields.events[0].subject = {"Disk lost"};
    fields.events[0].body = {"Please look at the enclosure.", "Thanks"};
    Store(fields);
    MakeLoadedWindow();
    EXPECT_EQ(Panel(2), "Email=1");

    window->openEmailPage();
    EXPECT_EQ(window->CurrentPage(), kPageEmail);
    EXPECT_EQ(Find<QLineEdit>("hostEdit")->text(), "127.0.0.1");
    EXPECT_EQ(Find<QLineEdit>("portEdit")->text(), "2525");
    EXPECT_EQ(Find<QLineEdit>("senderAddressEdit")->text(), "raid@example.com");
    EXPECT_EQ(Find<QLineEdit>("diskFailSubjectEdit")->text(), "Disk lost");
    EXPECT_FALSE(Find<QCheckBox>("authenticationBox")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("diskFailSuppressBox")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("deviceRemovedSuppressBox")->isChecked());
    for (const char* grid : {"diskFailAddressGrid", "deviceRemovedAddressGrid"}) {
        EXPECT_EQ(Find<QTableWidget>(grid)->item(0, 0)->text(), "ops@example.com") << grid;
        EXPECT_EQ(Find<QTableWidget>(grid)->item(1, 0)->text(), "boss@example.com") << grid;
    }

    // The page's picture buttons show the skin's pictures.
    for (const char* button : {"emailTestButton", "emailOkButton", "emailIgnoreButton"})
        EXPECT_FALSE(Find<QPushButton>(button)->icon().isNull()) << button;

    Find<QLineEdit>("hostEdit")->setText("mail.example.com");
    Find<QPushButton>("emailTestButton")->click();
    ASSERT_FALSE(sink.boxes.empty());
    EXPECT_EQ(sink.boxes.back().text, kChangedText);
    EXPECT_EQ(sink.boxes.back().caption, "E-Mail Message");
}

TEST_F(EmailWiringTest, AFirstStartHasNoSettingsUntilOkWritesThemForTheMailThreadToLoad) {
    MakeWindowWithDevice();
    EXPECT_EQ(window->state().shell.mailRequestFlags.load(), 0);
    OpenPageAndTest();
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, "E-Mail setting isn't ready!");
    EXPECT_EQ(Find<QLineEdit>("portEdit")->text(), "25");

    Find<QLineEdit>("hostEdit")->setText("127.0.0.1");
    Find<QLineEdit>("senderAddressEdit")->setText("raid@example.com");
    Find<QPushButton>("emailOkButton")->click();
    EXPECT_EQ(sink.boxes.size(), 1u);
    struct stat st {};
    ASSERT_EQ(::stat(SettingsFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(window->state().shell.mailRequestFlags & mail::kRequestReload);
    EXPECT_FALSE(window->runMailPass());
    EXPECT_TRUE(window->mailSettings().loaded);
    EXPECT_EQ(window->mailSettings().settings.host, "127.0.0.1");
}

TEST_F(EmailWiringTest, AnUnreadableSettingsFileIsToldOnceAndTheWindowRunsWithout) {
    std::filesystem::create_directories(SettingsFile().parent_path());
    std::ofstream(SettingsFile()) << "not a registry export\n";
    MakeWindowWithDevice();
    QTest::qWait(0);  // the box comes once the window is up
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_NE(sink.boxes[0].text.indexOf("is damaged"), -1) << sink.boxes[0].text.toStdString();
    EXPECT_NE(sink.boxes[0].text.indexOf("--settings FILE"), -1);
    EXPECT_FALSE(window->mailSettings().keyExists);
    OpenPageAndTest();
    EXPECT_EQ(sink.boxes.back().text, "E-Mail setting isn't ready!");
}

TEST_F(EmailWiringTest, ATestMailGoesOutWhileTheWindowRunsAndItsResultIsShown) {
    if (!Serve({"--auth", "LOGIN"})) return;
    mail::MailPageFields fields = test_support::LoopbackPageFields(server.port());
    fields.authentication = true;
    Store(fields);
    MakeLoadedWindow();
    OpenPageAndTest();
    const auto longest = PumpUntil([&] { return !sink.boxes.empty(); }, 20s);
    ASSERT_EQ(sink.boxes.size(), 1u);
    // The server has no STARTTLS: the password went in clear, and that is said.
    const std::string warning = "The password went unencrypted: the mail server 127.0.0.1:" +
                                std::to_string(server.port()) + " does not offer STARTTLS";
    EXPECT_EQ(sink.boxes[0].text.toStdString(), "Send mail Success!\n\n" + warning);
    EXPECT_EQ(Panel(4).toStdString(), "E-mail: " + warning);
    EXPECT_EQ(sink.boxes[0].caption, "E-Mail Message");
    EXPECT_EQ(Panel(2), "Connect");
    EXPECT_EQ(Panel(3), "Send mail Success!");
    EXPECT_LT(longest, 500ms);
    const auto messages = server.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rcptTos, std::vector<std::string>{"raid@example.com"});
    EXPECT_NE(messages[0].data.find("Subject: [RAID GUI v0.50.11-5 Message] Mail Test"),
              std::string::npos);
}

TEST_F(EmailWiringTest, AServerThatNeverAnswersEndsTheSendWithinItsTimeOut) {
    if (!Serve({"--silent"})) return;
    Store(test_support::LoopbackPageFields(server.port()));
    smtp.stageTimeout = 1s;
    MakeLoadedWindow();
    QElapsedTimer took;
    took.start();
    OpenPageAndTest();
    const auto longest = PumpUntil([&] { return !sink.boxes.empty(); }, 20s);
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_LT(took.elapsed(), 5000);
    EXPECT_EQ(sink.boxes[0].caption, "Error");
    EXPECT_EQ(sink.boxes[0].text.toStdString(),
              "No answer from the mail server 127.0.0.1:" + std::to_string(server.port()) +
                  " within 1 s (waiting for the answer to the greeting)");
    // The window answered all along.
    EXPECT_LT(longest, 500ms);
}

TEST_F(EmailWiringTest, ClosingTheWindowDuringASendDoesNotWaitForTheServer) {
    if (!Serve({"--silent"})) return;
    Store(test_support::LoopbackPageFields(server.port()));
    smtp.stageTimeout = 60s;
    MakeLoadedWindow();
    OpenPageAndTest();
    PumpUntil([&] { return Panel(2) == "Connect"; }, 10s);
    ASSERT_EQ(Panel(2), "Connect");
    QElapsedTimer took;
    took.start();
    window->close();
    window.reset();
    EXPECT_LT(took.elapsed(), 2000);
}

TEST_F(EmailWiringTest, TheMailThreadMailsAPulledMemberOnce) {
    if (!Serve({"--reject", "boss@example.com"})) return;
    mail::MailPageFields fields = test_support::LoopbackPageFields(server.port());
    fields.events[0].subject = {"Disk lost"};
    Store(fields);
    MakeLoadedWindow();
    disks->Emulator(0)->Control("pull 1");
    Poll();
    ASSERT_TRUE(window->state().shell.mailRequestFlags & mail::kRequestSend);

    const auto report = MailThreadTurn();
    ASSERT_TRUE(report.has_value());
    EXPECT_TRUE(report->sent) << report->error;
    EXPECT_EQ(window->state().shell.mailRequestFlags.load(), 0);
    EXPECT_EQ(Panel(3), "Send mail Success!");
    // Not to everyone, though: the last-result line says who was refused.
    EXPECT_EQ(Panel(4).toStdString(),
              "E-mail: The mail server refused RCPT TO <boss@example.com>: 550 5.1.1 "
              "<boss@example.com>: Recipient address rejected; the mail went to the other "
              "recipients");
    EXPECT_FALSE(MailThreadTurn().has_value());  // nothing more to send

    const auto messages = server.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rcptTos, std::vector<std::string>{"ops@example.com"});
    EXPECT_NE(messages[0].data.find("Subject: [RAID GUI v0.50.11-5 Message] Disk lost\r\n"),
              std::string::npos)
        << messages[0].data;
    EXPECT_NE(messages[0].data.find("\r\n\r\nDevice1 P0 Hard Disk Drive fail.\r\n"),
              std::string::npos)
        << messages[0].data;
}

TEST_F(EmailWiringTest, BothMembersLostDuringATestMailAreMailedAfterItInTurn) {
    if (!Serve({})) return;
    Store(test_support::LoopbackPageFields(server.port()));
    // The first step of the first send (the test mail) waits until the
    // notifications are raised.
    std::mutex lock;
    std::condition_variable changed;
    bool held = false;
    bool release = false;
    smtp.transcript = [&](const std::string&) {
        std::unique_lock<std::mutex> hold(lock);
        if (held) return;
        held = true;
        changed.notify_all();
        changed.wait_for(hold, 20s, [&] { return release; });
    };
    MakeLoadedWindow();
    OpenPageAndTest();
    {
        std::unique_lock<std::mutex> hold(lock);
        ASSERT_TRUE(changed.wait_for(hold, 10s, [&] { return held; }));
    }
    disks->Emulator(0)->Control("pull 1");
    disks->Emulator(0)->Control("pull 2");
    Poll();
    EXPECT_FALSE(MailThreadTurn().has_value());  // the test mail holds the send
    EXPECT_TRUE(window->state().shell.mailRequestFlags & mail::kRequestSend);
    {
        std::lock_guard<std::mutex> hold(lock);
        release = true;
    }
    changed.notify_all();
    PumpUntil([&] { return !sink.boxes.empty(); }, 20s);
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, "Send mail Success!");

    for (int i = 0; i < 2; ++i) {
        const auto report = MailThreadTurn();
        ASSERT_TRUE(report.has_value());
        EXPECT_TRUE(report->sent) << report->error;
    }
    EXPECT_FALSE(MailThreadTurn().has_value());
    const auto messages = server.Messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].rcptTos, std::vector<std::string>{"raid@example.com"});
    EXPECT_NE(messages[1].data.find("\r\n\r\nDevice1 P0 Hard Disk Drive fail.\r\n"),
              std::string::npos)
        << messages[1].data;
    EXPECT_NE(messages[2].data.find("\r\n\r\nDevice1 P1 Hard Disk Drive fail.\r\n"),
              std::string::npos)
        << messages[2].data;
}

TEST_F(EmailWiringTest, AHaltedMailThreadEndsWithinItsLimitWhileASendWaitsOnTheServer) {
    if (!Serve({"--silent"})) return;
    auto context = std::make_shared<ShellContext>(std::make_shared<platform::SystemClock>(), disks);
    context->state.shell.mailRequestFlags = mail::kRequestSend;
    QObject receiver;
    auto gate = std::make_shared<HandOverGate>(&receiver);
    auto busy = std::make_shared<std::atomic<bool>>(false);
    std::atomic<bool> connected{false};
    MailThread::MainThreadWork work;
    work.mailPass = [&] {
        context->state.shell.mailRequestFlags = 0;
        mail::MailJob job;
        job.settings.host = "127.0.0.1";
        job.settings.port = std::to_string(server.port());
        job.settings.senderAddress = "raid@example.com";
        job.recipients = {"ops@example.com"};
        job.claim = std::move(*mail::SendClaim::Take(busy));
        return std::optional<mail::MailJob>(std::move(job));
    };
    work.statusText = [&](int, const std::string& text) { connected = text == "Connect"; };
    work.sendEnded = [](const mail::SendReport&) {};
    mail::SmtpOptions options;
    options.stageTimeout = 60s;
    MailThread thread(context, gate, work, options);
    thread.Start();
    PumpUntil([&] { return connected.load(); }, 10s);
    ASSERT_TRUE(connected);
    // The window's close: halt, close the gate, then wait a bounded time.
    QElapsedTimer took;
    took.start();
    thread.Halt();
    gate->Close(2s);
    EXPECT_TRUE(thread.Finish(1s));
    EXPECT_LT(took.elapsed(), 1500);
    EXPECT_FALSE(busy->load());  // the stopped send gave SendBusy back
}

TEST_F(EmailWiringTest, AKindSuppressedInTheSettingsFileRaisesNoMail) {
    mail::MailPageFields fields = test_support::LoopbackPageFields(2525);
    fields.suppressDiskFail = true;
    Store(fields);
    MakeLoadedWindow();
    disks->Emulator(0)->Control("pull 1");
    Poll();
    EXPECT_EQ(window->state().shell.mailRequestFlags.load(), 0);
}

TEST_F(EmailWiringTest, AFailedNotificationIsToldOnTheLastResultLine) {
    Store(test_support::LoopbackPageFields(0));  // no such port: refused before connecting
    MakeLoadedWindow();
    disks->Emulator(0)->Control("pull 2");
    Poll();
    const auto report = MailThreadTurn();
    ASSERT_TRUE(report.has_value());
    EXPECT_FALSE(report->sent);
    EXPECT_EQ(Panel(4), "E-mail not sent: The port \"0\" is not a number from 1 to 65535");
    EXPECT_TRUE(sink.boxes.empty());
    // The line may quote a server's reply: never rendered as markup.
    EXPECT_EQ(Find<QLabel>("statusPanel4")->textFormat(), Qt::PlainText);
}

TEST(MessageBoxes, ShowTheirTextAsPlainText) {
    // A server's reply in an error box: no link, no markup.
    const QString reply = "535 <a href=\"http://example.invalid/\">log in here</a>";
    MessageBoxSink sink;
    Qt::TextFormat format = Qt::AutoText;
    QString shown;
    int boxes = 0;
    QTimer::singleShot(0, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box == nullptr || !box->isVisible()) continue;
            ++boxes;
            format = box->textFormat();
            shown = box->text();
            box->accept();
        }
    });
    sink.ShowError(nullptr, reply, "Error");
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(shown, reply);
}

}  // namespace
}  // namespace raid::app::test
