// The window as a client of the service, against a stand-in of the service
// that serves emulated enclosures through the in-process implementation:
// what the pages show, what the user's clicks send, refusals, the service
// going and coming, upgrades as the service's jobs, and that the window
// itself never opens a disk nor its own e-mail settings file.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFrame>
#include <QLineEdit>
#include <QPalette>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "app/email_page.h"
#include "app/event_log_viewer.h"
#include "app/service_calls.h"
#include "app/setup_page.h"
#include "app/status_page.h"
#include "cli/local_access.h"
#include "client/mail_wire.h"
#include "client/status_wire.h"
#include "firmware/upgrade.h"
#include "service/engine_access.h"
#include "main_window_fixture.h"
#include "tests/smtp/test_server.h"
#include "tests/unit/firmware_files.h"
#include "tests/unit/test_files_and_time.h"

namespace raid::app::test {
namespace {

using Kind = firmware::FlashStepKind;

// The service: the enclosures as this process reads them, the e-mail
// settings of its own settings file, each call written down, and any kind of
// call refused on demand.
class ServiceStandIn final : public client::EnclosureAccess {
public:
    ServiceStandIn(platform::DiskSystem& disks, platform::Clock& clock, std::string settingsFile)
        : ctx_{disks, clock, {}, out_, err_}, local_(ctx_, std::move(settingsFile)) {}

    std::map<std::string, client::Answer> refusals;  // by call name
    bool running = true;
    client::MailSettingsChanges mailChanges;  // the last ones given
    // The answer to a test mail in place of a send.
    std::optional<client::TestMailAnswer> testMail;
    // The service's jobs, as Jobs() lists them.
    std::vector<client::JobRecord> jobs;
    // A flash that does not end by itself: its steps up to the first
    // progress, then it waits until its caller stops following (the job goes
    // on) or `finishHeld` lets it end well.
    bool flashHeld = false;
    std::atomic<bool> finishHeld{false};
    // Runs once while a flash is under way, when its first phase began.
    std::function<void()> duringFlash;
    bool detached = false;  // the last flash's caller stopped following it
    static constexpr const char* kJob = "/org/raidenclosure/Manager1/jobs/1";

    std::vector<std::string> Calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    int StatusCalls() const { return statusCalls_.load(); }
    // The enclosures as its signals tell them, and what it calls after a
    // setting or a flash changed them (on the call's thread).
    // The enclosures' status as served: `served`, else the stand-in's own reading.
    client::StatusAnswer Served() {
        if (!served) return local_.Status("");
        client::StatusAnswer answer;
        answer.devices = *served;
        return answer;
    }
    std::function<void()> published;
    std::optional<std::vector<client::DeviceStatus>> served;

    client::StatusAnswer Status(const std::string& disk) override {
        ++statusCalls_;
        return Refused<client::StatusAnswer>(
            "Status", [&] { return served ? Served() : local_.Status(disk); });
    }
    client::SmartAnswer Smart(const std::string& disk) override {
        return Refused<client::SmartAnswer>("Smart", [&] { return local_.Smart(disk); });
    }
    client::SettingAnswer SetBuzzer(const std::string& disk, bool mute,
                                    const client::CallOptions& o) override {
        Record("SetBuzzer " + disk + (mute ? " mute" : " sound"));
        return Refused<client::SettingAnswer>(
            "SetBuzzer", [&] { return Published(local_.SetBuzzer(disk, mute, o)); });
    }
    client::SettingAnswer SetBackupPeriod(const std::string& disk, const client::PeriodRequest& p,
                                          const client::CallOptions& o) override {
        Record("SetBackupPeriod " + disk + " preset " + std::to_string(p.preset) +
               (p.userPeriod
                    ? " user " + std::to_string(p.days) + "d" + std::to_string(p.hours) + "h"
                    : ""));
        return Refused<client::SettingAnswer>(
            "SetBackupPeriod", [&] { return Published(local_.SetBackupPeriod(disk, p, o)); });
    }
    client::FirmwareCheckAnswer CheckFirmware(const std::string& disk,
                                              const std::vector<std::uint8_t>& image) override {
        Record("CheckFirmware " + disk);
        return Refused<client::FirmwareCheckAnswer>(
            "CheckFirmware", [&] { return local_.CheckFirmware(disk, image); });
    }
    client::FlashReadAnswer ReadFlash(const std::string& disk, std::uint32_t length,
                                      const client::CallOptions& o) override {
        return local_.ReadFlash(disk, length, o);
    }
    client::FlashAnswer Flash(const std::string& disk, const std::vector<std::uint8_t>& image,
                              bool backup, client::FlashHandlers handlers,
                              const client::CallOptions& o) override {
        Record("Flash " + disk + (o.interactive ? " interactive" : " quiet"));
        if (refusals.count("Flash") != 0)
            return Refused<client::FlashAnswer>("Flash", [] { return client::FlashAnswer{}; });
        bool stepped = false, began = false;
        const auto step = handlers.step;
        handlers.step = [&](const firmware::FlashStep& s) {
            stepped = true;
            step(s);
            if (s.kind == Kind::Phase && !began) {
                began = true;
                if (duringFlash) duringFlash();
            }
        };
        client::FlashAnswer answer;
        if (flashHeld) {
            handlers.step(
                {.kind = Kind::ProgressBegins, .text = firmware::kUpgradeLabel, .value = 136});
            handlers.step({.kind = Kind::Phase, .caption = "Process 1 / 3"});
            handlers.step({.kind = Kind::Progress, .value = 8});
            QElapsedTimer waited;
            waited.start();
            while (!(detached = handlers.detach()) && !finishHeld.load() &&
                   waited.elapsed() < 10000)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            answer.detached = detached;
            if (!detached) {
                handlers.step({.kind = Kind::Progress, .value = 136});
                handlers.step({.kind = Kind::ProgressEnds});
                handlers.step({.kind = Kind::Message,
                               .caption = firmware::kSuccessCaption,
                               .text = firmware::kSuccessText,
                               .icon = firmware::MessageIcon::Exclamation});
            }
        } else {
            answer = Published(local_.Flash(disk, image, backup, std::move(handlers), o));
        }
        // A job began once it told a step; a flash refused before has none.
        if (stepped) answer.job = kJob;
        return answer;
    }
    bool FlashOutlivesCaller() const override { return true; }
    client::DayFilesAnswer DayFiles() override {
        client::DayFilesAnswer answer;
        for (const auto& [name, content] : dayFiles) answer.names.push_back(name);
        return answer;
    }
    client::JobsAnswer Jobs() override {
        return Refused<client::JobsAnswer>("Jobs", [&] {
            client::JobsAnswer answer;
            answer.jobs = jobs;
            return answer;
        });
    }
    client::DayFileAnswer ReadDayFile(const std::string& name) override {
        client::DayFileAnswer answer;
        const auto file = dayFiles.find(name);
        if (file == dayFiles.end()) {
            answer.outcome = client::kFailed;
            answer.notes = {"no day file " + name};
        } else {
            answer.bytes.assign(file->second.begin(), file->second.end());
        }
        return answer;
    }
    std::map<std::string, std::string> dayFiles;  // the service's log folder
    client::MailSettingsAnswer MailSettings(const client::CallOptions& o) override {
        Record("MailSettings");
        return Refused<client::MailSettingsAnswer>("MailSettings",
                                                   [&] { return local_.MailSettings(o); });
    }
    // Written down by the keys given, as they go on the bus.
    client::Answer SetMailSettings(const client::MailSettingsChanges& c,
                                   const client::CallOptions& o) override {
        Record("SetMailSettings " + client::EncodeMailChanges(c).keys().join(' ').toStdString());
        mailChanges = c;
        return Refused<client::Answer>("SetMailSettings",
                                       [&] { return local_.SetMailSettings(c, o); });
    }
    client::TestMailAnswer SendTestMail(const client::CallOptions& o,
                                        const std::function<void(const std::string&)>& t) override {
        Record("SendTestMail");
        return Refused<client::TestMailAnswer>(
            "SendTestMail", [&] { return testMail ? *testMail : local_.SendTestMail(o, t); });
    }

private:
    template <typename A>
    A Published(A answer) {
        if (published) published();
        return answer;
    }
    // Calls come from the window's call threads.
    void Record(const std::string& call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(call);
    }

