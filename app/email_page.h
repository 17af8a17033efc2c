#pragma once
// The e-mail page: SMTP connection and login, the sender, up to ten
// recipient addresses shared by two notification kinds with their subject,
// body and "Don't send" switch; OK stores, Ignore reverts, Test sends a test
// mail. It works on the settings in memory and the settings store, or, in
// a client of the service, on the service's settings; what it needs of the
// window comes through EmailPageHooks. Laid out for the window's page panel
// (460 x 348 pixels).
#include <QStringList>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "client/mail_records.h"
#include "common/state.h"
#include "mail/mail_event.h"
#include "mail/mail_pass.h"
#include "mail/mail_settings.h"
#include "mail/settings_store.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class QTableWidget;

namespace raid::mail {

struct EmailPageHooks {
    // A modal box with an OK button and this caption.
    std::function<void(const std::string& text, const std::string& caption)> message;
    // Sends a composed test mail off the main thread (MailSender::send);
    // the end comes back through EmailPage::showSendResult.
    std::function<void(MailJob job)> sendTestMail;
    // A client of the service: OK hands the service what was changed since
    // the page was filled (all of it while the service holds no settings),
    // and Test asks it for the test mail, whose end comes back through
    // EmailPage::showSendResult. The settings file is not touched then.
    std::function<void(client::MailSettingsChanges changes)> storeThroughService;
    std::function<void()> testThroughService;
    // Whether the page is the service's client now; null: when the two
    // hooks above are set.
    std::function<bool()> throughService;
    // The settings file was saved here: whoever mails from it reads it again.
    std::function<void()> stored;
};

class EmailPage : public QWidget {
    Q_OBJECT
public:
    enum SubPage { kSetupPage = 0, kDiskFailPage = 1, kDeviceRemovedPage = 2 };

    // The page keeps references to the state objects; they must outlive it.
    EmailPage(MailSettingsState& settings, MailState& mail, SettingsStore& store, ShellFlags& flags,
              std::string appTitle, EmailPageHooks hooks, QWidget* parent = nullptr);

    // Entering the page: the fields from the settings in memory (defaults
    // "25" and "0" without settings), the current sub-page, no changes.
    void fillPage();
    // Shows sub-page 0 (Setup), 1 (HDD_Fail) or 2 (DeviceRemove) and clears
    // both address inputs.
    void showSubPage(int index);
    // The sub-page's address input to the working list: refused without
    // "@" ("E-Mail Address formula error!"), ignored when empty or when the
    // list is full (the input keeps its text); nothing on Setup.
    void addAddress();
    // Deletes the address of the sub-page grid's selected row.
    void removeAddress();
    // A grid row chosen: its address goes into the sub-page's input.
    void selectAddress(int row);
    // OK: stores everything (SaveMailSettings); a failure is told.
    void save();
    // Ignore: the fields from memory again, except the two "Don't send"
    // boxes; no changes.
    void ignore();
    // Test: refused with unsaved changes or without loaded settings, else
    // the test mail goes to hooks.sendTestMail.
    void test();
    // The end of a send started by Test: "Send mail Success!" for a test
    // mail that went out, followed by its notes (SendNotes), the error for
    // one that did not.
    void showSendResult(bool sent, const QString& error, bool testMail,
                        const QStringList& notes = {});

    // A client of the service: the page shows `settings` as the service
    // read them (the password only as stored or not; the mail texts only as
    // where they are kept), enabled, no changes.
    void showServiceSettings(const client::MailSettingsRecord& settings);
    // A client of the service: the page shows no settings and is disabled,
    // saying `text` (a read under way, or why none could be read).
    void showServiceNotice(const QString& text);

    int subPage() const { return subPage_; }
    const std::vector<std::string>& addresses() const { return addresses_; }

private:
    struct EventControls {
        QTableWidget* grid = nullptr;
        QLineEdit* input = nullptr;
        QLineEdit* subject = nullptr;
        QPlainTextEdit* contents = nullptr;
        QCheckBox* suppress = nullptr;
    };

    void buildTabs();
    void buildSetupPage(QWidget* page);
    void buildEventPage(QWidget* page, int kind, const char* prefix, const char* infoText);
    QLabel* label(QWidget* parent, const char* name, const QString& text, const QRect& box);
    QLineEdit* edit(QWidget* parent, const char* name, const QRect& box, std::uint16_t bit);
    void showAuthenticationFields();
    void onSecurityChosen(int index);
    void refreshGrids();
    // Fields from the settings in memory (or the defaults without), no
    // changes, the sub-page shown again.
    void refill(bool keepSuppressBoxes);
    void fillFromSettings(bool keepSuppressBoxes);
    void fillDefaults();
    MailPageFields pageFields() const;
    bool throughService() const {
        if (hooks_.throughService) return hooks_.throughService();
        return static_cast<bool>(hooks_.storeThroughService);
    }
    // What differs from the settings the service served; nullopt when
    // nothing does and there is nothing to store.
    std::optional<client::MailSettingsChanges> serviceChanges() const;
    void enableControls(bool enabled);
    void clearFields();
    // A client of the service whose settings are not shown: nothing to do.
    bool serviceSettingsMissing() const;
    EventControls* currentEvent();
    void tell(const std::string& text, const std::string& caption);

    MailSettingsState& settings_;
    MailState& mail_;
    SettingsStore& store_;
    ShellFlags& flags_;
    std::string appTitle_;
    EmailPageHooks hooks_;
    int subPage_ = kSetupPage;
    std::vector<std::string> addresses_;  // the working address list

    std::array<QPushButton*, 3> tabs_{};
    QStackedWidget* stack_ = nullptr;
    QLineEdit* portEdit_ = nullptr;
    QLineEdit* hostEdit_ = nullptr;
    QLineEdit* senderNameEdit_ = nullptr;
    QLineEdit* senderAddressEdit_ = nullptr;
    QLineEdit* timeOutEdit_ = nullptr;
    QComboBox* securityBox_ = nullptr;
    QCheckBox* requireTlsBox_ = nullptr;
    QCheckBox* authenticationBox_ = nullptr;
    QLabel* accountLabel_ = nullptr;
    QLineEdit* accountEdit_ = nullptr;
    QLabel* passwordLabel_ = nullptr;
    QLineEdit* passwordEdit_ = nullptr;
    QLabel* clearTextWarning_ = nullptr;
    QPushButton* testButton_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* ignoreButton_ = nullptr;
    std::array<EventControls, 2> events_{};
    // A client of the service: what the page showed of its settings, and
    // why it shows none.
    MailPageFields servedFields_;
    bool serviceSettingsShown_ = false;
    QLabel* serviceNotice_ = nullptr;
};

}  // namespace raid::mail
