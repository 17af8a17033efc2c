#include "app/status_page.h"

#include <QCheckBox>
#include <QColor>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <algorithm>
#include <cctype>

#include "app/main_window.h"
#include "app/page_control.h"
#include "app/picture_button.h"
#include "app/setup_page.h"
#include "common/text.h"
#include "maintenance/period_setting.h"
#include "platform/disk.h"

namespace raid::app {
namespace {

// Font colours of the values: red marks trouble.
const QColor kRed(0xFF, 0x00, 0x00);
const QColor kBlue(0x00, 0x00, 0xFF);
const QColor kNavy(0x00, 0x00, 0x80);

constexpr std::uint8_t kEnvFanFailure = 0x01;
constexpr std::uint8_t kEnvOverTemperature = 0x04;
constexpr std::uint8_t kEnvSensors = 0xA0;
constexpr std::uint8_t kBuzzerSounding = 0x01;
constexpr std::uint32_t kLastFirmwareWithoutSensors = 100125;

// A font colour that a disabled label still draws greyed: only the active
// and inactive colour groups take it.
void SetFontColour(QLabel* label, const QColor& colour) {
    QPalette p = label->palette();
    p.setColor(QPalette::Active, QPalette::WindowText, colour);
    p.setColor(QPalette::Inactive, QPalette::WindowText, colour);
    label->setPalette(p);
}

template <typename T>
T* Control(MainWindow& window, const char* name) {
    return PageControl<T>(window, name, "status page");
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

const Record512& IdentifyOf(const AppState& state, int deviceIndex) {
    static const Record512 kEmpty{};
    if (deviceIndex < 0 || deviceIndex >= kDeviceTableSize) return kEmpty;
    const int disk = state.discovery.DiskOf(deviceIndex);
    if (disk >= kMaxDisks) return kEmpty;
    return state.discovery.identifyRecord[static_cast<std::size_t>(disk)];
}

}  // namespace

const Record512& StatusRecordOf(const AppState& state, int deviceIndex) {
    static const Record512 kEmpty{};
    if (deviceIndex < 0 || deviceIndex >= kDeviceTableSize) return kEmpty;
    const int disk = state.discovery.DiskOf(deviceIndex);
    if (disk >= kMaxDisks) return kEmpty;
    return state.monitor.deviceStatusRecord[static_cast<std::size_t>(disk)];
}

std::string HealthText(std::uint8_t diskStateFlags) {
    const std::uint8_t present =
        diskStateFlags & (diskstate::kHdd1Present | diskstate::kHdd2Present);
    if (present == 0) return "Failure";
    if (present == (diskstate::kHdd1Present | diskstate::kHdd2Present)) return "Normal";
    return "Single HDD\nPresent";
}

std::string RebuildText(std::uint8_t rebuildFlags, std::uint8_t percent) {
    return std::to_string(percent) +
           ((rebuildFlags & 0x01) ? "%\n<<<<\nRebuilding" : "%\n>>>>\nRebuilding");
}

bool FirmwareImpliesSensors(const std::string& firmwareText) {
    if (firmwareText.size() < 7 || firmwareText[6] != '.') return false;
    std::uint32_t n = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        const auto c = static_cast<unsigned char>(firmwareText[i]);
        if (!std::isdigit(c)) return false;
        n = n * 10 + (c - '0');
    }
    return n > kLastFirmwareWithoutSensors;
}

std::string DeviceHint(const DiscoveryState& d, int deviceIndex) {
    std::string hint;
    const int disk = d.DiskOf(deviceIndex);
    if (disk < kMaxDisks) {
        hint = text::ControllerModelText(d.identifyRecord[static_cast<std::size_t>(disk)]);
    }
    hint += " [";
    bool first = true;
    for (const VolumeRecord& v : d.volumeTable) {
        if (v.driveType != platform::kDriveFixed || v.diskNumber != disk) continue;
        if (!first) hint += ' ';
        hint += v.label;
        first = false;
    }
    return hint + "]";
}

StatusPage::StatusPage(MainWindow& window)
    : window_(window),
      state_(window.state()),
      device1Box_(Control<QCheckBox>(window, "device1Box")),
      device2Box_(Control<QCheckBox>(window, "device2Box")),
      buzzerMuteBox_(Control<QCheckBox>(window, "buzzerMuteBox")),
      sensorsPanel_(Control<QFrame>(window, "sensorsPanel")),
      fanSpeedLabel_(Control<QLabel>(window, "fanSpeedLabel")),
      temperatureLabel_(Control<QLabel>(window, "temperatureLabel")),
      arrayModeLabel_(Control<QLabel>(window, "arrayModeLabel")),
      healthLabel_(Control<QLabel>(window, "healthLabel")),
      memberCapacityLabel_{Control<QLabel>(window, "hdd1CapacityLabel"),
                           Control<QLabel>(window, "hdd2CapacityLabel")},
      memberModelLabel_{Control<QLabel>(window, "hdd1ModelLabel"),
                        Control<QLabel>(window, "hdd2ModelLabel")},
      configuredCapacityLabel_(Control<QLabel>(window, "configuredCapacityLabel")),
      firmwareLabel_(Control<QLabel>(window, "firmwareLabel")),
      deviceNoteLabel_(Control<QLabel>(window, "deviceNoteLabel")),
      device1Picture_(Control<PictureButton>(window, "device1Picture")),
      device2Picture_(Control<PictureButton>(window, "device2Picture")),
      eventLogButton_(Control<PictureButton>(window, "eventLogButton")),
      upgradeDevice1Picture_(Control<PictureButton>(window, "upgradeDevice1Picture")),
      upgradeDevice2Picture_(Control<PictureButton>(window, "upgradeDevice2Picture")) {
    QObject::connect(buzzerMuteBox_, &QCheckBox::clicked, buzzerMuteBox_,
                     [this](bool checked) { onBuzzerMuteClicked(checked); });
}

const std::string& StatusPage::Hint(int deviceIndex) const {
    static const std::string kNone;
    if (deviceIndex < 0 || deviceIndex >= kDeviceSlots) return kNone;
    return hints_[static_cast<std::size_t>(deviceIndex)];
}

bool StatusPage::anySelectorChecked() const {
    return device1Box_->isChecked() || device2Box_->isChecked();
}

int StatusPage::RefreshStatusPage(bool full) {
    ShellFlags& shell = state_.shell;
    DiscoveryState& d = state_.discovery;
    if (window_.CurrentPage() != kPageStatus || d.deviceCount == 0 || !anySelectorChecked())
        return -1;

    const Record512& r = StatusRecordOf(state_, selectedDevice_);
    firmwareLabel_->setText(Q(firmwareVersionText_));

    // Fan and temperature.
    const std::uint8_t env = r[rec::kEnvironment];
    SetFontColour(fanSpeedLabel_, (env & kEnvFanFailure) ? kRed : kBlue);
    fanSpeedLabel_->setText(QString::number(r[rec::kFanHigh] * 256 + r[rec::kFanLow]));
    SetFontColour(temperatureLabel_, (env & kEnvOverTemperature) ? kRed : kBlue);
    temperatureLabel_->setText(QString::number(r[rec::kTemperature]));
    sensorsPanel_->setVisible(sensorsShown_ && (env & 0xF0) == kEnvSensors && env != 0xAA);

    // The buzzer box shows the shown device's controller setting, read back
    // by the polls; a change not read back yet keeps the asked tick, greyed.
    const auto device = static_cast<std::size_t>(selectedDevice_);
    const DeviceSlot& slot = d.deviceSlots[device];
    if (slot.optionCapability & kBuzzerCapability) {
        buzzerMuteBox_->show();
        const bool awaitingReadBack = slot.optionChangePending != 0;
        buzzerMuteBox_->setChecked(awaitingReadBack ? askedMute_[device]
                                                    : (r[rec::kOptionBits] & kBuzzerSounding) == 0);
        buzzerMuteBox_->setEnabled(!awaitingReadBack);
    } else {
        buzzerMuteBox_->hide();
    }

    arrayModeLabel_->setText(Q(text::ArrayModeText(r[rec::kArrayMode])));

    shell.firstStatusPending = false;
    d.deviceChangeRedraw = false;

    const std::uint8_t flags = r[rec::kDiskStateFlags];
    if (full || flags != shownDiskFlags_) {
        shownDiskFlags_ = flags;
        drawMember(r, 0);
        drawMember(r, 1);
        configuredCapacityLabel_->setText(
            Q(text::CapacityText(text::Capacity40(text::Field(r, rec::kConfiguredCapacity, 5)))));
    }

    const std::uint8_t rebuild = r[rec::kRebuildFlags];
    if (rebuild & 0x03) {
        const std::uint8_t percent = r[rec::kRebuildPercent];
        if (shownRebuildPercent_ == 0xFF || shownRebuildPercent_ != percent) {
            healthLabel_->setText(Q(RebuildText(rebuild, percent)));
            shownRebuildPercent_ = percent;
        }
        eventLogButton_->show();
    } else {
        healthLabel_->setText(Q(HealthText(flags)));
        shownRebuildPercent_ = 0xFF;
    }
    return 0;
}

void StatusPage::drawMember(const Record512& r, int member) {
    QLabel* capacity = memberCapacityLabel_[member == 0 ? 0 : 1];
    QLabel* model = memberModelLabel_[member == 0 ? 0 : 1];
    const std::size_t modelAt = member == 0 ? rec::kHdd1Model : rec::kHdd2Model;
    const std::size_t capacityAt = member == 0 ? rec::kHdd1Capacity : rec::kHdd2Capacity;
    const std::size_t serialAt = member == 0 ? rec::kHdd1Serial : rec::kHdd2Serial;
    const unsigned nibble = (r[rec::kDiskStateFlags] >> (member == 0 ? 0 : 4)) & 0x0Fu;

    // The model is shown as the disk reports it, not trimmed.
    const QString modelText = Q(text::AtaText(text::Field(r, modelAt, 40)));
    const QString capacityText =
        Q(text::CapacityText(text::Capacity40(text::Field(r, capacityAt, 5)))) + "\n";

    if (nibble & diskstate::kHdd1Absent) {
        // Greyed, keeping the last disk known in the bay.
        if (!text::SerialText(text::Field(r, serialAt, 20)).empty()) {
            capacity->setText(capacityText);
            model->setText(modelText);
        }
        capacity->setEnabled(false);
        model->setEnabled(false);
    } else if (nibble & diskstate::kHdd1Present) {
        SetFontColour(capacity, kNavy);
        capacity->setText(capacityText);
        model->setText(modelText);
        capacity->setEnabled(true);
        model->setEnabled(true);
    } else if (nibble & diskstate::kHdd1Failed) {
        SetFontColour(capacity, kRed);
        capacity->setText(capacityText);
        model->setText(modelText);
        capacity->setEnabled(true);
        model->setEnabled(false);
    } else if (nibble & diskstate::kHdd1Inserted) {
        // Not part of the array yet: the labels stay as they are.
    } else {
        capacity->clear();
        model->clear();
    }
}

void StatusPage::refreshDeviceLabels() {
    if (!anySelectorChecked()) return;
    DiscoveryState& d = state_.discovery;
    const int current =
        window_.CurrentPage() == kPageUpgrade ? window_.selectedUpgradeDevice() : selectedDevice_;
    d.currentDevice = current;

    firmwareVersionText_ = text::FirmwareText(IdentifyOf(state_, current));
    const DeviceSlot& slot = d.deviceSlots[static_cast<std::size_t>(current)];
    sensorsShown_ = slot.hasSensors != 0 || FirmwareImpliesSensors(firmwareVersionText_);
    deviceNoteLabel_->clear();

    const int count = std::min(d.deviceCount, kDeviceSlots);
    for (int k = 0; k < count; ++k) {
        hints_[static_cast<std::size_t>(k)] = DeviceHint(d, k);
        if (k < kShownDevices) (k == 0 ? device1Box_ : device2Box_)->setToolTip(Q(Hint(k)));
    }
    device1Picture_->setToolTip(Q(Hint(0)));
    upgradeDevice1Picture_->setToolTip(Q(Hint(0)));
    device2Picture_->setToolTip(Q(Hint(1)));
    upgradeDevice2Picture_->setToolTip(Q(Hint(1)));

    window_.setWindowTitle(window_.applicationTitle() + " - " + Q(Hint(current)));
    window_.layoutPageButtons(slot.featureMask);
    if (slot.optionCapability & maintenance::kScheduleCapability)
        window_.setupPage().updatePresetControls(slot);
}

void StatusPage::onSelectorClicked(int index) {
    QCheckBox* self = index == 0 ? device1Box_ : device2Box_;
    QCheckBox* other = index == 0 ? device2Box_ : device1Box_;
    PictureButton* status = index == 0 ? device1Picture_ : device2Picture_;
    PictureButton* upgrade = index == 0 ? upgradeDevice1Picture_ : upgradeDevice2Picture_;
    DiscoveryState& d = state_.discovery;

    if (self->isChecked()) {
        status->show();
        upgrade->show();
        if (!other->isChecked()) {
            selectedDevice_ = index;
            d.currentDevice = index;
            window_.showPage();
        }
    } else {
        status->hide();
        upgrade->hide();
        if (!other->isChecked()) return;
        selectedDevice_ = 1 - index;
        d.currentDevice = selectedDevice_;
        window_.showPage();
    }
    // Ticking the box again gives a device that stopped answering a fresh
    // start.
    d.deviceSlots[static_cast<std::size_t>(index)].failureCount = 0;
    refreshDeviceLabels();
    window_.showPage();
    if (window_.CurrentPage() == kPageStatus) RefreshStatusPage(true);
}

void StatusPage::onBuzzerMuteClicked(bool checked) {
    // The first refresh sets the tick from the controller; that is not the
    // user's choice.
    if (state_.shell.firstStatusPending.load()) return;
    if (selectedDevice_ >= 0 && selectedDevice_ < kDeviceSlots)
        askedMute_[static_cast<std::size_t>(selectedDevice_)] = checked;
    buzzerMuteBox_->setEnabled(false);
    if (window_.clientMode()) return window_.setBuzzerThroughService(selectedDevice_, checked);
    maintenance::SetBuzzerMute(state_, selectedDevice_, checked);
}

void StatusPage::selectDevice(int index) {
    selectedDevice_ = index;
    device1Picture_->setPicture(
        window_.companionPicture(selectedDevice_ == 0 ? "device1Selected" : "device1Unselected"));
    device2Picture_->setPicture(
        window_.companionPicture(selectedDevice_ == 1 ? "device2Selected" : "device2Unselected"));
    state_.discovery.currentDevice = selectedDevice_;
    deviceSwitch_ = true;
    refreshDeviceLabels();
    RefreshStatusPage(true);
    deviceSwitch_ = false;
}

}  // namespace raid::app