    template <typename A, typename Call>
    A Refused(const std::string& name, Call call) {
        if (!running) {
            A gone;
            gone.outcome = client::kUnavailable;
            gone.notes = {"the service org.raidenclosure.Manager1 did not answer: not running"};
            return gone;
        }
        const auto refusal = refusals.find(name);
        if (refusal == refusals.end()) return call();
        A answer;
        static_cast<client::Answer&>(answer) = refusal->second;
        return answer;
    }

    std::ostringstream out_;
    std::ostringstream err_;
    cli::Context ctx_;
    cli::LocalAccess local_;
    std::mutex mutex_;
    std::vector<std::string> calls_;
    std::atomic<int> statusCalls_{0};
};

// The window's own disks: listed, never to be opened.
class UnopenedDisks final : public platform::DiskSystem {
public:
    std::vector<platform::DiskInfo> ListDisks() override { return {}; }
    std::vector<platform::VolumeInfo> ListVolumes() override { return {}; }
    platform::OpenResult OpenDisk(int) override {
        ++opens;
        platform::OpenResult refused;
        refused.error = platform::OpenError::PermissionDenied;
        return refused;
    }
    int opens = 0;
};

class ClientModeTest : public MainWindowTest {
protected:
    // A window of the stand-in, which outlives it as the service does.
    void MakeClient() {
        if (!service)
            service = std::make_shared<ServiceStandIn>(*disks, *clock, ServiceSettings().string());
        Tell();
        configureOptions = [this](MainWindowOptions& options) {
            auto context = std::make_shared<ShellContext>(clock, windowDisks);
            context->programFolder = options.context->programFolder;
            options.context = context;
            options.service = service;
            options.watch = &watch;
            options.desktopNotice = [this](const QString& line) { notices << line; };
            options.serviceCallsInline = callsInline;
            options.leftUpgradeFile = leftUpgradeFile;
            options.chooseFirmwareFile = [this](const QString&) { return chosen; };
        };
        MakeWindow();
    }
    // The watch as the service's signals keep it: what the stand-in serves
    // now, after each change it makes itself too.
    void Tell() {
        using Standing = client::EnclosureWatch::Standing;
        if (!service || !service->running) return watch.setEnclosures(Standing::NoService);
        watch.setEnclosures(Standing::Serving, service->Served().devices);
        if (!service->published)  // once, before any call thread reads it
            service->published = [this] { QMetaObject::invokeMethod(&watch, [this] { Tell(); }); };
    }
    // The service's name comes or goes, as the bus's watch tells it.
    void Appear() {
        service->running = true;
        watch.setEnclosures(client::EnclosureWatch::Standing::Asking);
        Q_EMIT watch.serviceAppeared();
        Tell();
    }
    void Vanish() {
        service->running = false;
        Q_EMIT watch.serviceVanished();
        Tell();
    }
    QString Text(const char* name) { return Find<QLabel>(name)->text(); }
    // The service's e-mail settings file, and the window's own, which a
    // client never opens.
    std::filesystem::path ServiceSettings() const {
        return logFolder.path / "service" / "settings.reg";
    }
    std::filesystem::path WindowSettings() const {
        return logFolder.path / "settings" / "settings.reg";
    }
    void StoreServiceSettings(mail::MailPageFields fields) {
        std::string error;
        ASSERT_TRUE(test_support::StoreMailSettings(ServiceSettings(), std::move(fields), error))
            << error;
    }
    // A client on an enclosure with the E-mail page, the page open.
    void OpenClientEmailPage() {
        AddEnclosure("noschedule");
        MakeClient();
        window->openEmailPage();
    }
    QLineEdit* Edit(const char* name) { return Find<QLineEdit>(name); }
    QString Panel(int i) {
        return Find<QLabel>(QString("statusPanel%1").arg(i).toLatin1().constData())->text();
    }
    QProgressBar* Bar() { return Find<QProgressBar>("upgradeProgressBar"); }
    void Click(const char* button) { QTest::mouseClick(Find<QWidget>(button), Qt::LeftButton); }
    // A client window on the Upgrade page, a firmware file loaded.
    void LoadFirmware() {
        MakeClient();
        window->openUpgradePage();
        Choose("fw.bin", raid::test_support::FirmwareFile({.size = 0x2000}));
        Click("loadFirmwareButton");
    }
    // `bytes` as the firmware file the Load button's dialog picks.
    void Choose(const char* name, const std::vector<std::uint8_t>& bytes) {
        raid::test_support::WriteFileBytes(logFolder.path / name, bytes);
        chosen = QString::fromStdString((logFolder.path / name).string());
    }
    std::vector<std::uint8_t> Flash() {
        return disks->Emulator(0)->WithModel([](const sim::Enclosure& m) { return m.spiFlash; });
    }
    bool Erased() {
        for (const auto& c : disks->Emulator(0)->ExecutedCommandBytes())
            if (c[0] == device::cmd::kEraseSpi) return true;
        return false;
    }
    bool Upgrading() { return window->context().state.shell.exclusiveOperation.load(); }
    // Turns the window's event loop until `done`, at most 10 s.
    bool Until(const std::function<bool()>& done) {
        QElapsedTimer waited;
        waited.start();
        while (!done() && waited.elapsed() < 10000) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return done();
    }
    int Pending(const char* calls) { return Find<ServiceCalls>(calls)->Pending(); }
    QCheckBox* Buzzer() { return Find<QCheckBox>("buzzerMuteBox"); }
    std::vector<std::uint8_t> Sent(std::initializer_list<std::uint8_t> codes) {
        std::vector<std::uint8_t> sent;
        for (std::uint8_t c : disks->Emulator(0)->ExecutedCommands())
            if (std::find(codes.begin(), codes.end(), c) != codes.end()) sent.push_back(c);
        return sent;
    }

