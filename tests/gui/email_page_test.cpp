// The e-mail page on the offscreen platform, found by objectName: filling
// and reverting, the shared address list with its two grids, the
// authentication and security fields, OK, Ignore and Test with their
// messages, a stored password kept byte for byte (dropped with its host),
// on a temporary settings file.
#include "app/email_page.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTest>

#include "tests/unit/scratch_folder.h"
#include "tests/unit/test_files_and_time.h"

namespace raid::mail {
namespace {

const std::string kChanged =
    "E-Mail setting was changed, please click \"OK\" or \"Ignore\" button first!";
const std::string kCaption = "E-Mail Message";

struct Told {
    std::string text, caption;
    bool operator==(const Told&) const = default;
};

class EmailPageTest : public ::testing::Test {
protected:
    EmailPageHooks Hooks() {
        EmailPageHooks h;
        h.message = [this](const std::string& text, const std::string& caption) {
            told.push_back({text, caption});
        };
        h.sendTestMail = [this](MailJob job) { jobs.push_back(std::move(job)); };
        return h;
    }

    template <typename T>
    T* Find(const char* name) {
        T* widget = page.findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QLineEdit* Edit(const char* name) { return Find<QLineEdit>(name); }
    QTableWidget* Grid(const char* name) { return Find<QTableWidget>(name); }
    QString Cell(const char* grid, int row) {
        const QTableWidgetItem* item = Grid(grid)->item(row, 0);
        return item ? item->text() : QString();
    }
    void Click(const char* button) { Find<QPushButton>(button)->click(); }
    void Add(const char* input, const char* button, const QString& text) {
        Edit(input)->setText(text);
        Click(button);
    }
    // Starting as the window does, then what the e-mail thread's first pass
    // does.
    void StartAndLoad() {
        CheckMailSettingsAtStartup(store, settings, flags);
        LoadMailSettings(store, settings, flags);
        page.fillPage();
    }
    void SaveSomeSettings() {
        CheckMailSettingsAtStartup(store, settings, flags);
        MailPageFields f;
        f.settings.port = "25";
        f.settings.host = "mail.example.com";
        f.settings.senderAddress = "raid@example.com";
        f.addresses = {"ops@example.com"};
        f.events[0].subject = {"Disk lost"};
        f.events[1].body = {"line one", "line two"};
        ASSERT_FALSE(SaveMailSettings(store, settings, flags, f));
    }

    test_support::ScratchFolder scratch{"email_page"};
    SettingsStore store{scratch.path() / "settings.reg"};
    MailSettingsState settings;
    MailState mail;
    ShellFlags flags;
    std::vector<Told> told;
    std::vector<MailJob> jobs;
    EmailPage page{settings, mail, store, flags, "RAID GUI v0.50.11-5", Hooks()};
};

TEST_F(EmailPageTest, ControlsCarryTheirRoleNames) {
    EXPECT_EQ(page.objectName(), "emailPage");
    for (const char* name :
         {"hostEdit", "portEdit", "timeOutEdit", "senderNameEdit", "senderAddressEdit",
          "accountEdit", "passwordEdit", "diskFailAddressEdit", "diskFailSubjectEdit",
          "deviceRemovedAddressEdit", "deviceRemovedSubjectEdit"})
        Edit(name);
    for (const char* name :
         {"emailSetupTab", "emailDiskFailTab", "emailDeviceRemovedTab", "emailOkButton",
          "emailIgnoreButton", "emailTestButton", "diskFailAddButton", "diskFailRemoveButton",
          "deviceRemovedAddButton", "deviceRemovedRemoveButton"})
        Find<QPushButton>(name);
    for (const char* name :
         {"authenticationBox", "requireTlsBox", "diskFailSuppressBox", "deviceRemovedSuppressBox"})
        Find<QCheckBox>(name);
    Find<QComboBox>("securityBox");
    Find<QPlainTextEdit>("diskFailContentsMemo");
    Find<QPlainTextEdit>("deviceRemovedContentsMemo");
    EXPECT_EQ(Find<QLabel>("portNoteLabel")->text(), "( Default 25 )");
    EXPECT_EQ(Find<QLabel>("deviceRemovedAutoAddInfoLabel")->text(), "Device Removed info. and ");
    EXPECT_EQ(Find<QCheckBox>("diskFailSuppressBox")->text(), "Don't send EMail for this event.");
    EXPECT_EQ(Grid("diskFailAddressGrid")->rowCount(), 10);
    EXPECT_EQ(Grid("diskFailAddressGrid")->horizontalHeaderItem(0)->text(), "E-Mail Address");
    EXPECT_EQ(Edit("timeOutEdit")->maxLength(), 2);
    EXPECT_EQ(Edit("passwordEdit")->maxLength(), 15);
    EXPECT_EQ(Edit("passwordEdit")->echoMode(), QLineEdit::Password);
}

TEST_F(EmailPageTest, FirstStartWithoutSettingsShowsDefaultsAndTestIsNotReady) {
    StartAndLoad();
    EXPECT_EQ(Edit("portEdit")->text(), "25");
    EXPECT_EQ(Edit("timeOutEdit")->text(), "0");
    EXPECT_FALSE(Find<QCheckBox>("authenticationBox")->isChecked());
    EXPECT_TRUE(Edit("accountEdit")->isHidden());
    EXPECT_EQ(settings.pageChangedBits, 0);
    Click("emailTestButton");
    EXPECT_EQ(told, (std::vector<Told>{{"E-Mail setting isn't ready!", kCaption}}));
    EXPECT_TRUE(jobs.empty());
}

TEST_F(EmailPageTest, AddressesNeedAnAtAndTheListHoldsTen) {
    StartAndLoad();
    // Nothing is added from the Setup sub-page.
    page.showSubPage(EmailPage::kSetupPage);
    Edit("diskFailAddressEdit")->setText("ops@example.com");
    page.addAddress();
    EXPECT_TRUE(page.addresses().empty());

    page.showSubPage(EmailPage::kDiskFailPage);
    Add("diskFailAddressEdit", "diskFailAddButton", "nobody");
    EXPECT_EQ(told, (std::vector<Told>{{"E-Mail Address formula error!", kCaption}}));
    EXPECT_TRUE(page.addresses().empty());
    EXPECT_EQ(Edit("diskFailAddressEdit")->text(), "");
    Add("diskFailAddressEdit", "diskFailAddButton", "@");
    EXPECT_EQ(page.addresses(), std::vector<std::string>{"@"});
    EXPECT_EQ(Edit("diskFailAddressEdit")->text(), "");
    for (int i = 1; i < 10; ++i) Add("diskFailAddressEdit", "diskFailAddButton", " dup@x ");
    EXPECT_EQ(page.addresses().size(), 10u);
    EXPECT_EQ(page.addresses().back(), " dup@x ");  // not trimmed, duplicates allowed

    told.clear();
    Add("diskFailAddressEdit", "diskFailAddButton", "eleventh@example.com");
    EXPECT_EQ(page.addresses().size(), 10u);
    EXPECT_EQ(Edit("diskFailAddressEdit")->text(), "eleventh@example.com");
    EXPECT_TRUE(told.empty());
    // Addresses are no change of the connection fields.
    EXPECT_EQ(settings.pageChangedBits, 0);
}

TEST_F(EmailPageTest, BothGridsShowTheOneWorkingList) {
    StartAndLoad();
    page.showSubPage(EmailPage::kDiskFailPage);
    Add("diskFailAddressEdit", "diskFailAddButton", "ops@example.com");
    Add("diskFailAddressEdit", "diskFailAddButton", "boss@example.com");
    Click("emailDeviceRemovedTab");
    EXPECT_EQ(page.subPage(), EmailPage::kDeviceRemovedPage);
    EXPECT_EQ(Find<QStackedWidget>("emailSubPages")->currentIndex(), 2);
    EXPECT_EQ(Cell("deviceRemovedAddressGrid", 0), "ops@example.com");
    EXPECT_EQ(Cell("deviceRemovedAddressGrid", 1), "boss@example.com");
    EXPECT_EQ(Cell("deviceRemovedAddressGrid", 2), "");

    // Choosing a row copies it into the input; removing it empties both.
    Grid("deviceRemovedAddressGrid")->setCurrentCell(0, 0);
    EXPECT_EQ(Edit("deviceRemovedAddressEdit")->text(), "ops@example.com");
    Click("deviceRemovedRemoveButton");
    EXPECT_EQ(page.addresses(), std::vector<std::string>{"boss@example.com"});
    EXPECT_EQ(Edit("deviceRemovedAddressEdit")->text(), "");
    EXPECT_EQ(Cell("diskFailAddressGrid", 0), "boss@example.com");
    EXPECT_EQ(Cell("diskFailAddressGrid", 1), "");
    // A row beyond the list removes nothing.
    Grid("deviceRemovedAddressGrid")->setCurrentCell(5, 0);
    Click("deviceRemovedRemoveButton");
    EXPECT_EQ(page.addresses().size(), 1u);
}

TEST_F(EmailPageTest, TestWithUnsavedChangesIsRefusedAndOkThenTestSendsToTheSender) {
    SaveSomeSettings();
    StartAndLoad();
    EXPECT_EQ(Edit("hostEdit")->text(), "mail.example.com");
    EXPECT_EQ(Edit("diskFailSubjectEdit")->text(), "Disk lost");
    EXPECT_EQ(Find<QPlainTextEdit>("deviceRemovedContentsMemo")->toPlainText(),
              "line one\nline two");
    EXPECT_EQ(Cell("diskFailAddressGrid", 0), "ops@example.com");

    Edit("senderNameEdit")->setText("RAID Box");
    EXPECT_EQ(settings.pageChangedBits, changed::kSenderName);
    Click("emailTestButton");
    EXPECT_EQ(told, (std::vector<Told>{{kChanged, kCaption}}));
    EXPECT_TRUE(jobs.empty());

    Click("emailOkButton");
    EXPECT_EQ(flags.mailRequestFlags.load() & kRequestReload, kRequestReload);
    LoadMailSettings(store, settings, flags);  // the e-mail thread's reload
    EXPECT_EQ(settings.settings.senderName, "RAID Box");
    told.clear();
    Click("emailTestButton");
    EXPECT_TRUE(told.empty());
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_TRUE(jobs[0].testMail);
    EXPECT_EQ(jobs[0].recipients, std::vector<std::string>{"raid@example.com"});
    EXPECT_EQ(jobs[0].message.subject, "[RAID GUI v0.50.11-5 Message] Mail Test ");

    // While that send runs, Test sends nothing more.
    Click("emailTestButton");
    EXPECT_EQ(jobs.size(), 1u);
    jobs.clear();
    page.showSendResult(true, {}, true);
    page.showSendResult(false, "The mail server refused DATA: 554 no", true);
    page.showSendResult(true, {}, false);
    page.showSendResult(true, {}, true, {"The password went unencrypted: no STARTTLS"});
    EXPECT_EQ(told,
              (std::vector<Told>{
                  {"Send mail Success!", kCaption},
                  {"The mail server refused DATA: 554 no", "Error"},
                  {"Send mail Success!\n\nThe password went unencrypted: no STARTTLS", kCaption}}));
}

TEST_F(EmailPageTest, IgnoreRevertsEverythingButTheTwoDontSendBoxes) {
    SaveSomeSettings();
    StartAndLoad();
    Find<QCheckBox>("diskFailSuppressBox")->setChecked(true);
    Find<QCheckBox>("deviceRemovedSuppressBox")->setChecked(true);
    Edit("hostEdit")->setText("typo.example.com");
    Edit("diskFailSubjectEdit")->setText("changed");
    page.showSubPage(EmailPage::kDiskFailPage);
    Add("diskFailAddressEdit", "diskFailAddButton", "extra@example.com");
    Edit("diskFailAddressEdit")->setText("half typed");
    Click("emailIgnoreButton");
    EXPECT_EQ(Edit("hostEdit")->text(), "mail.example.com");
    EXPECT_EQ(Edit("diskFailSubjectEdit")->text(), "Disk lost");
    EXPECT_EQ(page.addresses(), std::vector<std::string>{"ops@example.com"});
    EXPECT_TRUE(Find<QCheckBox>("diskFailSuppressBox")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("deviceRemovedSuppressBox")->isChecked());
    EXPECT_EQ(Edit("diskFailAddressEdit")->text(), "");
    EXPECT_EQ(settings.pageChangedBits, 0);

    // Entering the page again takes the boxes from the settings.
    page.fillPage();
    EXPECT_FALSE(Find<QCheckBox>("diskFailSuppressBox")->isChecked());
}

TEST_F(EmailPageTest, WithoutSettingsIgnoreResetsOnlyPortTimeOutAndTheSwitch) {
    StartAndLoad();
    Edit("portEdit")->setText("");
    Edit("timeOutEdit")->setText("9");
    Edit("hostEdit")->setText("kept.example.com");
    Find<QCheckBox>("authenticationBox")->setChecked(true);
    Click("emailIgnoreButton");
    EXPECT_EQ(Edit("portEdit")->text(), "25");
    EXPECT_EQ(Edit("timeOutEdit")->text(), "0");
    EXPECT_EQ(Edit("hostEdit")->text(), "kept.example.com");
    EXPECT_FALSE(Find<QCheckBox>("authenticationBox")->isChecked());
    EXPECT_EQ(settings.pageChangedBits, 0);
}

TEST_F(EmailPageTest, AuthenticationFieldsAndTheClearTextWarning) {
    StartAndLoad();
    page.show();
    auto* auth = Find<QCheckBox>("authenticationBox");
    auto* warning = Find<QLabel>("clearTextWarningLabel");
    EXPECT_FALSE(warning->isVisible());
    auth->setChecked(true);
    for (const char* name : {"accountEdit", "passwordEdit"}) EXPECT_TRUE(Edit(name)->isVisible());
    EXPECT_TRUE(Find<QLabel>("accountLabel")->isVisible());
    EXPECT_TRUE(warning->isVisible());
    // Choosing SSL/TLS takes the port along while it is the default.
    auto* security = Find<QComboBox>("securityBox");
    security->setCurrentIndex(2);
    EXPECT_EQ(Edit("portEdit")->text(), "465");
    EXPECT_FALSE(warning->isVisible());
    security->setCurrentIndex(1);
    EXPECT_EQ(Edit("portEdit")->text(), "25");
    Edit("portEdit")->setText("587");
    security->setCurrentIndex(2);
    EXPECT_EQ(Edit("portEdit")->text(), "587");
    EXPECT_NE(settings.pageChangedBits & changed::kSecurity, 0);
    // With TLS required no password goes in clear.
    security->setCurrentIndex(0);
    EXPECT_TRUE(warning->isVisible());
    Find<QCheckBox>("requireTlsBox")->setChecked(true);
    EXPECT_FALSE(warning->isVisible());
    EXPECT_NE(settings.pageChangedBits & changed::kRequireTls, 0);
    auth->setChecked(false);
    EXPECT_FALSE(Edit("passwordEdit")->isVisible());
    EXPECT_FALSE(warning->isVisible());
}

TEST_F(EmailPageTest, OkStoresThePageAndAFailedWriteIsTold) {
    StartAndLoad();
    Edit("hostEdit")->setText("mail.example.com");
    Edit("portEdit")->setText("");
    Find<QCheckBox>("authenticationBox")->setChecked(true);
    Edit("passwordEdit")->setText("s3cret");
    Find<QComboBox>("securityBox")->setCurrentIndex(1);
    Find<QCheckBox>("requireTlsBox")->setChecked(true);
    Find<QCheckBox>("deviceRemovedSuppressBox")->setChecked(true);
    Edit("deviceRemovedSubjectEdit")->setText("Gone");
    Find<QPlainTextEdit>("deviceRemovedContentsMemo")->setPlainText("a\nb\n");

    store.setWriteFault(
        [](platform::WriteStep s) { return s == platform::WriteStep::Rename ? EIO : 0; });
    Click("emailOkButton");
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].caption, "Error");
    EXPECT_NE(told[0].text.find("Input/output error"), std::string::npos);
    EXPECT_EQ(Edit("hostEdit")->text(), "mail.example.com");  // nothing typed is lost

