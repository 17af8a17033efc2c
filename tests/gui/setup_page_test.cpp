// The Setup page: preset captions and the "User Period" row from the
// device, the period display, the choice checked when the page opens, and
// applying a period through the monitoring worker, with its messages and
// the settings line it leaves in the day's log file.
#include "app/setup_page.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QRadioButton>
#include <QStackedWidget>
#include <QtTest/QTest>
#include <algorithm>
#include <array>
#include <cstdlib>

#include "app/status_page.h"
#include "main_window_fixture.h"
#include "skin/skin_catalog.h"
#include "worker_stand_in.h"

namespace raid::app::test {
namespace {

using maintenance::PeriodSettingOutcome;
using Bytes = std::array<std::uint8_t, 4>;

class SetupPageTest : public MainWindowTest {
protected:
    // One enclosure (`edit` may change it), found, and shown once by the
    // first poll, so that the page buttons work.
    template <typename Edit>
    void Start(Edit edit) {
        AddEnclosure("raid1", edit);
        MakeWindow();
        RunDiscovery();
        ServeRequests();
        ASSERT_FALSE(window->state().shell.firstStatusPending);
    }
    void Start() {
        Start([](sim::Enclosure&) {});
    }

    SetupPage& Page() { return window->setupPage(); }
    QRadioButton* Choice(const char* name) { return Find<QRadioButton>(name); }
    QComboBox* Days() { return Find<QComboBox>("periodDaysBox"); }
    QComboBox* Hours() { return Find<QComboBox>("periodHoursBox"); }
    QString Text(const char* label) { return Find<QLabel>(label)->text(); }
    Record512& R() {
        auto& s = window->state();
        return s.monitor.deviceStatusRecord[static_cast<std::size_t>(s.discovery.DiskOf(0))];
    }
    QStringList Items(QComboBox* box) {
        QStringList items;
        for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
        return items;
    }
    // The period commands the enclosure ran (after discovery's query).
    std::vector<Bytes> PeriodCommands() {
        std::vector<Bytes> sent;
        for (const Bytes& b : disks->Emulator(0)->ExecutedCommandBytes())
            if ((b[0] >= 0x72 && b[0] <= 0x75) || (b[0] == 0x78 && b[1] != 0x33)) sent.push_back(b);
        return sent;
    }
    // A click on Set while the monitoring thread serves the requests.
    void SetWithWorker() {
        WorkerStandIn worker(*window, *clock);
        QTest::mouseClick(Button("applyPeriodButton"), Qt::LeftButton);
    }
    void ChooseUserPeriod(int days, int hours) {
        Choice("userPeriodButton")->setChecked(true);
        Days()->setCurrentIndex(days);
        Hours()->setCurrentIndex(hours);
    }
};

TEST_F(SetupPageTest, PresetCaptionsAndTheUserPeriodRowComeFromTheShownDevice) {
    AddEnclosure("raid1");  // unit 24 hours, presets 1, 7, 30
    AddEnclosure("raid1", [](sim::Enclosure& e) {
        e.backupKind = 1;
        e.backupPresets[0] = 36;
    });
    MakeWindow();
    // Before any device is shown: the stored captions and the display table.
    EXPECT_EQ(Choice("firstPresetButton")->text(), "1 day");
    EXPECT_EQ(Page().presets().entries, (std::array<std::uint8_t, 4>{0, 1, 7, 30}));
    EXPECT_EQ(Page().presets().unitHours, 24);
    EXPECT_EQ(Items(Days()).size(), 31);
    EXPECT_EQ(Days()->itemText(9), "09");
    EXPECT_EQ(Days()->itemText(30), "30");

    RunDiscovery();
    EXPECT_EQ(Choice("periodOffButton")->text(), "Off");
    EXPECT_EQ(Choice("firstPresetButton")->text(), "1 day");
    EXPECT_EQ(Choice("secondPresetButton")->text(), "7 days");
    EXPECT_EQ(Choice("thirdPresetButton")->text(), "30 days");
    EXPECT_FALSE(Choice("userPeriodButton")->isHidden());
    EXPECT_EQ(Choice("secondPresetButton")->y(), kLowerPresetTopWithUserPeriod);
    EXPECT_EQ(Choice("thirdPresetButton")->y(), kLowerPresetTopWithUserPeriod);
    EXPECT_EQ(Items(Hours()), QStringList{"00"});

    // The other device's unit and presets, through the device labels.
    ServeRequests();
    window->statusPage().selectDevice(1);
    EXPECT_EQ(Choice("firstPresetButton")->text(), "36 hours");
    EXPECT_EQ(Choice("secondPresetButton")->text(), "7 hours");
    EXPECT_EQ(Choice("thirdPresetButton")->text(), "30 hours");
    QStringList hours;
    for (int h = 0; h < 24; ++h) hours << QString("%1").arg(h, 2, 10, QChar('0'));
    EXPECT_EQ(Items(Hours()), hours);
    EXPECT_EQ(Hours()->currentIndex(), 0);

    // Without the parameterised setting there is no user period, and the
    // two lower presets move down.
    window->state().discovery.deviceSlots[1].optionCapability &= 0x7F;
    window->RefreshDeviceSummary();
    EXPECT_TRUE(Choice("userPeriodButton")->isHidden());
    EXPECT_EQ(Choice("secondPresetButton")->y(), kLowerPresetTop);
    EXPECT_EQ(Choice("thirdPresetButton")->y(), kLowerPresetTop);
    EXPECT_EQ(Choice("firstPresetButton")->y(), Choice("periodOffButton")->y());
}

TEST_F(SetupPageTest, OpeningThePageShowsTheScheduleTabAndChecksTheCurrentPeriod) {
    Start([](sim::Enclosure& e) { sim::SetBackupPeriod(e, 30); });
    EXPECT_TRUE(Find("applyPeriodButton")->isHidden());
    window->openSetupPage();
    EXPECT_EQ(window->CurrentPage(), kPageSetup);
    EXPECT_TRUE(Find("initializeTab")->isHidden());
    EXPECT_FALSE(Find("scheduleTab")->isHidden());
    EXPECT_EQ(Find("scheduleTab")->pos(), Find("initializeTab")->pos());
    EXPECT_TRUE(Shows("scheduleTab", "scheduleTabSelected"));
    EXPECT_EQ(Find<QStackedWidget>("setupSubPages")->currentIndex(), kSetupSubPageSchedule);
    EXPECT_FALSE(Find("applyPeriodButton")->isHidden());
    EXPECT_FALSE(Find("backupWaitLabel")->isHidden());
    EXPECT_TRUE(Choice("thirdPresetButton")->isChecked());
    EXPECT_TRUE(Days()->isHidden());

    // A period no preset has is a user period of days and hours.
    R()[rec::kSchedule] = 3;
    window->openSetupPage();
    EXPECT_TRUE(Choice("userPeriodButton")->isChecked());
    EXPECT_EQ(Days()->currentIndex(), 3);
    EXPECT_EQ(Hours()->currentIndex(), 0);
    for (const char* name :
         {"periodDaysBox", "periodHoursBox", "periodDaysLabel", "periodHoursLabel"})
        EXPECT_FALSE(Find(name)->isHidden()) << name;
    EXPECT_EQ(Text("periodDaysLabel"), "Day - ");
    EXPECT_EQ(Text("periodHoursLabel"), "Hour");

    // Choosing another button hides the lists again.
    Choice("firstPresetButton")->click();
    EXPECT_TRUE(Days()->isHidden());
    EXPECT_TRUE(Find("periodHoursLabel")->isHidden());

    R()[rec::kSchedule] = 0;
    window->openSetupPage();
    EXPECT_TRUE(Choice("periodOffButton")->isChecked());
    R()[rec::kSchedule] = 7;
    window->openSetupPage();
    EXPECT_TRUE(Choice("secondPresetButton")->isChecked());

    // Without the user period a period of no preset shows as "Off".
    window->state().discovery.deviceSlots[0].optionCapability &= 0x7F;
    R()[rec::kSchedule] = 3;
    window->openSetupPage();
    EXPECT_TRUE(Choice("periodOffButton")->isChecked());
}

TEST_F(SetupPageTest, APeriodBeyondTheDayListIsShownAndNotSavedShorter) {
    Start([](sim::Enclosure& e) { sim::SetBackupPeriod(e, 40); });
    window->openSetupPage();
    EXPECT_EQ(Text("backupPeriodLabel"), "Schedule Backup Period(Setted): 40 days");
    EXPECT_FALSE(Page().checkedChoice().has_value());
    EXPECT_TRUE(Days()->isHidden());
    SetWithWorker();
    EXPECT_TRUE(PeriodCommands().empty());
    EXPECT_TRUE(sink.boxes.empty());
    EXPECT_EQ(Text("backupPeriodLabel"), "Schedule Backup Period(Setted): 40 days");
}

TEST_F(SetupPageTest, PeriodDisplayTexts) {
    Start([](sim::Enclosure& e) { e.backupKind = 1; });
    window->openSetupPage();
    Record512& r = R();
    r[rec::kSchedule] = 36;
    r[rec::kSchedule + 1] = 0;
    r[rec::kSchedule + 2] = 7;  // 7 ticks of 10 s: 2 minutes, rounded up
    r[rec::kSchedule + 3] = 0;
    window->RefreshSetupPage();
    EXPECT_EQ(Text("backupWaitLabel"), " Wait to Backup in minutes : 2 (0d:0h:2m)");
    EXPECT_EQ(Text("backupPeriodLabel"), "Schedule Backup Period(Setted): 1 day 12 hours");

    r[rec::kSchedule + 3] = 1;  // a week more
    window->RefreshSetupPage();
    EXPECT_EQ(Text("backupWaitLabel"), " Wait to Backup in minutes : 10082 (7d:0h:2m)");

    r[rec::kRebuildFlags] |= 0x02;
    window->RefreshSetupPage();
    EXPECT_EQ(Text("backupWaitLabel"), " Wait to Backup in minutes :  (Backing up...)");

    r[rec::kSchedule] = 0;
    window->RefreshSetupPage();
    EXPECT_EQ(Text("backupWaitLabel"), " Wait to Backup in minutes :  (Backup off)");
    EXPECT_EQ(Text("backupPeriodLabel"), "Schedule Backup Period(Setted): off");

    // A poll while the page is shown redraws the display from the enclosure.
    disks->Emulator(0)->Control("backup 5");
    window->onPollTick();
    window->onPollTick();
    ServeRequests();
    EXPECT_EQ(Text("backupPeriodLabel"), "Schedule Backup Period(Setted): 5 hours");
    EXPECT_EQ(Text("backupWaitLabel"), " Wait to Backup in minutes : 300 (0d:5h:0m)");
}

TEST_F(SetupPageTest, AUserPeriodOfThreeDaysSendsTheSettingCommand) {
    Start();
    window->openSetupPage();
    ChooseUserPeriod(3, 0);
    SetWithWorker();

    EXPECT_EQ(Page().lastOutcome(), PeriodSettingOutcome::Done);
    EXPECT_EQ(PeriodCommands(), (std::vector<Bytes>{{0x78, 0x02, 0x03, 0xDF}}));
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, "Schedule Backup Setting OK!");
    EXPECT_EQ(sink.boxes[0].caption, "Setting");
    EXPECT_FALSE(sink.boxes[0].warning);
    // The poll that followed read the new period back.
    EXPECT_EQ(Text("backupPeriodLabel"), "Schedule Backup Period(Setted): 3 days");
    EXPECT_TRUE(window->state().monitor.settingQueue.empty());
    EXPECT_EQ(window->state().shell.pollRequestFlags & poll::kWakeMask, 0);
    EXPECT_FALSE(Page().settingBusy());
}

TEST_F(SetupPageTest, ABuzzerClickDuringThePeriodWaitKeepsBothCommands) {
    Start();  // the buzzer sounds
    window->openSetupPage();
    ChooseUserPeriod(3, 0);
    // The click runs from the first pump of the wait, before the worker
    // took the period.
    auto* buzzer = Find<QCheckBox>("buzzerMuteBox");
    QMetaObject::invokeMethod(
        window.get(), [buzzer] { buzzer->click(); }, Qt::QueuedConnection);
    SetWithWorker();

    EXPECT_EQ(PeriodCommands(), (std::vector<Bytes>{{0x78, 0x02, 0x03, 0xDF}}));
    const auto executed = disks->Emulator(0)->ExecutedCommands();
    EXPECT_EQ(std::count(executed.begin(), executed.end(), 0x70), 1);
    EXPECT_EQ(Page().lastOutcome(), PeriodSettingOutcome::Done);
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, "Schedule Backup Setting OK!");
    EXPECT_EQ(Text("backupPeriodLabel"), "Schedule Backup Period(Setted): 3 days");
    EXPECT_TRUE(window->state().monitor.settingQueue.empty());