    std::shared_ptr<UnopenedDisks> windowDisks = std::make_shared<UnopenedDisks>();
    std::shared_ptr<ServiceStandIn> service;
    client::EnclosureWatch watch;
    QStringList notices;  // desktop notices shown
    bool callsInline = true;
    QString chosen;
    std::filesystem::path leftUpgradeFile = logFolder.path / "state" / "left-upgrade";
};

const QString kSuccess = firmware::kSuccessText;

TEST_F(ClientModeTest, ThePagesShowWhatTheServiceServesAsTheyDoInProcess) {
    AddEnclosure("raid1");
    // The same enclosure drawn by a window of its own, in this process.
    MakeWindow();
    RunDiscovery();
    ServeRequests();
    std::map<std::string, QString> inProcess;
    const char* labels[] = {"arrayModeLabel", "configuredCapacityLabel", "healthLabel",
                            "hdd1ModelLabel", "hdd2ModelLabel",          "hdd1CapacityLabel",
                            "firmwareLabel"};
    for (const char* name : labels) inProcess[name] = Text(name);
    const QString title = window->windowTitle();
    window.reset();
    const std::string logged = DayFile();

    MakeClient();
    EXPECT_TRUE(window->clientMode());
    for (const char* name : labels) EXPECT_EQ(Text(name), inProcess[name]) << name;
    EXPECT_EQ(window->windowTitle(), title);
    EXPECT_TRUE(Find<QCheckBox>("device1Box")->isChecked());
    EXPECT_TRUE(Button("statusPageButton")->isEnabled());
    EXPECT_TRUE(window->accessNotice().isEmpty());

    // A member pulled: the service says its status changed, and the page
    // follows; its event line reaches the viewer's list.
    ASSERT_EQ(disks->Emulator(0)->Control("pull 2"), "");
    Tell();
    EXPECT_NE(Text("healthLabel"), inProcess["healthLabel"]);
    // Read from the watch: the window asks the service for no status.
    EXPECT_EQ(service->StatusCalls(), 0);
    Q_EMIT watch.eventLine("D1 HDD2 was removed, 00, 01/02/2026 10:00:00");
    Q_EMIT watch.eventLine("D1 HDD2 was inserted, 00, 01/02/2026 10:00:09");
    EXPECT_EQ(window->context().eventLog.eventLogLines.back(),
              "D1 HDD2 was inserted, 00, 01/02/2026 10:00:09");
    // The loss, not the return, is a desktop notice, in the log's words.
    EXPECT_EQ(notices, QStringList{"D1 HDD2 was removed, 00, 01/02/2026 10:00:00"});
    // Nothing of it was logged or mailed by the window: the service does.
    EXPECT_EQ(DayFile(), logged);
    EXPECT_EQ(windowDisks->opens, 0);
}

// Every named control of `page` as drawn: shown, enabled, place, hint and,
// as it has them, text, font colour, tick and list.
std::map<QString, QString> Drawn(QWidget* page) {
    std::map<QString, QString> drawn;
    for (QWidget* w : page->findChildren<QWidget*>()) {
        QString d = QString("hidden %1 enabled %2 at %3,%4 hint %5")
                        .arg(w->isHidden())
                        .arg(w->isEnabled())
                        .arg(w->x())
                        .arg(w->y())
                        .arg(w->toolTip());
        if (auto* label = qobject_cast<QLabel*>(w))
            d += " text " + label->text() + " colour " +
                 label->palette().color(QPalette::Active, QPalette::WindowText).name();
        if (auto* button = qobject_cast<QAbstractButton*>(w))
            d += " text " + button->text() + (button->isChecked() ? " ticked" : "");
        if (auto* list = qobject_cast<QComboBox*>(w)) {
            for (int i = 0; i < list->count(); ++i) d += " " + list->itemText(i);
            d += QString(" at %1").arg(list->currentIndex());
        }
        if (!w->objectName().isEmpty()) drawn[w->objectName()] = d;
    }
    return drawn;
}

// The service sends the engine's view over the bus: what the window draws
// from it there is what it draws from the same view in this process.
TEST_F(ClientModeTest, ThePagesDrawTheViewAlikeAfterTheWire) {
    const struct {
        const char* scenario;
        std::function<void(AppState&, Record512&)> edit;
    } cases[] = {
        {"rebuild", {}},
        {"failed", {}},
        {"degraded", {}},
        {"raid1",
         [](AppState& s, Record512& r) {
             r[rec::kEnvironment] = 0xA5;  // fan failure and over temperature
             s.discovery.deviceSlots[0].optionChangePending = 1;
         }},
        {"nosensors", {}},
        {"portmultiplier", {}},
        {"portmultiplier", [](AppState&, Record512& r) { r[rec::kRebuildFlags] = 0x02; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        disks = std::make_shared<sim::SimDiskSystem>();
        configureOptions = nullptr;
        AddEnclosure(c.scenario);
        MakeWindow();
        RunDiscovery();
        ServeRequests();
        AppState& s = window->state();
        if (c.edit)
            c.edit(s,
                   s.monitor.deviceStatusRecord[static_cast<std::size_t>(s.discovery.DiskOf(0))]);
        window->RefreshStatusPage(true);
        const auto status = Drawn(&window->statusPage());
        const QString title = window->windowTitle();
        const int pageButtons = window->lastPageMask();
        window->openSetupPage();
        const auto setup = Drawn(&window->setupPage());
        const auto sent = client::DecodeStatus(client::EncodeStatus(window->deviceView(0)));
        ASSERT_TRUE(sent);
        window.reset();

        service = std::make_shared<ServiceStandIn>(*disks, *clock, ServiceSettings().string());
        service->served = std::vector<client::DeviceStatus>{*sent};
        MakeClient();
        ASSERT_TRUE(window->clientMode());
        EXPECT_EQ(Drawn(&window->statusPage()), status);
        EXPECT_EQ(window->windowTitle(), title);
        EXPECT_EQ(int{window->lastPageMask()}, pageButtons);
        window->openSetupPage();
        EXPECT_EQ(Drawn(&window->setupPage()), setup);
        window.reset();
    }
}

TEST_F(ClientModeTest, TheBuzzerBoxAsksTheServiceAndARefusalLeavesItAsItWas) {
    AddEnclosure("raid1");  // the buzzer sounds
    MakeClient();
    ASSERT_FALSE(Buzzer()->isHidden());
    ASSERT_FALSE(Buzzer()->isChecked());

    Buzzer()->click();
    EXPECT_EQ(service->Calls(), std::vector<std::string>{"SetBuzzer 0 mute"});
    EXPECT_EQ(Sent({0x70, 0x71}), std::vector<std::uint8_t>{0x70});
    EXPECT_TRUE(Buzzer()->isChecked());
    EXPECT_TRUE(Buzzer()->isEnabled());
    EXPECT_TRUE(sink.boxes.empty());

    service->refusals["SetBuzzer"] = {client::kNotAuthorized,
                                      {"not authorized: the administrator's password is needed"}};
    Buzzer()->click();
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, "not authorized: the administrator's password is needed");
    EXPECT_TRUE(sink.boxes[0].warning);
    EXPECT_TRUE(Buzzer()->isChecked());  // still muted, as the enclosure is
    EXPECT_TRUE(Buzzer()->isEnabled());
    EXPECT_EQ(Sent({0x70, 0x71}), std::vector<std::uint8_t>{0x70});
    EXPECT_EQ(windowDisks->opens, 0);
}

TEST_F(ClientModeTest, TheSetupPageSetsThePeriodThroughTheService) {
    AddEnclosure("raid1");
    MakeClient();
    window->openSetupPage();
    Find<QRadioButton>("userPeriodButton")->setChecked(true);
    Find<QComboBox>("periodDaysBox")->setCurrentIndex(3);
    Find<QComboBox>("periodHoursBox")->setCurrentIndex(0);
    QTest::mouseClick(Button("applyPeriodButton"), Qt::LeftButton);
    EXPECT_EQ(service->Calls(), std::vector<std::string>{"SetBackupPeriod 0 preset 0 user 3d0h"});
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, "Schedule Backup Setting OK!");
    EXPECT_EQ(Text("backupPeriodLabel"), "Schedule Backup Period(Setted): 3 days");

    service->refusals["SetBackupPeriod"] = {client::kBusy, {"busy: Device1 is being flashed"}};
    Find<QComboBox>("periodDaysBox")->setCurrentIndex(5);
    QTest::mouseClick(Button("applyPeriodButton"), Qt::LeftButton);
    ASSERT_EQ(sink.boxes.size(), 2u);
    EXPECT_EQ(sink.boxes[1].text, "busy: Device1 is being flashed");
    EXPECT_TRUE(sink.boxes[1].warning);
    EXPECT_EQ(Text("backupPeriodLabel"), "Schedule Backup Period(Setted): 3 days");
    EXPECT_FALSE(window->setupPage().settingBusy());
}

TEST_F(ClientModeTest, WithoutTheServiceTheWindowSaysWhatToDoAndGoesOnWhenItComes) {
    AddEnclosure("raid1");
    MakeClient();
    Vanish();
    EXPECT_TRUE(window->accessNotice().contains("sudo systemctl start raid-monitor"))
        << window->accessNotice().toStdString();
    EXPECT_TRUE(Find<QCheckBox>("device1Box")->isHidden());
    EXPECT_FALSE(Button("statusPageButton")->isEnabled());

    Appear();
    EXPECT_TRUE(window->accessNotice().isEmpty());
    EXPECT_TRUE(Find<QCheckBox>("device1Box")->isChecked());
    EXPECT_EQ(windowDisks->opens, 0);
}

TEST_F(ClientModeTest, TheEmailPageShowsTheServicesSettingsWhenItOpensThePasswordOnlyAsStored) {
    mail::MailPageFields fields = test_support::LoopbackPageFields(2525);
    fields.authentication = true;
    fields.settings.security = mail::Security::StartTls;
    fields.suppressDeviceRemoved = true;
    fields.events[0].subject = {"Disk lost"};
    fields.events[0].body = {"Replace it.", "Soon."};
    StoreServiceSettings(fields);
    AddEnclosure("noschedule");
    MakeClient();
    // Not at start-up: reading them may ask for a password.
    EXPECT_TRUE(service->Calls().empty());

    window->openEmailPage();
    EXPECT_EQ(service->Calls(), std::vector<std::string>{"MailSettings"});
    EXPECT_EQ(Edit("hostEdit")->text(), "127.0.0.1");
    EXPECT_EQ(Edit("portEdit")->text(), "2525");
    EXPECT_EQ(Edit("senderNameEdit")->text(), "RAID Box");
    EXPECT_EQ(Edit("accountEdit")->text(), "raid");
    EXPECT_EQ(Find<QComboBox>("securityBox")->currentText(), "STARTTLS");
    EXPECT_TRUE(Find<QCheckBox>("authenticationBox")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("diskFailSuppressBox")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("deviceRemovedSuppressBox")->isChecked());
    EXPECT_EQ(Edit("diskFailSubjectEdit")->text(), "Disk lost");
    EXPECT_EQ(Find<QTableWidget>("deviceRemovedAddressGrid")->item(1, 0)->text(),
              "boss@example.com");
    EXPECT_EQ(Edit("passwordEdit")->text(), "");
    EXPECT_EQ(Edit("passwordEdit")->placeholderText(), "(stored)");
    // The texts stay in their files, said where.
    auto* memo = Find<QPlainTextEdit>("diskFailContentsMemo");
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_TRUE(memo->placeholderText().contains(
        QString::fromStdString((ServiceSettings().parent_path() / "").string())))
        << memo->placeholderText().toStdString();
    EXPECT_TRUE(memo->placeholderText().contains("(2 lines)"));
    EXPECT_EQ(window->mailSettings().pageChangedBits, 0);
    EXPECT_TRUE(Find<QPushButton>("emailOkButton")->isEnabled());
    EXPECT_TRUE(sink.boxes.empty());
    EXPECT_FALSE(std::filesystem::exists(WindowSettings()));
}

TEST_F(ClientModeTest, OkStoresOnlyWhatWasChangedThroughTheService) {
    StoreServiceSettings(test_support::LoopbackPageFields(2525));
    OpenClientEmailPage();
    const std::string stored = test_support::ReadFile(ServiceSettings());

    // Nothing changed, or a change typed back: nothing to store.
    Click("emailOkButton");
    Edit("hostEdit")->setText("mail.example.com");
    Edit("hostEdit")->setText("127.0.0.1");
    Click("emailOkButton");
    EXPECT_EQ(service->Calls(), std::vector<std::string>{"MailSettings"});

    Edit("hostEdit")->setText("mail.example.com");
    Find<QCheckBox>("authenticationBox")->setChecked(true);
    Edit("passwordEdit")->setText("n3w");
    Find<QCheckBox>("diskFailSuppressBox")->setChecked(true);
    Click("emailOkButton");
    EXPECT_EQ(service->Calls(),
              (std::vector<std::string>{
                  "MailSettings", "SetMailSettings Authentication DiskFailMailed Host Password",
                  "MailSettings"}));
    EXPECT_EQ(service->mailChanges.password, "n3w");
    EXPECT_TRUE(sink.boxes.empty());
    // The page shows what the service stored now, the password as stored.
    EXPECT_EQ(Edit("hostEdit")->text(), "mail.example.com");
    EXPECT_EQ(Edit("passwordEdit")->text(), "");
    EXPECT_EQ(Edit("passwordEdit")->placeholderText(), "(stored)");
    EXPECT_NE(test_support::ReadFile(ServiceSettings()), stored);

    // The rest is as it was stored.
    mail::SettingsStore store(ServiceSettings());
    mail::MailSettingsState state;
    ShellFlags flags;
    ASSERT_FALSE(mail::LoadMailSettings(store, state, flags));
    EXPECT_EQ(state.settings.password, "n3w");
    EXPECT_EQ(state.authState, mail::kAuthOn);
    EXPECT_EQ(state.settings.senderName, "RAID Box");
    EXPECT_EQ(state.settings.port, "2525");
    EXPECT_EQ(state.recipients, (std::vector<std::string>{"ops@example.com", "boss@example.com"}));
    EXPECT_EQ(state.suppressMask, 1u);
    EXPECT_FALSE(std::filesystem::exists(WindowSettings()));
}

TEST_F(ClientModeTest, TheFirstOkThroughTheServiceStoresTheFirstSettings) {
    OpenClientEmailPage();
    EXPECT_EQ(Edit("portEdit")->text(), "25");
    EXPECT_EQ(Edit("timeOutEdit")->text(), "0");
    EXPECT_EQ(Edit("passwordEdit")->placeholderText(), "(none stored)");
    Click("emailTestButton");
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, "E-Mail setting isn't ready!");

