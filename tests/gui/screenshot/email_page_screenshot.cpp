// Saves a picture of each of the e-mail page's three sub-pages, filled from
// a sample settings file, against an emulated enclosure that offers the
// page, for the documentation:
//   email_page_screenshot FOLDER
// writes raidgui-email-setup.png, raidgui-email-diskfail.png and
// raidgui-email-removed.png. Runs on Qt's offscreen platform unless
// QT_QPA_PLATFORM says otherwise.
#include <QApplication>
#include <QPixmap>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "app/email_page.h"
#include "platform/clock.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"
#include "tests/gui/emulated_window.h"
#include "tests/smtp/test_server.h"

int main(int argc, char** argv) {
    using namespace raid;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication application(qtArgc, argv);

    // What a user might have stored: a provider's submission port with
    // STARTTLS and a login, two recipients and a template for each kind.
    QTemporaryDir settingsFolder;
    const std::string settingsFile = settingsFolder.path().toStdString() + "/settings.reg";
    mail::MailPageFields fields;
    fields.settings.host = "smtp.example.com";
    fields.settings.port = "587";
    fields.settings.security = mail::Security::StartTls;
    fields.settings.requireTls = true;
    fields.settings.timeOut = "30";
    fields.settings.senderName = "Backup room RAID";
    fields.settings.senderAddress = "raid@example.com";
    fields.settings.account = "raid@example.com";
    fields.settings.password = "secret";
    fields.authentication = true;
    fields.addresses = {"ops@example.com", "storage-team@example.com"};
    fields.events[0].subject = {"A disk of the backup enclosure failed"};
    fields.events[0].body = {"Please replace the failed disk.", "Spare disks: shelf 3."};
    fields.events[1].subject = {"The backup enclosure is gone"};
    fields.events[1].body = {"Check its cable and power."};
    std::string error;
    if (!test_support::StoreMailSettings(settingsFile, fields, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }

    auto clock = std::make_shared<platform::ManualClock>(std::chrono::system_clock::now());
    auto disks = std::make_shared<sim::SimDiskSystem>();
    disks->AddEnclosure(std::make_shared<sim::ControllerEmulator>(
        *sim::ScenarioEnclosure("noschedule"), clock.get()));
    app::test_support::EmulatedWindow emulated(clock, disks, settingsFile);
    app::MainWindow& window = emulated.window();
    emulated.DiscoverAndServe();
    window.runMailPass();  // the mail thread's first pass loads the settings
    window.show();
    window.openEmailPage();

    const struct {
        int subPage;
        const char* file;
    } pictures[] = {{mail::EmailPage::kSetupPage, "raidgui-email-setup.png"},
                    {mail::EmailPage::kDiskFailPage, "raidgui-email-diskfail.png"},
                    {mail::EmailPage::kDeviceRemovedPage, "raidgui-email-removed.png"}};
    for (const auto& p : pictures) {
        window.emailPage().showSubPage(p.subPage);
        QApplication::processEvents();
        const QString path = QString::fromLocal8Bit(argv[1]) + "/" + p.file;
        if (!window.grab().save(path)) {
            std::fprintf(stderr, "cannot write %s\n", path.toLocal8Bit().constData());
            return 1;
        }
    }
    return 0;
}
