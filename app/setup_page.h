#pragma once
// The Setup page of the main window: the schedule-backup period of the
// device shown on the Status page. It shows the current period and the time
// to the next backup, offers "Off", the device's three presets and a user
// period of days and hours, and applies the choice through the monitoring
// worker. It builds and owns its controls, and draws the device's decoded
// view (MainWindow::deviceView), never a record or a disk.
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "client/enclosure_access.h"
#include "client/enclosure_records.h"
#include "common/state.h"
#include "maintenance/period_setting.h"
#include "maintenance/schedule.h"
#include "monitor/pending_command.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QRadioButton;
class QStackedWidget;

namespace raid::app {

class MainWindow;
class PictureButton;

// Tops of the two lower preset buttons: with the "User Period" row below
// them, and without it.
inline constexpr int kLowerPresetTopWithUserPeriod = 152;
inline constexpr int kLowerPresetTop = 160;

// The sub-pages of the Setup page; only the schedule one is used.
inline constexpr int kSetupSubPageInitialize = 0;
inline constexpr int kSetupSubPageSchedule = 1;

class SetupPage final : public QWidget, public maintenance::PeriodSettingHost {
    Q_OBJECT
public:
    // Builds the controls in their start state: the initialize tab shown,
    // the period lists filled, the backup box and the Set button hidden.
    SetupPage(MainWindow& window, QWidget* parent);

    // For a device with schedule backup: its presets and unit become the
    // shown ones, the preset buttons take their durations as captions, and
    // the "User Period" row is offered when the device takes a period of
    // days and hours (its hour list then starts at "00").
    void updatePresetControls(const client::DeviceStatus& device);
    // As the page opens: checks the button of the current period of the
    // Status page's device ("Off" when no button matches).
    void prepareChoice();
    // As the page opens: the schedule tab in the place of the unused
    // initialize tab, selected, its sub-page and the period display.
    void showScheduleSubPage();
    // The current period and the time to the next backup of the Status
    // page's device; shows the Set button.
    void refreshPeriodDisplay();

    // The Set button: applies the checked choice. Ignored while no button is
    // checked.
    void onSetClicked();
    // The "Schedule Backup enable" box.
    void onBackupBoxClicked(bool checked);
    // Client mode: how the service's set of the period went.
    void onServicePeriodAnswer(const client::Answer& answer);

    // The shown presets and unit (0, 1, 7, 30 and 24 hours until a device
    // with schedule backup is shown).
    const monitor::BackupPresetTable& presets() const { return presets_; }
    bool settingBusy() const { return settingBusy_; }
    // How the last click on Set ended; nullopt before the first.
    std::optional<maintenance::PeriodSettingOutcome> lastOutcome() const { return lastOutcome_; }
    // The checked button; nullopt when none is.
    std::optional<maintenance::PeriodChoice> checkedChoice() const;

    // PeriodSettingHost.
    void Pump() override;
    void SleepMs(std::uint32_t ms) override;
    void SetStatusPanel(int panel, const std::string& text) override;
    void Message(const std::string& text, const std::string& caption, bool warning) override;
    void RefreshPeriodDisplay() override { refreshPeriodDisplay(); }

private:
    void buildControls();
    // The day and hour lists and their labels go with the "User Period"
    // button's tick.
    void showUserPeriodLists(bool shown);
    // The view of the device shown on the Status page.
    client::DeviceStatus shownDevice() const;
    // Client mode: the Set button's choice, sent to the service.
    void setThroughService(maintenance::PeriodChoice choice,
                           const maintenance::PeriodCommand& command);

    MainWindow& window_;
    AppState& state_;

    // "Off", the three presets and "User Period", in PeriodChoice order.
    std::array<QRadioButton*, 5> choiceButtons_{};
    QComboBox* periodDaysBox_ = nullptr;
    QComboBox* periodHoursBox_ = nullptr;
    QLabel* periodDaysLabel_ = nullptr;
    QLabel* periodHoursLabel_ = nullptr;
    QLabel* backupWaitLabel_ = nullptr;
    QLabel* backupPeriodLabel_ = nullptr;
    QCheckBox* scheduleBackupBox_ = nullptr;
    QStackedWidget* subPages_ = nullptr;
    PictureButton* initializeTab_ = nullptr;
    PictureButton* scheduleTab_ = nullptr;
    PictureButton* applyPeriodButton_ = nullptr;
    // Held down: repeated downs do not sink the Set button further.
    bool applyPeriodPressed_ = false;

    monitor::BackupPresetTable presets_;
    bool settingBusy_ = false;
    std::optional<maintenance::PeriodSettingOutcome> lastOutcome_;
};

}  // namespace raid::app