    Edit("hostEdit")->setText("mail.example.com");
    Edit("senderAddressEdit")->setText("raid@example.com");
    Click("emailOkButton");
    // All the page holds: the service has nothing to keep.
    ASSERT_EQ(service->Calls().size(), 3u);
    EXPECT_EQ(service->Calls()[1],
              "SetMailSettings Account Authentication DeviceRemovedMailed DeviceRemovedSubject "
              "DiskFailMailed DiskFailSubject Host Port Recipients RequireTLS Security "
              "SenderAddress SenderName TimeOut");
    EXPECT_EQ(sink.boxes.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(ServiceSettings()));
    EXPECT_EQ(Edit("hostEdit")->text(), "mail.example.com");
    EXPECT_EQ(Edit("portEdit")->text(), "25");
    EXPECT_EQ(Edit("passwordEdit")->placeholderText(), "(none stored)");
    EXPECT_FALSE(std::filesystem::exists(WindowSettings()));
}

TEST_F(ClientModeTest, TestSendsThroughTheServiceAndItsEndShowsAsInProcess) {
    // Nothing listens on port 1 of the loopback address.
    StoreServiceSettings(test_support::LoopbackPageFields(1, "2"));
    OpenClientEmailPage();
    Edit("senderNameEdit")->setText("Changed");
    Click("emailTestButton");
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text,
              "E-Mail setting was changed, please click \"OK\" or \"Ignore\" button first!");
    Click("emailIgnoreButton");

