#include "app/setup_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QRadioButton>
#include <QStackedWidget>

#include "app/main_window.h"
#include "app/page_control.h"
#include "app/picture_button.h"
#include "app/status_page.h"
#include "platform/clock.h"

namespace raid::app {
namespace {

using maintenance::PeriodChoice;

template <typename T>
T* Control(MainWindow& window, const char* name) {
    return PageControl<T>(window, name, "setup page");
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

constexpr std::size_t kUserPeriod = static_cast<std::size_t>(PeriodChoice::UserPeriod);

}  // namespace

SetupPage::SetupPage(MainWindow& window)
    : window_(window),
      state_(window.state()),
      choiceButtons_{Control<QRadioButton>(window, "periodOffButton"),
                     Control<QRadioButton>(window, "firstPresetButton"),
                     Control<QRadioButton>(window, "secondPresetButton"),
                     Control<QRadioButton>(window, "thirdPresetButton"),
                     Control<QRadioButton>(window, "userPeriodButton")},
      periodDaysBox_(Control<QComboBox>(window, "periodDaysBox")),
      periodHoursBox_(Control<QComboBox>(window, "periodHoursBox")),
      periodDaysLabel_(Control<QLabel>(window, "periodDaysLabel")),
      periodHoursLabel_(Control<QLabel>(window, "periodHoursLabel")),
      backupWaitLabel_(Control<QLabel>(window, "backupWaitLabel")),
      backupPeriodLabel_(Control<QLabel>(window, "backupPeriodLabel")),
      scheduleBackupBox_(Control<QCheckBox>(window, "scheduleBackupBox")),
      subPages_(Control<QStackedWidget>(window, "setupSubPages")),
      initializeTab_(Control<PictureButton>(window, "initializeTab")),
      scheduleTab_(Control<PictureButton>(window, "scheduleTab")),
      applyPeriodButton_(Control<PictureButton>(window, "applyPeriodButton")) {
    // The lists show with the "User Period" tick, whoever sets it.
    QObject::connect(choiceButtons_[kUserPeriod], &QRadioButton::toggled,
                     choiceButtons_[kUserPeriod], [this](bool on) { showUserPeriodLists(on); });
    showUserPeriodLists(choiceButtons_[kUserPeriod]->isChecked());
    QObject::connect(applyPeriodButton_, &PictureButton::clicked, applyPeriodButton_,
                     [this] { onSetClicked(); });
    QObject::connect(scheduleBackupBox_, &QCheckBox::clicked, scheduleBackupBox_,
                     [this](bool checked) { onBackupBoxClicked(checked); });
    QObject::connect(scheduleTab_, &PictureButton::clicked, scheduleTab_, [this] {
        subPages_->setCurrentIndex(kSetupSubPageSchedule);
        refreshPeriodDisplay();
    });
}

void SetupPage::showUserPeriodLists(bool shown) {
    for (QWidget* w : std::initializer_list<QWidget*>{periodDaysBox_, periodHoursBox_,
                                                      periodDaysLabel_, periodHoursLabel_})
        w->setVisible(shown);
}

const Record512& SetupPage::shownRecord() const {
    return StatusRecordOf(state_, window_.SelectedDevice());
}

void SetupPage::updatePresetControls(const DeviceSlot& slot) {
    presets_ = monitor::PresetTableOf(slot);
    for (std::size_t k = 1; k <= 3; ++k)
        choiceButtons_[k]->setText(
            Q(maintenance::PresetCaption(presets_.entries[k], presets_.unitHours)));

    const bool userPeriod = (slot.optionCapability & maintenance::kUserPeriodCapability) != 0;
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
    const int device = window_.SelectedDevice();
    const bool userPeriod = device >= 0 && device < kDeviceSlots &&
                            maintenance::TakesUserPeriod(
                                state_.discovery.deviceSlots[static_cast<std::size_t>(device)]);
    const std::uint8_t period = maintenance::BackupStatusOf(shownRecord()).period;
    const maintenance::InitialChoice initial =
        maintenance::InitialChoiceFor(period, presets_, userPeriod);
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
    scheduleTab_->setPicture(window_.companionPicture("scheduleTabSelected"));
    scheduleTab_->show();
    subPages_->setCurrentIndex(kSetupSubPageSchedule);
    refreshPeriodDisplay();
}

void SetupPage::refreshPeriodDisplay() {
    const maintenance::BackupStatus status = maintenance::BackupStatusOf(shownRecord());
    backupWaitLabel_->setText(Q(maintenance::WaitText(status)));
    backupPeriodLabel_->setText(Q(maintenance::PeriodText(status.period, presets_.unitHours)));
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
        state_, settingBusy_, command, maintenance::BackupStatusOf(shownRecord()).period,
        window_.SelectedDevice(), *this);
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
    if (command.value == maintenance::BackupStatusOf(shownRecord()).period) {
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