    // The mute was read back by the poll after the period.
    window->openStatusPage();
    EXPECT_TRUE(buzzer->isEnabled());
    EXPECT_TRUE(buzzer->isChecked());
    EXPECT_EQ(R()[rec::kOptionBits] & 0x01, 0);
}

TEST_F(SetupPageTest, APeriodTheControllerDidNotTakeShowsTheFailure) {
    Start();
    window->openSetupPage();
    const QString before = Text("backupPeriodLabel");
    QStringList panels;
    sink.onBox = [&] { panels << Find<QLabel>("statusPanel4")->text(); };
    const struct {
        const char* fault;
        const char* panel;
    } cases[] = {{"settingfault fail", "Backup Setting error code :C0"},
                 {"settingfault keep", "Backup Setting error code :03"},
                 {"settingfault noreply", "Backup Setting error code :F2"}};
    for (const auto& c : cases) {
        sink.boxes.clear();
        panels.clear();
        ASSERT_EQ(disks->Emulator(0)->Control(c.fault), "");
        ChooseUserPeriod(3, 0);
        SetWithWorker();
        EXPECT_EQ(Page().lastOutcome(), PeriodSettingOutcome::Failed) << c.fault;
        ASSERT_EQ(sink.boxes.size(), 1u) << c.fault;
        EXPECT_EQ(sink.boxes[0].text, "Schedule Backup Setting fail!\n Please try again!");
        EXPECT_EQ(sink.boxes[0].caption, "Setting");
        EXPECT_TRUE(sink.boxes[0].warning);
        EXPECT_EQ(panels, QStringList{c.panel}) << c.fault;
        EXPECT_EQ(Find<QLabel>("statusPanel4")->text(), "");
        EXPECT_EQ(Text("backupPeriodLabel"), before) << c.fault;
        EXPECT_FALSE(Page().settingBusy());
    }

    // Without a fault the same choice is taken.
    sink.boxes.clear();
    ChooseUserPeriod(3, 0);
    SetWithWorker();
    EXPECT_EQ(Page().lastOutcome(), PeriodSettingOutcome::Done);
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, "Schedule Backup Setting OK!");
    EXPECT_EQ(Text("backupPeriodLabel"), "Schedule Backup Period(Setted): 3 days");
}

