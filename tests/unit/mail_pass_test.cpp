// Composing mails: the notification the e-mail thread's pass turns into a
// job (device block, system block and templates), the queue of waiting
// notifications, SendBusy, the pass's reload, and the page's test mail.
#include "mail/mail_pass.h"

#include <gtest/gtest.h>

#include "tests/unit/mail_device_fixture.h"
#include "tests/unit/scratch_folder.h"

namespace raid::mail {
namespace {

const std::string kTitle = "RAID GUI v0.50.11-5";

class MailPassTest : public ::testing::Test {
protected:
    MailPassTest() {
        mail.systemInfoBlock = {"\n=== [System Information] ===", "\nSystem Name : bench"};
        settings.loaded = true;
        settings.keyExists = true;
        settings.settings.senderAddress = "raid@example.com";
        settings.settings.host = "mail.example.com";
        settings.recipients = {"ops@example.com", "boss@example.com"};
        settings.recipientCount = 2;
        settings.authState = kAuthOn;
        settings.templates[1] = {{"Disk lost", "second line unused"}, {"Replace it."}};
        settings.templates[2] = {{}, {"Gone."}};
    }

    MailPassResult Pass() {
        MailPassHooks hooks;
        hooks.statusPanel = [this](int panel, const std::string& text) {
            panels.push_back(std::to_string(panel) + ":" + text);
        };
        return MailPass(app->shell, mail, settings, store, kTitle, hooks);
    }
    void Raise(std::uint8_t kind, std::uint8_t device, std::uint8_t value) {
        RaiseMailEvent(*app, mail, {settings.suppressMask}, kind, device, value);
    }