    client::TestMailAnswer sent;
    sent.warnings = {"The password went unencrypted: no STARTTLS"};
    sent.sentTo = "raid@example.com";
    service->testMail = sent;
    Click("emailTestButton");
    EXPECT_EQ(service->Calls(), (std::vector<std::string>{"MailSettings", "SendTestMail"}));
    ASSERT_EQ(sink.boxes.size(), 2u);
    EXPECT_EQ(sink.boxes[1].text,
              "Send mail Success!\n\nThe password went unencrypted: no STARTTLS");
    EXPECT_EQ(sink.boxes[1].caption, "E-Mail Message");

    service->testMail.reset();
    Click("emailTestButton");
    ASSERT_EQ(sink.boxes.size(), 3u);
    EXPECT_EQ(sink.boxes[2].caption, "Error");
    EXPECT_TRUE(sink.boxes[2].text.startsWith("the test mail was not sent: "))
        << sink.boxes[2].text.toStdString();

    service->refusals["SendTestMail"] = {client::kBusy, {"a test mail is being sent"}};
    Click("emailTestButton");
    ASSERT_EQ(sink.boxes.size(), 4u);
    EXPECT_EQ(sink.boxes[3].text, "a test mail is being sent");
    EXPECT_TRUE(sink.boxes[3].warning);
    EXPECT_FALSE(std::filesystem::exists(WindowSettings()));
}

TEST_F(ClientModeTest, ARefusedReadOrSaveIsToldAndThePageKeepsWhatItShowed) {
    StoreServiceSettings(test_support::LoopbackPageFields(2525));
    AddEnclosure("noschedule");
    MakeClient();
    service->refusals["MailSettings"] = {
        client::kNotAuthorized, {"not authorized: the administrator's password is needed"}};
    window->openEmailPage();
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, "not authorized: the administrator's password is needed");
    EXPECT_TRUE(sink.boxes[0].warning);
    // Empty, disabled, and saying why.
    EXPECT_TRUE(Find<QStackedWidget>("emailSubPages")->isHidden());
    EXPECT_EQ(Edit("hostEdit")->text(), "");
    for (const char* button : {"emailOkButton", "emailTestButton", "emailIgnoreButton"})
        EXPECT_FALSE(Find<QPushButton>(button)->isEnabled()) << button;
    EXPECT_TRUE(Text("emailServiceNoticeLabel")
                    .contains("not authorized: the administrator's password is needed"));
    window->emailPage().save();
    EXPECT_EQ(service->Calls(), std::vector<std::string>{"MailSettings"});

    service->refusals.clear();
    window->openEmailPage();
    EXPECT_EQ(Edit("hostEdit")->text(), "127.0.0.1");
    EXPECT_TRUE(Find<QLabel>("emailServiceNoticeLabel")->isHidden());
    const std::string stored = test_support::ReadFile(ServiceSettings());

    // A refused save leaves what was typed, for OK once more.
    service->refusals["SetMailSettings"] = {client::kBusy, {"busy: try again later"}};
    Edit("hostEdit")->setText("mail.example.com");
    Click("emailOkButton");
    ASSERT_EQ(sink.boxes.size(), 2u);
    EXPECT_EQ(sink.boxes[1].text, "busy: try again later");
    EXPECT_TRUE(sink.boxes[1].warning);
    EXPECT_EQ(Edit("hostEdit")->text(), "mail.example.com");
    EXPECT_TRUE(Find<QPushButton>("emailOkButton")->isEnabled());
    EXPECT_TRUE(window->emailPage().isEnabled());

    service->running = false;
    Click("emailOkButton");
    ASSERT_EQ(sink.boxes.size(), 3u);
    EXPECT_EQ(sink.boxes[2].text,
              "the service org.raidenclosure.Manager1 did not answer: not running");
    EXPECT_EQ(Edit("hostEdit")->text(), "mail.example.com");
    EXPECT_EQ(test_support::ReadFile(ServiceSettings()), stored);
    EXPECT_FALSE(std::filesystem::exists(WindowSettings()));
}

}  // namespace
}  // namespace raid::app::test