TEST_F(SetupPageTest, WithAUnitOfOneHourTwoDaysAndFiveHoursAreFiftyThree) {
    Start([](sim::Enclosure& e) { e.backupKind = 1; });
    window->openSetupPage();
    ChooseUserPeriod(2, 5);
    SetWithWorker();
    EXPECT_EQ(PeriodCommands(), (std::vector<Bytes>{{0x78, 0x02, 53, 0xDF}}));
    EXPECT_EQ(Text("backupPeriodLabel"), "Schedule Backup Period(Setted): 2 days 5 hours");
}

TEST_F(SetupPageTest, TheCurrentPeriodChosenAgainChangesNothing) {
    Start([](sim::Enclosure& e) { sim::SetBackupPeriod(e, 7); });
    window->openSetupPage();
    ASSERT_TRUE(Choice("secondPresetButton")->isChecked());
    const auto before = disks->Emulator(0)->ExecutedCommands().size();
    const auto startMs = clock->NowMs();
    SetWithWorker();
    EXPECT_EQ(Page().lastOutcome(), PeriodSettingOutcome::Unchanged);
    EXPECT_TRUE(sink.boxes.empty());
    EXPECT_EQ(disks->Emulator(0)->ExecutedCommands().size(), before);
    EXPECT_EQ(window->state().shell.pollRequestFlags & poll::kPendingCommand, 0);
    EXPECT_EQ(clock->NowMs(), startMs);
    EXPECT_FALSE(Page().settingBusy());

    // The same period as a user period of days is the same period too.
    ChooseUserPeriod(7, 0);
    SetWithWorker();
    EXPECT_EQ(Page().lastOutcome(), PeriodSettingOutcome::Unchanged);
    EXPECT_TRUE(sink.boxes.empty());
}