    std::unique_ptr<AppState> app = test_support::MirrorWithHdd2Lost();
    MailState mail;
    MailSettingsState settings;
    test_support::ScratchFolder scratch{"mail_pass"};
    SettingsStore store{scratch.path() / "settings.reg"};
    std::vector<std::string> panels;
};

TEST_F(MailPassTest, DiskFailureMailHasTheDeviceBlockSystemBlockAndTemplate) {
    Raise(kKindDiskFail, 0, 1);  // HDD2 of Device1
    auto result = Pass();
    ASSERT_TRUE(result.job);
    EXPECT_TRUE(result.problems.empty());
    EXPECT_EQ(panels, std::vector<std::string>{"2:Email=2"});
    const MailJob& job = *result.job;
    EXPECT_EQ(job.message.subject, "[RAID GUI v0.50.11-5 Message] Disk lost");
    std::vector<std::string> body = test_support::kHdd2LostBlock;
    body.insert(body.end(),
                {"\n=== [System Information] ===", "\nSystem Name : bench", "Replace it."});
    EXPECT_EQ(job.message.body, body);
    EXPECT_EQ(job.recipients, settings.recipients);
    EXPECT_TRUE(job.authenticate);
    EXPECT_FALSE(job.testMail);
    EXPECT_EQ(job.settings.host, "mail.example.com");
    EXPECT_EQ(app->shell.mailRequestFlags.load(), 0);
    EXPECT_TRUE(mail.sendBusy->load());  // held by the job until it is sent
}

TEST_F(MailPassTest, NothingIsMailedForADeviceWithoutEmailPageOrASuppressedKind) {
    mail.eventInfoBlock = {"earlier"};
    app->discovery.deviceSlots[0].featureMask = 0x37;  // no bit 3
    Raise(kKindDiskFail, 0, 0);
    EXPECT_EQ(mail.eventInfoBlock, std::vector<std::string>{"earlier"});
    EXPECT_EQ(app->shell.mailRequestFlags.load(), 0);

    app->discovery.deviceSlots[0].featureMask = 0x3D;
    settings.suppressMask = 0x1;
    Raise(kKindDiskFail, 0, 0);
    EXPECT_TRUE(mail.eventInfoBlock.empty());
    EXPECT_EQ(app->shell.mailRequestFlags.load(), 0);
}

TEST_F(MailPassTest, AnUnknownDeviceStillMailsWithoutDeviceLines) {
    Raise(kKindDeviceRemoved, 1, 0);  // only one device is known
    auto result = Pass();
    ASSERT_TRUE(result.job);
    // No template subject: the prefix alone, with its trailing blank.
    EXPECT_EQ(result.job->message.subject, "[RAID GUI v0.50.11-5 Message] ");
    EXPECT_EQ(result.job->message.body,
              (std::vector<std::string>{"\n=== [System Information] ===", "\nSystem Name : bench",
                                        "Gone."}));
}

TEST_F(MailPassTest, EveryNotificationIsMailedInTurnAndWaitsForASendThatRuns) {
    Raise(kKindDiskFail, 0, 0);
    Raise(kKindDeviceRemoved, 0, 0);
    auto first = Pass();
    ASSERT_TRUE(first.job);
    EXPECT_EQ(first.job->message.body.front(), "Device1 P0 Hard Disk Drive fail.");
    EXPECT_EQ(first.job->message.subject, "[RAID GUI v0.50.11-5 Message] Disk lost");
    EXPECT_EQ(app->shell.mailRequestFlags.load(), kRequestSend);  // one more waits

    // While that job holds SendBusy the rest wait, asked for still.
    Raise(kKindDiskFail, 0, 1);
    EXPECT_FALSE(Pass().job);
    EXPECT_EQ(app->shell.mailRequestFlags.load(), kRequestSend);
    EXPECT_FALSE(ComposeTestMail(mail, settings, kTitle));

    first.job.reset();  // the send is over
    // A test mail started now goes first; the notifications wait for it.
    auto test = ComposeTestMail(mail, settings, kTitle);
    ASSERT_TRUE(test);
    EXPECT_FALSE(Pass().job);
    test.reset();
    std::vector<std::string> sent;
    for (int i = 0; i < 3; ++i) {
        auto next = Pass();
        if (next.job) sent.push_back(next.job->message.body.front());
    }
    EXPECT_EQ(sent, (std::vector<std::string>{"Device1 RAID system fail.",
                                              "Device1 P1 Hard Disk Drive fail."}));
    EXPECT_EQ(app->shell.mailRequestFlags.load(), 0);
}

TEST_F(MailPassTest, BeyondTheBoundTheOldestWaitAndTheDroppedAreCountedAndTold) {
    const auto busy = SendClaim::Take(mail.sendBusy);  // a send that runs long
    for (std::size_t i = 0; i < kMaxPendingNotifications + 3; ++i)
        Raise(kKindDiskFail, 0, static_cast<std::uint8_t>(i % 2));
    EXPECT_EQ(mail.pending.size(), kMaxPendingNotifications);
    const auto result = Pass();
    EXPECT_FALSE(result.job);
    EXPECT_EQ(result.problems,
              std::vector<std::string>{"E-mail notifications dropped: 3 raised while 32 were "
                                       "waiting to be sent."});
    EXPECT_TRUE(Pass().problems.empty());  // told once
    EXPECT_EQ(mail.pending.front().eventInfoBlock.front(), "Device1 P0 Hard Disk Drive fail.");
}

TEST_F(MailPassTest, WithoutSettingsOrRecipientsTheNotificationIsDropped) {
    settings.recipientCount = 0;
    Raise(kKindDiskFail, 0, 0);
    EXPECT_FALSE(Pass().job);
    EXPECT_EQ(app->shell.mailRequestFlags.load(), 0);
    EXPECT_FALSE(mail.sendBusy->load());

    settings.recipientCount = 2;
    settings.loaded = false;
    Raise(kKindDiskFail, 0, 0);
    EXPECT_FALSE(Pass().job);
    EXPECT_EQ(app->shell.mailRequestFlags.load(), 0);
}

TEST_F(MailPassTest, AReloadComesBeforeTheSendSoTheNewSettingsAreUsed) {
    // What OK stored: one recipient and another subject.
    MailSettingsState saved;
    ShellFlags flags;
    CheckMailSettingsAtStartup(store, saved, flags);
    MailPageFields page;
    page.settings.host = "new.example.com";
    page.settings.senderAddress = "raid@example.com";
    page.addresses = {"new@example.com"};
    page.events[0].subject = {"Fresh subject"};
    ASSERT_FALSE(SaveMailSettings(store, saved, flags, page));

    settings.loaded = false;
    app->shell.mailRequestFlags = kRequestReload;
    Raise(kKindDiskFail, 0, 0);
    auto result = Pass();
    EXPECT_EQ(panels, std::vector<std::string>{"2:Email=3"});
    ASSERT_TRUE(result.job);
    EXPECT_TRUE(settings.loaded);
    EXPECT_EQ(result.job->recipients, std::vector<std::string>{"new@example.com"});
    EXPECT_EQ(result.job->settings.host, "new.example.com");
    EXPECT_EQ(result.job->message.subject, "[RAID GUI v0.50.11-5 Message] Fresh subject");
    EXPECT_EQ(app->shell.mailRequestFlags.load(), 0);
}

TEST_F(MailPassTest, TheTestMailGoesToTheSenderAlone) {
    auto job = ComposeTestMail(mail, settings, kTitle);
    ASSERT_TRUE(job);
    EXPECT_TRUE(job->testMail);
    EXPECT_EQ(job->recipients, std::vector<std::string>{"raid@example.com"});
    EXPECT_EQ(job->message.subject, "[RAID GUI v0.50.11-5 Message] Mail Test ");
    EXPECT_EQ(job->message.body, (std::vector<std::string>{
                                     "[RAID GUI v0.50.11-5] E-Mail test!",
                                     "\n=== [System Information] ===", "\nSystem Name : bench"}));
    EXPECT_TRUE(mail.sendBusy->load());
}

TEST(SendClaim, OneHolderAtATimeAndFreedWhereverItEnds) {
    auto busy = std::make_shared<std::atomic<bool>>(false);
    auto claim = SendClaim::Take(busy);
    ASSERT_TRUE(claim);
    EXPECT_FALSE(SendClaim::Take(busy));
    SendClaim moved = std::move(*claim);
    claim.reset();
    EXPECT_TRUE(busy->load());  // the moved-from claim freed nothing
    moved = SendClaim();
    EXPECT_FALSE(busy->load());
    EXPECT_FALSE(SendClaim::Take(nullptr));
}

}  // namespace
}  // namespace raid::mail
