// The window as a client of the service, against a stand-in of the service
// that serves emulated enclosures through the in-process implementation:
// what the pages show, what the user's clicks send, refusals, the service
// going and coming, and that the window itself never opens a disk.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <map>
#include <sstream>

#include "app/event_log_viewer.h"
#include "app/setup_page.h"
#include "app/status_page.h"
#include "cli/local_access.h"
#include "main_window_fixture.h"

namespace raid::app::test {
namespace {

// The service: the enclosures as this process reads them, each call
// written down, and any kind of call refused on demand.
class ServiceStandIn final : public client::EnclosureAccess {
public:
    ServiceStandIn(platform::DiskSystem& disks, platform::Clock& clock)
        : ctx_{disks, clock, {}, out_, err_}, local_(ctx_) {}

    std::vector<std::string> calls;
    std::map<std::string, client::Answer> refusals;  // by call name
    bool running = true;

    client::StatusAnswer Status(const std::string& disk) override {
        return Refused<client::StatusAnswer>("Status", [&] { return local_.Status(disk); });
    }
    client::SmartAnswer Smart(const std::string& disk) override {
        return Refused<client::SmartAnswer>("Smart", [&] { return local_.Smart(disk); });
    }
    client::SettingAnswer SetBuzzer(const std::string& disk, bool mute,
                                    const client::CallOptions& o) override {
        calls.push_back("SetBuzzer " + disk + (mute ? " mute" : " sound"));
        return Refused<client::SettingAnswer>("SetBuzzer",
                                              [&] { return local_.SetBuzzer(disk, mute, o); });
    }
    client::SettingAnswer SetBackupPeriod(const std::string& disk, const client::PeriodRequest& p,
                                          const client::CallOptions& o) override {
        calls.push_back(
            "SetBackupPeriod " + disk + " preset " + std::to_string(p.preset) +
            (p.userPeriod ? " user " + std::to_string(p.days) + "d" + std::to_string(p.hours) + "h"
                          : ""));
        return Refused<client::SettingAnswer>("SetBackupPeriod",
                                              [&] { return local_.SetBackupPeriod(disk, p, o); });
    }
    client::FirmwareCheckAnswer CheckFirmware(const std::string& disk,
                                              const std::vector<std::uint8_t>& image) override {
        return local_.CheckFirmware(disk, image);
    }
    client::FlashReadAnswer ReadFlash(const std::string& disk, std::uint32_t length,
                                      const client::CallOptions& o) override {
        return local_.ReadFlash(disk, length, o);
    }
    client::FlashAnswer Flash(const std::string& disk, const std::vector<std::uint8_t>& image,
                              bool backup, client::FlashHandlers handlers,
                              const client::CallOptions& o) override {
        return local_.Flash(disk, image, backup, std::move(handlers), o);
    }
    bool FlashOutlivesCaller() const override { return true; }
    client::DayFilesAnswer DayFiles() override {
        client::DayFilesAnswer answer;
        for (const auto& [name, content] : dayFiles) answer.names.push_back(name);
        return answer;
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
        return local_.MailSettings(o);
    }
    client::Answer SetMailSettings(const client::MailSettingsChanges& c,
                                   const client::CallOptions& o) override {
        return local_.SetMailSettings(c, o);
    }
    client::TestMailAnswer SendTestMail(const client::CallOptions& o,
                                        const std::function<void(const std::string&)>& t) override {
        return local_.SendTestMail(o, t);
    }

private:
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
    void MakeClient() {
        service = std::make_shared<ServiceStandIn>(*disks, *clock);
        configureOptions = [this](MainWindowOptions& options) {
            auto context = std::make_shared<ShellContext>(clock, windowDisks);
            context->programFolder = options.context->programFolder;
            options.context = context;
            options.service = service;
            options.watch = &watch;
            options.serviceCallsInline = true;
            options.desktopNotice = [this](const QString& line) { notices << line; };
        };
        MakeWindow();
    }
    QString Text(const char* name) { return Find<QLabel>(name)->text(); }
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
};

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
    Q_EMIT watch.enclosuresChanged();
    EXPECT_NE(Text("healthLabel"), inProcess["healthLabel"]);
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

TEST_F(ClientModeTest, TheBuzzerBoxAsksTheServiceAndARefusalLeavesItAsItWas) {
    AddEnclosure("raid1");  // the buzzer sounds
    MakeClient();
    ASSERT_FALSE(Buzzer()->isHidden());
    ASSERT_FALSE(Buzzer()->isChecked());

    Buzzer()->click();
    EXPECT_EQ(service->calls, std::vector<std::string>{"SetBuzzer 0 mute"});
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
    EXPECT_EQ(service->calls, std::vector<std::string>{"SetBackupPeriod 0 preset 0 user 3d0h"});
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
    service->running = false;
    Q_EMIT watch.serviceVanished();
    EXPECT_TRUE(window->accessNotice().contains("sudo systemctl start raid-monitor"))
        << window->accessNotice().toStdString();
    EXPECT_TRUE(Find<QCheckBox>("device1Box")->isHidden());
    EXPECT_FALSE(Button("statusPageButton")->isEnabled());

    service->running = true;
    Q_EMIT watch.serviceAppeared();
    EXPECT_TRUE(window->accessNotice().isEmpty());
    EXPECT_TRUE(Find<QCheckBox>("device1Box")->isChecked());
    EXPECT_EQ(windowDisks->opens, 0);
}

}  // namespace
}  // namespace raid::app::test

namespace raid::app::test {
namespace {

TEST_F(ClientModeTest, AWindowWithTheEnclosuresHandsThemOverWhenTheServiceAppears) {
    AddEnclosure("raid1");
    service = std::make_shared<ServiceStandIn>(*disks, *clock);
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

    Q_EMIT watch.serviceAppeared();
    EXPECT_TRUE(window->clientMode());
    EXPECT_EQ(released, 1);
    EXPECT_FALSE(Find<QTimer>("pollTimer")->isActive());
    // From now on the page is the service's.
    ASSERT_EQ(disks->Emulator(0)->Control("pull 2"), "");
    Q_EMIT watch.enclosuresChanged();
    EXPECT_NE(Text("healthLabel"), health);
    // A second appearance changes nothing.
    Q_EMIT watch.serviceAppeared();
    EXPECT_EQ(released, 1);
}

}  // namespace
}  // namespace raid::app::test

namespace raid::app::test {
namespace {

TEST_F(ClientModeTest, TheEventLogIsTheServicesTodayAndItsDayFiles) {
    AddEnclosure("raid1");
    service = std::make_shared<ServiceStandIn>(*disks, *clock);
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
    service = std::make_shared<ServiceStandIn>(*disks, *clock);
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
    MakeWindow();
    ASSERT_TRUE(window->clientMode());
    const auto before = disks->Emulator(0)->ExecutedCommands().size();

    service->running = false;
    Q_EMIT watch.serviceVanished();
    EXPECT_FALSE(window->clientMode());
    EXPECT_EQ(taken, 1);
    EXPECT_TRUE(window->accessNotice().isEmpty());
    // Its own discovery and polls find the enclosure again.
    RunDiscovery();
    ServeRequests();
    EXPECT_TRUE(Find<QCheckBox>("device1Box")->isChecked());
    EXPECT_GT(disks->Emulator(0)->ExecutedCommands().size(), before);

    service->running = true;
    Q_EMIT watch.serviceAppeared();
    EXPECT_TRUE(window->clientMode());
    EXPECT_EQ(released, 1);
}

}  // namespace
}  // namespace raid::app::test