TEST_F(SetupPageTest, AWorkerThatDoesNotTakeTheRequestGivesCodeOne) {
    Start();
    window->openSetupPage();
    Choice("thirdPresetButton")->setChecked(true);
    const auto startMs = clock->NowMs();
    Page().onSetClicked();  // nobody serves the request

    EXPECT_EQ(Page().lastOutcome(), PeriodSettingOutcome::Failed);
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, "Schedule Backup Setting fail!\n Please try again!");
    EXPECT_EQ(sink.boxes[0].caption, "Setting");
    EXPECT_TRUE(sink.boxes[0].warning);
    EXPECT_EQ(Find<QLabel>("statusPanel4")->text(), "");
    // Fifty rounds of 30 ms, then the fifty-first gives up.
    EXPECT_EQ(clock->NowMs() - startMs, 50u * 30u);
    EXPECT_TRUE(window->state().monitor.settingQueue.empty());
    EXPECT_TRUE(PeriodCommands().empty());
    EXPECT_FALSE(Page().settingBusy());
}

TEST_F(SetupPageTest, AUserPeriodTooLongForTheByteIsRefusedBeforeAnythingIsQueued) {
    Start([](sim::Enclosure& e) { e.backupKind = 1; });
    window->openSetupPage();
    ChooseUserPeriod(30, 0);  // 720 hours in units of one hour
    const auto startMs = clock->NowMs();
    SetWithWorker();
    EXPECT_EQ(Page().lastOutcome(), PeriodSettingOutcome::Refused);
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text,
              "The period is too long for this enclosure: the longest it allows is 10 days 15 "
              "hours.");
    EXPECT_EQ(sink.boxes[0].caption, "Setting");
    EXPECT_TRUE(window->state().monitor.settingQueue.empty());
    EXPECT_EQ(window->state().shell.pollRequestFlags & poll::kPendingCommand, 0);
    EXPECT_EQ(clock->NowMs(), startMs);
    EXPECT_TRUE(PeriodCommands().empty());

    // The longest one goes.
    ChooseUserPeriod(10, 15);
    SetWithWorker();
    EXPECT_EQ(PeriodCommands(), (std::vector<Bytes>{{0x78, 0x02, 255, 0xDF}}));
}