namespace raid::app::test {
namespace {

TEST_F(ClientModeTest, AWindowWithTheEnclosuresHandsThemOverWhenTheServiceAppears) {
    AddEnclosure("raid1");
    service = std::make_shared<ServiceStandIn>(*disks, *clock, ServiceSettings().string());
    int released = 0;
    configureOptions = [&](MainWindowOptions& options) {
        options.watch = &watch;
        options.serviceCallsInline = true;
        options.reachService = [&] { return service; };
        options.releaseMachineLock = [&] { ++released; };
    };
    MakeWindow();
    RunDiscovery();
    ServeRequests();
    ASSERT_FALSE(window->clientMode());
    const QString health = Text("healthLabel");

    Appear();
    EXPECT_TRUE(window->clientMode());
    EXPECT_EQ(released, 1);
    EXPECT_FALSE(Find<QTimer>("pollTimer")->isActive());
    // From now on the page is the service's.
    ASSERT_EQ(disks->Emulator(0)->Control("pull 2"), "");
    Tell();
    EXPECT_NE(Text("healthLabel"), health);
    // A second appearance changes nothing.
    Appear();
    EXPECT_EQ(released, 1);
}

// Root's window without the service reaches the engine in this process
// through the same seam: the engine's discovery and polls show in the status
// bar and the detection line, a selector asks the engine to stop polling,
// and the engine stops (after an upgrade, never during one) when the service
// appears.
TEST_F(ClientModeTest, RootsWindowReachesTheEngineInThisProcessAndHandsItToTheService) {
    AddEnclosure("raid1");
    AddEnclosure("raid0");
    service = std::make_shared<ServiceStandIn>(*disks, *clock, ServiceSettings().string());
    service::InProcessEngine* engine = nullptr;
    int released = 0;
    configureOptions = [&](MainWindowOptions& options) {
        options.watch = &watch;
        options.serviceCallsInline = true;
        options.reachService = [&] { return service; };
        options.releaseMachineLock = [&] { ++released; };
        options.chooseFirmwareFile = [this](const QString&) { return chosen; };
        options.openEngine = [&] {
            service::InProcessSetup setup{*disks, *clock, logFolder.path, {}, {}, {}, 5000,
                                          nullptr};
            setup.manual = true;
            setup.discoverInTurns = true;
            setup.mail = service::MonitorOptions::Mail{WindowSettings().string(), {}};
            auto made = std::make_unique<service::InProcessEngine>(std::move(setup));
            engine = made.get();
            return made;
        };
    };
    MakeWindow();
    ASSERT_TRUE(window->localEngine());
    ASSERT_NE(engine, nullptr);
    // The window's calls run at once and turn the engine while they wait.
    const auto turn = [&](int ms) {
        clock->Advance(ms);
        engine->Turn();
        QCoreApplication::processEvents();
    };
    QCoreApplication::processEvents();
    EXPECT_EQ(Text("detectionNotice"), "Drive detecting");
    EXPECT_TRUE(Find<QLabel>("detectionNotice")->isVisibleTo(window.get()));
    turn(0);
    turn(500);
    EXPECT_EQ(Panel(1), "Detected OK");
    EXPECT_FALSE(Find<QLabel>("detectionNotice")->isVisibleTo(window.get()));
    ASSERT_TRUE(Find<QCheckBox>("device2Box")->isChecked());
    turn(5000);
    EXPECT_EQ(Panel(1).left(3), "y3,");
    EXPECT_EQ(Text("healthLabel"), "Normal");

    // Unticked, Device2 is no longer polled.
    QTest::mouseClick(Find<QCheckBox>("device2Box"), Qt::LeftButton, {}, QPoint(5, 10));
    ASSERT_FALSE(Find<QCheckBox>("device2Box")->isChecked());
    turn(0);
    const auto sentToDevice2 = disks->Emulator(1)->ExecutedCommands().size();
    turn(5000);
    turn(5000);
    EXPECT_EQ(disks->Emulator(1)->ExecutedCommands().size(), sentToDevice2);
    EXPECT_GT(disks->Emulator(0)->ExecutedCommands().size(), 0u);

    // The E-mail page edits the settings file here, as without an engine,
    // and the engine reads it again.
    window->openEmailPage();
    EXPECT_FALSE(Find<QLabel>("emailServiceNoticeLabel")->isVisibleTo(window.get()));
    Edit("hostEdit")->setText("127.0.0.1");
    Edit("senderAddressEdit")->setText("raid@example.com");
    Find<QPushButton>("emailOkButton")->click();
    EXPECT_TRUE(sink.boxes.empty()) << sink.boxes.front().text.toStdString();
    EXPECT_EQ(window->mailSettings().settings.host, "127.0.0.1");
    const auto stored = engine->Access()->MailSettings({});
    EXPECT_EQ(stored.settings.host, "127.0.0.1");

    // An upgrade is the engine's job, told on the page as the service's is;
    // the window does not close during it.
    window->openUpgradePage();
    Choose("fw.bin", raid::test_support::FirmwareFile({.size = 0x2000}));
    Click("loadFirmwareButton");
    const auto image = window->context().firmware.image.bytes;
    ASSERT_FALSE(image.empty());
    bool closed = true;
    sink.onBox = [&] {
        // Once, at the success box: the upgrade has not let go yet.
        if (!closed) return;
        closed = window->close();
    };
    Click("startUpgradeButton");
    sink.onBox = nullptr;
    EXPECT_FALSE(closed);
    ASSERT_EQ(sink.boxes.size(), 2u);
    EXPECT_EQ(sink.boxes[0].text, kSuccess);
    EXPECT_EQ(sink.boxes[1].text, "Firmware is upgrading, please wait a moment.");
    EXPECT_FALSE(Upgrading());
    const auto flash = Flash();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));

    // The service appears: the engine stops at its next turn and the
    // window becomes the service's client.
    Appear();
    EXPECT_TRUE(window->localEngine());
    engine->Turn();
    Find<QTimer>("handOverTimer")->setInterval(0);
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->localEngine());
    EXPECT_TRUE(window->clientMode());
    EXPECT_EQ(released, 1);
}

}  // namespace
}  // namespace raid::app::test

namespace raid::app::test {
namespace {

TEST_F(ClientModeTest, TheEventLogIsTheServicesTodayAndItsDayFiles) {
    AddEnclosure("raid1");
    service = std::make_shared<ServiceStandIn>(*disks, *clock, ServiceSettings().string());
    const std::string today = text::FileDateText(clock->WallNow()) + ".log";
    service->dayFiles = {{"200101.log", "D1 HDD1 was removed, 04\r\nolder line\r\n"},
                         {today, "first line of today\r\nsecond line\r\n"}};
    QStringList offered;
    configureOptions = [&](MainWindowOptions& options) {
        auto context = std::make_shared<ShellContext>(clock, windowDisks);
        options.context = context;
        options.service = service;
        options.watch = &watch;
        options.serviceCallsInline = true;
        options.chooseDayFile = [&](const QStringList& names) {
            offered = names;
            return names.last();
        };
    };
    Tell();
    MakeWindow();
    // Today's lines so far, as the service logged them before the window came.
    EXPECT_EQ(window->context().eventLog.eventLogLines,
              (std::vector<std::string>{"first line of today", "second line"}));

    QString shown;
    onModal = [&](QDialog& dialog) {
        auto& viewer = static_cast<EventLogViewer&>(dialog);
        viewer.viewLogFile();
        shown = viewer.findChild<QPlainTextEdit*>("logView")->toPlainText();
        return 0;
    };
    window->openEventLog();
    EXPECT_EQ(offered, (QStringList{QString::fromStdString(today), "200101.log"}));
    EXPECT_TRUE(shown.contains("older line")) << shown.toStdString();
    EXPECT_EQ(windowDisks->opens, 0);
}

}  // namespace
}  // namespace raid::app::test

namespace raid::app::test {
namespace {

TEST_F(ClientModeTest, AWindowInThisProcessGivesTheSameDesktopNotice) {
    AddEnclosure("raid1");
    configureOptions = [this](MainWindowOptions& options) {
        options.desktopNotice = [this](const QString& line) { notices << line; };
    };
    MakeWindow();
    RunDiscovery();
    ServeRequests();
    ASSERT_EQ(disks->Emulator(0)->Control("pull 1"), "");
    window->onPollTick();
    window->onPollTick();
    ServeRequests();
    ASSERT_EQ(notices.size(), 1);
    EXPECT_TRUE(notices[0].startsWith("D1 HDD1 was removed, ")) << notices[0].toStdString();
    const auto& lines = window->context().eventLog.eventLogLines;
    EXPECT_NE(std::find(lines.begin(), lines.end(), notices[0].toStdString()), lines.end());
}

}  // namespace
}  // namespace raid::app::test

