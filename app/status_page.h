#pragma once
// The Status page of the main window: the selected device's array mode, its
// two members, the rebuild or health state, fan and temperature, and the
// buzzer box; and the device labels every page uses (firmware text, device
// hints, window caption). It builds and owns its controls, and draws the
// devices' decoded views (MainWindow::deviceView), never a record or a disk.
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <string>

#include "client/enclosure_records.h"
#include "common/state.h"
#include "service/enclosure_status.h"

class QCheckBox;
class QColor;
class QFrame;
class QLabel;

namespace raid::app {

class PictureButton;
class MainWindow;

// The health label while no rebuild runs: "Failure" with no member present, "Normal"
// with both, "Single HDD\nPresent" with one.
std::string HealthText(std::uint8_t diskStateFlags);

// The health label during a rebuild: "45%\n<<<<\nRebuilding" while HDD1 is rebuilt from
// HDD2, "45%\n>>>>\nRebuilding" while only HDD2 is.
std::string RebuildText(bool hdd1Rebuilding, std::uint8_t percent);

// The engine's, so that the window and the service say the same.
using service::FirmwareImpliesSensors;

class StatusPage : public QWidget {
    Q_OBJECT
public:
    // Builds the controls in their start state: no device shown, Device1's
    // pictures selected. The companions of the device pictures must be
    // among `window`'s children already.
    StatusPage(MainWindow& window, QWidget* parent);

    // Redraws the page for the selected device. -1 (nothing done) unless the
    // Status page is shown, a device is known and a selector is ticked.
    // `full` redraws the members even when their states did not change.
    int RefreshStatusPage(bool full);
    // Firmware text, sensors-shown flag, device hints, window caption and the
    // page buttons for the current device.
    void refreshDeviceLabels();

    // The device choice. A click on selector box `index` (0: "Device1", 1:
    // "Device2"), which has already toggled its tick.
    void onSelectorClicked(int index);
    // A click on a device picture: device `index` becomes the shown one.
    void selectDevice(int index);
    // A click on "Buzzer Mute": queues the mute (ticked) or its end for the
    // shown device and greys the box until a poll has read the setting back.
    // Ignored while the first full refresh is still to come.
    void onBuzzerMuteClicked(bool checked);

    // Selector `index` (0 or 1) and its device picture shown and ticked for
    // a device found, hidden and unticked for none; a ticked one that goes
    // away is unticked as the user's click would.
    void setDevicePresent(int index, bool present);
    bool isSelectorChecked(int index) const;
    // Unticks a ticked selector as the user's click would.
    void uncheckSelector(int index);
    // The selector boxes take clicks or not (not during a firmware upgrade).
    void setSelectorsEnabled(bool enabled);
    void showEventLogButton();

    // The line that tells that drives are being detected.
    QString detectionNotice() const;
    bool detectionNoticeVisible() const;
    void setDetectionNotice(const QString& text);
    void setDetectionNoticeVisible(bool visible);
    // Why no enclosure can be reached, and what to do: shown above the
    // member rows in place of the detection line; hidden when empty.
    // accessNotice() is empty while hidden.
    QString accessNotice() const;
    QString accessNoticeText() const;
    void showAccessNotice(const QString& text);

    int SelectedDevice() const { return selectedDevice_; }
    // Set while the page is redrawn for a newly selected device.
    bool DeviceSwitchInProgress() const { return deviceSwitch_; }
    const std::string& FirmwareVersionText() const { return firmwareVersionText_; }
    bool sensorsShown() const { return sensorsShown_; }
    const std::string& Hint(int deviceIndex) const;
    // Member `member`'s (0: HDD1, 1: HDD2) bay caption and model line as
    // shown.
    QString memberCaption(int member) const;
    QString memberModel(int member) const;

private:
    void buildControls();
    // Member `member`'s capacity and model labels, by its class bits.
    void drawMember(const client::MemberStatus& m, int member);
    bool anySelectorChecked() const;
    QCheckBox* selector(int index) const { return index == 0 ? device1Box_ : device2Box_; }

    MainWindow& window_;
    AppState& state_;

    QCheckBox* device1Box_ = nullptr;
    QCheckBox* device2Box_ = nullptr;
    QCheckBox* buzzerMuteBox_ = nullptr;
    QFrame* sensorsPanel_ = nullptr;
    QLabel* fanSpeedLabel_ = nullptr;
    QLabel* temperatureLabel_ = nullptr;
    QLabel* arrayModeLabel_ = nullptr;
    QLabel* healthLabel_ = nullptr;
    // HDD1's and HDD2's bay caption, capacity and model.
    std::array<QLabel*, 2> memberCaptionLabel_{};
    std::array<QLabel*, 2> memberCapacityLabel_{};
    std::array<QLabel*, 2> memberModelLabel_{};
    QLabel* configuredCapacityLabel_ = nullptr;
    QLabel* firmwareLabel_ = nullptr;
    QLabel* deviceNoteLabel_ = nullptr;
    QLabel* detectionNotice_ = nullptr;
    QLabel* accessNoticeLabel_ = nullptr;
    PictureButton* device1Picture_ = nullptr;
    PictureButton* device2Picture_ = nullptr;
    PictureButton* eventLogButton_ = nullptr;

    int selectedDevice_ = 0;
    std::string firmwareVersionText_;
    bool sensorsShown_ = false;
    std::uint8_t shownDiskFlags_ = 0xFF;       // forces the first drawing
    std::uint8_t shownRebuildPercent_ = 0xFF;  // none
    bool deviceSwitch_ = false;
    std::array<std::string, kDeviceSlots> hints_{};
    // Per device, the buzzer tick last asked for, shown until it is read back.
    std::array<bool, kDeviceSlots> askedMute_{};
};

}  // namespace raid::app