    store.setWriteFault({});
    Click("emailOkButton");
    EXPECT_EQ(told.size(), 1u);
    EXPECT_EQ(Edit("portEdit")->text(), "25");
    LoadMailSettings(store, settings, flags);
    EXPECT_EQ(settings.settings.host, "mail.example.com");
    EXPECT_EQ(settings.settings.password, "s3cret");
    EXPECT_EQ(settings.settings.security, Security::StartTls);
    EXPECT_TRUE(settings.settings.requireTls);
    EXPECT_EQ(settings.authState, kAuthOn);
    EXPECT_EQ(settings.suppressMask, 2u);
    EXPECT_EQ(settings.templates[2].subject, std::vector<std::string>{"Gone"});
    EXPECT_EQ(settings.templates[2].body, (std::vector<std::string>{"a", "b"}));
}

TEST_F(EmailPageTest, AStoredPasswordSurvivesOkByteForByteUnlessTypedOrItsHostChanges) {
    // A password that is no UTF-8 ("p\xE4ss\xFF\x80") with authentication on,
    // and the same record with a check byte that no longer matches.
    PasswordRecord good = EncodePasswordRecord("p\xE4ss\xFF\x80", true, 0xA7);
    PasswordRecord unreadable = good;
    unreadable[17] ^= 0x10;
    for (const PasswordRecord& record : {good, unreadable}) {
        SaveSomeSettings();
        std::string error;
        ASSERT_TRUE(store.Update(
            [&](RegKey& key) {
                key.Set(RegValue::Binary("ProductID", {record.begin(), record.end()}));
            },
            error))
            << error;
        const std::string stored = test_support::ReadFile(store.file());
        StartAndLoad();
        // An edit typed back marks the host changed: the settings are not.
        Edit("hostEdit")->setText("other.example.com");
        Edit("hostEdit")->setText("mail.example.com");
        Click("emailOkButton");
        EXPECT_TRUE(told.empty());
        EXPECT_EQ(test_support::ReadFile(store.file()), stored);
        LoadMailSettings(store, settings, flags);
        EXPECT_EQ(settings.passwordRecord, record);
    }
    // The switch cannot be turned on over an unreadable password unless a
    // new one is typed.
    page.fillPage();
    Find<QCheckBox>("authenticationBox")->setChecked(true);
    Click("emailOkButton");
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].text,
              "The stored password cannot be read; type the password again to turn on \"SMTP "
              "Login Authentication\".");
    Edit("passwordEdit")->setText("s3cret");
    Click("emailOkButton");
    EXPECT_EQ(told.size(), 1u);
    LoadMailSettings(store, settings, flags);
    EXPECT_EQ(settings.settings.password, "s3cret");
    EXPECT_EQ(settings.authState, kAuthOn);

    // Turned off without typing: the stored bytes but for the switch's bit.
    const PasswordRecord before = settings.passwordRecord;
    page.fillPage();
    Find<QCheckBox>("authenticationBox")->setChecked(false);
    Click("emailOkButton");
    LoadMailSettings(store, settings, flags);
    PasswordRecord expected = before;
    expected[17] ^= 1;
    EXPECT_EQ(settings.passwordRecord, expected);
    EXPECT_EQ(settings.authState, kAuthOff);

    // Another host: the password was never given for it, and goes.
    page.fillPage();
    ASSERT_EQ(Edit("passwordEdit")->text(), "s3cret");
    Edit("hostEdit")->setText("relay.example.net");
    Click("emailOkButton");
    EXPECT_EQ(told.size(), 1u);
    EXPECT_EQ(Edit("passwordEdit")->text(), "");
    LoadMailSettings(store, settings, flags);
    EXPECT_EQ(settings.settings.host, "relay.example.net");
    EXPECT_EQ(settings.settings.password, "");
}

TEST_F(EmailPageTest, OkAndIgnoreSinkWhileHeld) {
    page.show();
    for (const char* name : {"emailOkButton", "emailIgnoreButton"}) {
        auto* button = Find<QPushButton>(name);
        const int y = button->y();
        QTest::mousePress(button, Qt::LeftButton);
        EXPECT_EQ(button->y(), y + 2) << name;
        QTest::mouseRelease(button, Qt::LeftButton);
        EXPECT_EQ(button->y(), y) << name;
    }
}

}  // namespace
}  // namespace raid::mail
