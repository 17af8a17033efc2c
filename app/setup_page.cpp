#include "app/setup_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QRadioButton>
#include <QStackedWidget>
#include <algorithm>

#include "app/layout_parts.h"
#include "app/main_window.h"
#include "app/picture_button.h"
#include "platform/clock.h"
#include "skin/skin.h"

namespace raid::app {
namespace {

using maintenance::PeriodChoice;

QString Q(const std::string& s) { return QString::fromStdString(s); }

constexpr std::size_t kUserPeriod = static_cast<std::size_t>(PeriodChoice::UserPeriod);

monitor::BackupPresetTable PresetTableOf(const client::DeviceStatus& device) {
    monitor::BackupPresetTable table;
    std::copy_n(device.backupPresets.begin(),
                std::min(device.backupPresets.size(), table.entries.size()), table.entries.begin());
    table.unitHours = device.backupUnitHours;
    return table;
}

}  // namespace

SetupPage::SetupPage(MainWindow& window, QWidget* parent)
    : QWidget(parent), window_(window), state_(window.state()) {
    setObjectName("setupPage");
    buildControls();
    // The lists show with the "User Period" tick, whoever sets it.
    connect(choiceButtons_[kUserPeriod], &QRadioButton::toggled, this,
            [this](bool on) { showUserPeriodLists(on); });
    showUserPeriodLists(choiceButtons_[kUserPeriod]->isChecked());
    connect(applyPeriodButton_, &PictureButton::clicked, this, [this] { onSetClicked(); });
    connect(scheduleBackupBox_, &QCheckBox::clicked, this,
            [this](bool checked) { onBackupBoxClicked(checked); });
    connect(scheduleTab_, &PictureButton::clicked, this, [this] {
        subPages_->setCurrentIndex(kSetupSubPageSchedule);
        refreshPeriodDisplay();
    });

    // The schedule-backup periods in days.
    for (int i = 0; i <= 30; ++i) periodDaysBox_->addItem(QString("%1").arg(i, 2, 10, QChar('0')));
    periodDaysBox_->setCurrentIndex(0);
    scheduleBackupBox_->hide();
}

void SetupPage::buildControls() {
    const QFont base = font();
    // The sub-page tabs: only the schedule one is used; it takes the place
    // of the initialize tab when the page opens.
    initializeTab_ = new PictureButton("initializeTab", this);
    initializeTab_->setGeometry(14, 8, skin::kTabWidth, skin::kTabHeight);
    initializeTab_->setPicture(skin::Picture("initializeTabUnselected"));
    MakeCompanions(this, "scheduleTab");
    scheduleTab_ = new PictureButton("scheduleTab", this);
    scheduleTab_->setGeometry(14 + skin::kTabWidth + 6, 8, skin::kTabWidth, skin::kTabHeight);
    scheduleTab_->setPicture(skin::Picture("scheduleTabUnselected"));
    scheduleTab_->hide();
    scheduleBackupBox_ = new QCheckBox("Schedule Backup enable", this);
    scheduleBackupBox_->setObjectName("scheduleBackupBox");
    scheduleBackupBox_->setGeometry(280, 12, 170, 22);

    subPages_ = new QStackedWidget(this);
    subPages_->setObjectName("setupSubPages");
    subPages_->setGeometry(0, 40, skin::kPanelWidth, 252);
    auto* initialize = new QWidget(subPages_);
    initialize->setObjectName("initializeSubPage");
    subPages_->addWidget(initialize);
    auto* schedule = new QWidget(subPages_);
    schedule->setObjectName("scheduleSubPage");
    subPages_->addWidget(schedule);
    auto* setupPanel = new QFrame(initialize);
    setupPanel->setObjectName("setupPanel");
    setupPanel->setGeometry(14, 44, 434, 200);
    setupPanel->hide();

    // The current period and the time to the next backup.
    Card(schedule, "backupStateFrame", QRect(14, 8, 432, 62));
    backupPeriodLabel_ = MakeLabel("backupPeriodLabel", schedule, QRect(26, 14, 412, 24));
    backupPeriodLabel_->setFont(Bold(base, 11));
    backupWaitLabel_ = MakeLabel("backupWaitLabel", schedule, QRect(26, 40, 412, 22));
    backupWaitLabel_->setFont(Sized(base, 10));
    backupWaitLabel_->hide();

    // The choices. The two lower presets move down when the enclosure takes
    // no user period (updatePresetControls).
    Card(schedule, "periodChoiceFrame", QRect(14, 86, 432, 148));
    Caption(schedule, "periodChoiceCaption", QRect(26, 94, 300, 20), "Schedule Backup Period");
    const struct {
        const char* name;
        const char* caption;
        int left;
        int top;
    } choices[5] = {{"periodOffButton", "Off", 40, 124},
                    {"firstPresetButton", "1 day", 220, 124},
                    {"secondPresetButton", "7 days", 40, 152},
                    {"thirdPresetButton", "30 days", 220, 152},
                    {"userPeriodButton", "User Period", 40, 190}};
    auto* group = new QButtonGroup(schedule);
    for (std::size_t k = 0; k < choiceButtons_.size(); ++k) {
        const auto& c = choices[k];
        auto* button = new QRadioButton(c.caption, schedule);
        button->setObjectName(c.name);
        button->setGeometry(c.left, c.top, 116, 22);
        group->addButton(button);
        choiceButtons_[k] = button;
    }
    periodDaysBox_ = new QComboBox(schedule);
    periodDaysBox_->setObjectName("periodDaysBox");
    periodDaysBox_->setGeometry(160, 188, 60, 26);
    periodDaysLabel_ = MakeLabel("periodDaysLabel", schedule, QRect(226, 190, 50, 22), "Day - ");
    periodHoursBox_ = new QComboBox(schedule);
    periodHoursBox_->setObjectName("periodHoursBox");
    periodHoursBox_->setGeometry(278, 188, 60, 26);
    periodHoursLabel_ = MakeLabel("periodHoursLabel", schedule, QRect(344, 190, 50, 22), "Hour");

    applyPeriodButton_ = MakePicture("applyPeriodButton", this, Action(340, 300));
    applyPeriodButton_->hide();  // shown with the period display
    WirePressedLook(applyPeriodButton_, &applyPeriodPressed_);
}

void SetupPage::showUserPeriodLists(bool shown) {
    for (QWidget* w : std::initializer_list<QWidget*>{periodDaysBox_, periodHoursBox_,
                                                      periodDaysLabel_, periodHoursLabel_})
        w->setVisible(shown);
}

client::DeviceStatus SetupPage::shownDevice() const {
    return window_.deviceView(window_.SelectedDevice());
}

void SetupPage::updatePresetControls(const client::DeviceStatus& device) {
    presets_ = PresetTableOf(device);
    for (std::size_t k = 1; k <= 3; ++k)
        choiceButtons_[k]->setText(
            Q(maintenance::PresetCaption(presets_.entries[k], presets_.unitHours)));

    const bool userPeriod = device.userPeriodKnown;
    choiceButtons_[kUserPeriod]->setVisible(userPeriod);
    const int top = userPeriod ? kLowerPresetTopWithUserPeriod : kLowerPresetTop;
    for (std::size_t k : {2u, 3u}) choiceButtons_[k]->move(choiceButtons_[k]->x(), top);
    if (!userPeriod) return;
    periodHoursBox_->clear();
    for (const std::string& hour : maintenance::HourChoices(presets_.unitHours))
        periodHoursBox_->addItem(Q(hour));
    periodHoursBox_->setCurrentIndex(0);
}

void SetupPage::prepareChoice() {
    const client::DeviceStatus shown = shownDevice();
    const maintenance::InitialChoice initial =
        maintenance::InitialChoiceFor(shown.backupPeriod, presets_, shown.userPeriodKnown);
    if (!initial.choice) {
        // No button holds the period: none is ticked, so Set sends nothing
        // until the user chooses; the period display shows the period.
        QButtonGroup* group = choiceButtons_[0]->group();
        if (group != nullptr) group->setExclusive(false);
        for (QRadioButton* button : choiceButtons_) button->setChecked(false);
        if (group != nullptr) group->setExclusive(true);
        return;
    }
    if (*initial.choice == PeriodChoice::UserPeriod) {
        periodDaysBox_->setCurrentIndex(initial.dayIndex);
        periodHoursBox_->setCurrentIndex(initial.hourIndex);
    }
    choiceButtons_[static_cast<std::size_t>(*initial.choice)]->setChecked(true);
}

void SetupPage::showScheduleSubPage() {
    initializeTab_->hide();
    scheduleTab_->move(initializeTab_->pos());
    scheduleTab_->setPicture(CompanionPicture(*this, "scheduleTabSelected"));
    scheduleTab_->show();
    subPages_->setCurrentIndex(kSetupSubPageSchedule);
    refreshPeriodDisplay();
}

void SetupPage::refreshPeriodDisplay() {
    const client::DeviceStatus shown = shownDevice();
    backupWaitLabel_->setText(
        Q(maintenance::WaitText(shown.backupPeriod, shown.backingUp, shown.backupWaitMinutes)));
    backupPeriodLabel_->setText(Q(maintenance::PeriodText(shown.backupPeriod, presets_.unitHours)));
    backupWaitLabel_->show();
    applyPeriodButton_->show();
}

std::optional<PeriodChoice> SetupPage::checkedChoice() const {
    for (std::size_t k = 0; k < choiceButtons_.size(); ++k)
        if (choiceButtons_[k]->isChecked()) return static_cast<PeriodChoice>(k);
    return std::nullopt;
}

void SetupPage::onSetClicked() {
    // Without a ticked button there is no period to send.
    const auto choice = checkedChoice();
    if (!choice) return;
    const maintenance::PeriodCommand command = maintenance::CommandFor(
        *choice, presets_, periodDaysBox_->currentIndex(), periodHoursBox_->currentIndex());
    if (window_.clientMode()) return setThroughService(*choice, command);
    lastOutcome_ = maintenance::ApplyPeriodSetting(
        state_, settingBusy_, command, shownDevice().backupPeriod, window_.SelectedDevice(), *this);
}

// The same checks as in this process, then the service sets and reads back.
void SetupPage::setThroughService(maintenance::PeriodChoice choice,
                                  const maintenance::PeriodCommand& command) {
    using maintenance::PeriodSettingOutcome;
    if (settingBusy_) {
        lastOutcome_ = PeriodSettingOutcome::Busy;
        return;
    }
    if (!command.refusal.empty()) {
        Message(command.refusal, maintenance::kSettingCaption, true);
        lastOutcome_ = PeriodSettingOutcome::Refused;
        return;
    }
    if (command.value == shownDevice().backupPeriod) {
        lastOutcome_ = PeriodSettingOutcome::Unchanged;
        return;
    }
    client::PeriodRequest period;
    if (choice == maintenance::PeriodChoice::UserPeriod) {
        period.userPeriod = true;
        period.days = static_cast<std::uint32_t>(periodDaysBox_->currentIndex());
        period.hours =
            static_cast<std::uint32_t>(periodHoursBox_->currentIndex()) * presets_.unitHours;
    } else {
        period.preset = static_cast<std::uint8_t>(choice);
    }
    settingBusy_ = true;
    window_.setPeriodThroughService(window_.SelectedDevice(), period);
}

void SetupPage::onServicePeriodAnswer(const client::Answer& answer) {
    using maintenance::PeriodSettingOutcome;
    settingBusy_ = false;
    switch (answer.outcome) {
        case client::kDone:
            Message(maintenance::kPeriodOkText, maintenance::kSettingCaption, false);
            lastOutcome_ = PeriodSettingOutcome::Done;
            break;
        case client::kFailed:
        case client::kNotTaken:
        case client::kNotSent:
            // The enclosure's answer: told as a failed setting in this process is.
            SetStatusPanel(4, answer.notes.empty() ? std::string() : answer.notes.back());
            Message(maintenance::kPeriodFailText, maintenance::kSettingCaption, true);
            lastOutcome_ = PeriodSettingOutcome::Failed;
            break;
        default: {
            // Refused by the service (not allowed, busy, gone): its words.
            std::string text;
            for (const auto& note : answer.notes) text += (text.empty() ? "" : "\n") + note;
            Message(text, maintenance::kSettingCaption, true);
            lastOutcome_ = PeriodSettingOutcome::Refused;
        }
    }
    refreshPeriodDisplay();
}

void SetupPage::onBackupBoxClicked(bool checked) {
    if (state_.shell.firstStatusPending.load()) return;
    refreshPeriodDisplay();
    if (!checked) state_.shell.pollRequestFlags.fetch_or(poll::kPendingCommand);
}

void SetupPage::Pump() { QCoreApplication::processEvents(); }

void SetupPage::SleepMs(std::uint32_t ms) { window_.context().clock->SleepMs(ms); }

void SetupPage::SetStatusPanel(int panel, const std::string& text) {
    window_.SetStatusPanel(panel, text);
}

void SetupPage::Message(const std::string& text, const std::string& caption, bool warning) {
    if (warning)
        window_.warnUser(Q(text), Q(caption));
    else
        window_.Message(text, caption);
}

}  // namespace raid::app