namespace raid::app::test {
namespace {

TEST_F(ClientModeTest, RootsClientDrivesTheEnclosuresItselfWhenTheServiceStopsAndBackAgain) {
    AddEnclosure("raid1");
    service = std::make_shared<ServiceStandIn>(*disks, *clock, ServiceSettings().string());
    int taken = 0;
    int released = 0;
    configureOptions = [&](MainWindowOptions& options) {
        options.service = service;
        options.watch = &watch;
        options.serviceCallsInline = true;
        options.reachService = [&] { return service; };
        options.takeMachineLock = [&] { return ++taken > 0; };
        options.releaseMachineLock = [&] { ++released; };
    };
    Tell();
    MakeWindow();
    ASSERT_TRUE(window->clientMode());
    const auto before = disks->Emulator(0)->ExecutedCommands().size();

    Vanish();
    EXPECT_FALSE(window->clientMode());
    EXPECT_EQ(taken, 1);
    EXPECT_TRUE(window->accessNotice().isEmpty());
    // Its own discovery and polls find the enclosure again.
    RunDiscovery();
    ServeRequests();
    EXPECT_TRUE(Find<QCheckBox>("device1Box")->isChecked());
    EXPECT_GT(disks->Emulator(0)->ExecutedCommands().size(), before);

    Appear();
    EXPECT_TRUE(window->clientMode());
    EXPECT_EQ(released, 1);
}

TEST_F(ClientModeTest, LoadReadsTheFileHereAndTheServiceChecksIt) {
    AddEnclosure("raid1");
    LoadFirmware();
    EXPECT_EQ(service->Calls(), std::vector<std::string>{"CheckFirmware 0"});
    EXPECT_EQ(Panel(4), "File:" + chosen);
    EXPECT_TRUE(Panel(0).startsWith("Chksum:")) << Panel(0).toStdString();
    EXPECT_EQ(Panel(2), "F:10012601");
    EXPECT_EQ(Panel(3), "C:14010100");
    EXPECT_TRUE(sink.boxes.empty());
    EXPECT_EQ(window->context().firmware.image.bytes,
              raid::test_support::FirmwareFile({.size = 0x2000}));

    // The service's refusal as the window's own; no image is left loaded.
    Choose("bad.bin", raid::test_support::FirmwareFile({.size = 0x2000, .guid = false}));
    Click("loadFirmwareButton");
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, "Threr are GUID error in the firmware file.\nPlease check it.");
    EXPECT_EQ(sink.boxes[0].caption, "Error");
    EXPECT_FALSE(window->context().firmware.image.Loaded());

    // A file the user cannot read never reaches the service.
    chosen = QString::fromStdString((logFolder.path / "missing.bin").string());
    Click("loadFirmwareButton");
    ASSERT_EQ(sink.boxes.size(), 2u);
    EXPECT_EQ(sink.boxes[1].text, "Fail to open firmware file");
    EXPECT_EQ(service->Calls().size(), 2u);

    // A check the service cannot make says why.
    service->refusals["CheckFirmware"] = {client::kBusy, {"busy: Device1 is being flashed"}};
    Choose("fw.bin", raid::test_support::FirmwareFile({.size = 0x2000}));
    Click("loadFirmwareButton");
    ASSERT_EQ(sink.boxes.size(), 3u);
    EXPECT_EQ(sink.boxes[2].text, "busy: Device1 is being flashed");
    EXPECT_TRUE(sink.boxes[2].warning);
    EXPECT_FALSE(window->context().firmware.image.Loaded());
    EXPECT_EQ(windowDisks->opens, 0);
}

TEST_F(ClientModeTest, StartAsksTheServiceToFlashAndItsStepsDriveThePage) {
    AddEnclosure("raid1");
    LoadFirmware();
    const auto image = window->context().firmware.image.bytes;
    ASSERT_FALSE(image.empty());

    struct During {
        QString step, state;
        bool stepShown = false, selectorsEnabled = true;
        int maximum = 0, page = -1;
    } during;
    service->duringFlash = [&] {
        during.step = Text("upgradeStepLabel");
        during.state = Text("upgradeStateLabel");
        during.stepShown = !Find<QFrame>("upgradeStepPanel")->isHidden();
        during.maximum = Bar()->maximum();
        during.selectorsEnabled = Find<QCheckBox>("device1Box")->isEnabled();
        Click("startUpgradeButton");
        Click("loadFirmwareButton");
        Click("statusPageButton");
        during.page = window->CurrentPage();
    };
    Click("startUpgradeButton");

    EXPECT_EQ(service->Calls(),
              (std::vector<std::string>{"CheckFirmware 0", "Flash 0 interactive"}));
    EXPECT_EQ(during.step, "Process 1 / 3");
    EXPECT_EQ(during.state, "Firmware Update...");
    EXPECT_TRUE(during.stepShown);
    EXPECT_EQ(during.maximum, 136);  // the job's steps: 8 erase steps, 64 chunks written and read
    EXPECT_FALSE(during.selectorsEnabled);
    EXPECT_EQ(during.page, kPageUpgrade);

    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, kSuccess);
    EXPECT_EQ(sink.boxes[0].caption, "Firmware Upgrade Message");
    EXPECT_TRUE(sink.boxes[0].warning);
    EXPECT_EQ(Panel(4), "SPI Verify OK");
    EXPECT_EQ(Bar()->value(), 136);
    EXPECT_TRUE(Find<QFrame>("upgradeStepPanel")->isHidden());
    EXPECT_FALSE(window->findChild<QTimer*>("progressTimer")->isActive());
    EXPECT_TRUE(Find<QCheckBox>("device1Box")->isEnabled());
    EXPECT_FALSE(Upgrading());
    const auto flash = Flash();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    EXPECT_EQ(windowDisks->opens, 0);
}

TEST_F(ClientModeTest, ARefusedFlashSaysWhyAndLeavesThePageAndTheImageAsTheyWere) {
    AddEnclosure("raid1");
    LoadFirmware();
    const auto image = window->context().firmware.image.bytes;
    const auto before = Flash();
    const QString state = Text("upgradeStateLabel"), panel = Panel(4);
    const int value = Bar()->value(), maximum = Bar()->maximum();

    service->refusals["Flash"] = {client::kNotAuthorized,
                                  {"not authorized: the administrator's password is needed"}};
    Click("startUpgradeButton");
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, "not authorized: the administrator's password is needed");
    EXPECT_TRUE(sink.boxes[0].warning);
    EXPECT_EQ(window->context().firmware.image.bytes, image);
    EXPECT_EQ(Text("upgradeStateLabel"), state);
    EXPECT_EQ(Panel(4), panel);
    EXPECT_EQ(Bar()->value(), value);
    EXPECT_EQ(Bar()->maximum(), maximum);
    EXPECT_TRUE(Find<QCheckBox>("device1Box")->isEnabled());
    EXPECT_FALSE(Upgrading());
    EXPECT_FALSE(Erased());
    EXPECT_EQ(Flash(), before);

    // Allowed now: the same page starts it.
    service->refusals.clear();
    Click("startUpgradeButton");
    EXPECT_EQ(sink.boxes.back().text, kSuccess);
}