TEST_F(SetupPageTest, EachPeriodCommandLeavesItsLineInTheDayLog) {
    Start();
    window->openSetupPage();
    const struct {
        const char* button;
        int days;
        const char* period;
    } choices[] = {{"firstPresetButton", 0, "1d, "},
                   {"secondPresetButton", 0, "7d, "},
                   {"thirdPresetButton", 0, "30d, "},
                   {"userPeriodButton", 2, "2d, "},
                   {"periodOffButton", 0, "OFF, "}};
    for (const auto& c : choices) {
        Choice(c.button)->setChecked(true);
        Days()->setCurrentIndex(c.days);
        SetWithWorker();
        EXPECT_EQ(Page().lastOutcome(), PeriodSettingOutcome::Done) << c.button;
        const std::string line = std::string("D1 Backup Period(Setted): ") + c.period;
        EXPECT_NE(DayFile().find("\r\n" + line), std::string::npos) << line << "\n" << DayFile();
    }
    EXPECT_EQ(PeriodCommands(), (std::vector<Bytes>{{0x73, 0xCF, 0xDF, 0xEF},
                                                    {0x74, 0xCF, 0xDF, 0xEF},
                                                    {0x75, 0xCF, 0xDF, 0xEF},
                                                    {0x78, 0x02, 0x02, 0xDF},
                                                    {0x72, 0xCF, 0xDF, 0xEF}}));
    EXPECT_EQ(sink.boxes.size(), 5u);
}

TEST_F(SetupPageTest, TheBackupBoxWaitsForTheFirstRefresh) {
    AddEnclosure("raid1");
    MakeWindow();
    RunDiscovery();
    auto* box = Find<QCheckBox>("scheduleBackupBox");
    EXPECT_EQ(box->text(), "Schedule Backup enable");
    EXPECT_TRUE(box->isHidden());
    box->click();  // ticked, before the first refresh
    box->click();  // unticked
    EXPECT_EQ(window->state().shell.pollRequestFlags & poll::kPendingCommand, 0);

    ServeRequests();
    box->click();  // ticked: only the display
    EXPECT_EQ(window->state().shell.pollRequestFlags & poll::kPendingCommand, 0);
    box->click();  // unticked
    EXPECT_NE(window->state().shell.pollRequestFlags & poll::kPendingCommand, 0);
}

// docs/raidgui-setup.png: RAID_SCREENSHOT_DIR=docs names the folder.
TEST_F(SetupPageTest, Screenshot) {
    Start([](sim::Enclosure& e) {
        sim::SetBackupPeriod(e, 3);  // no preset: a user period of days
        e.backupWeeks = 0;
        e.backupTimeToNext = 4321;
    });
    window->openSetupPage();
    const QPixmap shot = window->grab();
    EXPECT_EQ(shot.size(), QSize(skin::kWindowWidth, skin::kWindowHeight));
    if (const char* folder = std::getenv("RAID_SCREENSHOT_DIR")) {
        EXPECT_TRUE(shot.save(QString(folder) + "/raidgui-setup.png"));
    }
}

}  // namespace
}  // namespace raid::app::test