TEST_F(ClientModeTest, TheFlashRunsBesideTheWatchAndItsStepsReachTheWindowsThread) {
    AddEnclosure("raid1");
    callsInline = false;
    MakeClient();
    ASSERT_TRUE(Until([&] { return Button("upgradePageButton")->isEnabled(); }));
    window->openUpgradePage();
    Choose("fw.bin", raid::test_support::FirmwareFile({.size = 0x2000}));
    Click("loadFirmwareButton");
    ASSERT_TRUE(Until([&] { return window->context().firmware.image.Loaded(); }));

    service->flashHeld = true;
    Click("startUpgradeButton");
    ASSERT_TRUE(Until([&] { return Bar()->value() == 8; }));
    EXPECT_EQ(Text("upgradeStepLabel"), "Process 1 / 3");
    // The flash call is still under way; the window takes the watch's news
    // meanwhile.
    const auto records = window->context().state.monitor.deviceStatusRecord;
    ASSERT_EQ(disks->Emulator(0)->Control("pull 2"), "");
    Tell();
    EXPECT_NE(window->context().state.monitor.deviceStatusRecord, records);
    EXPECT_EQ(Pending("flashCalls"), 1);
    EXPECT_TRUE(Upgrading());

    service->finishHeld = true;
    ASSERT_TRUE(Until([&] { return !Upgrading(); }));
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, kSuccess);
    EXPECT_EQ(Bar()->value(), 136);
}

TEST_F(ClientModeTest, ClosingDuringAFlashSaysItGoesOnAndCloses) {
    AddEnclosure("raid1");
    service = std::make_shared<ServiceStandIn>(*disks, *clock, ServiceSettings().string());
    const std::pair<const char*, std::function<void(MainWindow&)>> ways[] = {
        {"close", [](MainWindow& w) { w.close(); }},
        {"logout", [](MainWindow& w) { EXPECT_TRUE(w.queryEndSession()); }},
        {"SIGTERM", [](MainWindow& w) { w.onTerminationSignal(SIGTERM); }}};
    for (const auto& [name, closeWindow] : ways) {
        SCOPED_TRACE(name);
        sink.boxes.clear();
        service->detached = false;
        std::filesystem::remove(leftUpgradeFile);
        LoadFirmware();
        service->flashHeld = true;
        bool openWhileRunning = false;
        service->duringFlash = [&, closeWindow = closeWindow] {
            openWhileRunning = window->isVisible() && Upgrading();
            closeWindow(*window);
        };
        window->show();
        Click("startUpgradeButton");

        EXPECT_TRUE(openWhileRunning);
        EXPECT_FALSE(window->isVisible());
        EXPECT_TRUE(service->detached);
        // A box only for the user who closed it: a signal or the session's
        // end may have nobody to dismiss one.
        if (std::string(name) == "close") {
            ASSERT_EQ(sink.boxes.size(), 1u);
            EXPECT_TRUE(sink.boxes[0].text.contains("goes on in the monitor service"))
                << sink.boxes[0].text.toStdString();
            EXPECT_TRUE(sink.boxes[0].text.contains("'raidctl jobs' tells how it ended"));
        } else {
            EXPECT_TRUE(sink.boxes.empty());
        }
        // Noted, for the next window to tell how it ended.
        EXPECT_EQ(raid::test_support::ReadFileBytes(leftUpgradeFile).size(),
                  std::string(ServiceStandIn::kJob).size() + 3);
        window.reset();
    }

    // It has ended since: the next window says how, once.
    service->flashHeld = false;
    service->jobs = {{ServiceStandIn::kJob,
                      0,
                      true,
                      7,
                      {"SPI Verify fail !!!: the flash is in an unknown state: do not unplug, "
                       "run flash again"},
                      136,
                      136}};
    sink.boxes.clear();
    MakeClient();
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text,
              "SPI Verify fail !!!: the flash is in an unknown state: do not unplug, run flash "
              "again");
    EXPECT_EQ(sink.boxes[0].caption, "Message");
    EXPECT_FALSE(Upgrading());
    EXPECT_FALSE(std::filesystem::exists(leftUpgradeFile));
    window.reset();
    MakeClient();
    EXPECT_EQ(sink.boxes.size(), 1u);
}

TEST_F(ClientModeTest, AWindowOpenedWhileTheServiceUpgradesFollowsItToItsEnd) {
    AddEnclosure("raid1");
    AddEnclosure("raid0");
    service = std::make_shared<ServiceStandIn>(*disks, *clock, ServiceSettings().string());
    service->jobs = {{"/org/raidenclosure/Manager1/jobs/3", 1, false, 0, {}, 40, 136}};
    MakeClient();
    EXPECT_EQ(window->CurrentPage(), kPageUpgrade);
    EXPECT_EQ(window->selectedUpgradeDevice(), 1);
    EXPECT_EQ(Text("upgradeStateLabel"), "Firmware Update...");
    EXPECT_EQ(Bar()->maximum(), 136);
    EXPECT_EQ(Bar()->value(), 40);
    EXPECT_TRUE(Panel(4).startsWith("Device2: the monitor service upgrades its firmware"))
        << Panel(4).toStdString();
    EXPECT_TRUE(Upgrading());
    EXPECT_FALSE(Find<QCheckBox>("device1Box")->isEnabled());
    Click("statusPageButton");
    Click("loadFirmwareButton");
    EXPECT_EQ(window->CurrentPage(), kPageUpgrade);
    EXPECT_TRUE(window->findChild<QTimer*>("progressTimer")->isActive());

    service->jobs[0].progress = 100;
    window->onProgressTick();
    EXPECT_EQ(Bar()->value(), 100);
    EXPECT_TRUE(sink.boxes.empty());

    service->jobs[0].progress = 136;
    service->jobs[0].finished = true;
    window->onProgressTick();
    window->onProgressTick();
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, kSuccess);
    EXPECT_EQ(Bar()->value(), 136);
    EXPECT_FALSE(Upgrading());
    EXPECT_TRUE(Find<QCheckBox>("device1Box")->isEnabled());
    Click("statusPageButton");
    EXPECT_EQ(window->CurrentPage(), kPageStatus);
    EXPECT_EQ(service->Calls(), std::vector<std::string>{});

    // A window opened later does not tell a job it did not leave.
    window.reset();
    MakeClient();
    EXPECT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(window->CurrentPage(), kPageStatus);

    // The service ends during a job the window follows: the job's end is
    // unknown, said so, and the page is free again.
    service->jobs = {{"/org/raidenclosure/Manager1/jobs/4", 0, false, 0, {}, 20, 136}};
    window.reset();
    sink.boxes.clear();
    MakeClient();
    ASSERT_TRUE(Upgrading());
    Vanish();
    EXPECT_FALSE(Upgrading());
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_TRUE(sink.boxes[0].text.startsWith("the monitor service stopped during the firmware"))
        << sink.boxes[0].text.toStdString();
}

}  // namespace
}  // namespace raid::app::test
