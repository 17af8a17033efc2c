#include "app/status_page.h"

#include <QCheckBox>
#include <QColor>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <algorithm>

#include "app/layout_parts.h"
#include "app/main_window.h"
#include "app/picture_button.h"
#include "app/setup_page.h"
#include "app/upgrade_page.h"
#include "common/text.h"
#include "maintenance/period_setting.h"
#include "skin/skin.h"

namespace raid::app {
namespace {

// Font colours of the values: red marks trouble.
const QColor kRed(0xFF, 0x00, 0x00);
const QColor kBlue(0x00, 0x00, 0xFF);
const QColor kNavy(0x00, 0x00, 0x80);

// A font colour that a disabled label still draws greyed: only the active
// and inactive colour groups take it.
void SetFontColour(QLabel* label, const QColor& colour) {
    QPalette p = label->palette();
    p.setColor(QPalette::Active, QPalette::WindowText, colour);
    p.setColor(QPalette::Inactive, QPalette::WindowText, colour);
    label->setPalette(p);
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Both members' class bits, HDD2's in the high nibble, as the record has them.
std::uint8_t DiskStateFlags(const client::DeviceStatus& device) {
    return static_cast<std::uint8_t>((device.members[0].stateFlags & 0x0F) |
                                     (device.members[1].stateFlags << 4));
}

}  // namespace

std::string HealthText(std::uint8_t diskStateFlags) {
    const std::uint8_t present =
        diskStateFlags & (diskstate::kHdd1Present | diskstate::kHdd2Present);
    if (present == 0) return "Failure";
    if (present == (diskstate::kHdd1Present | diskstate::kHdd2Present)) return "Normal";
    return "Single HDD\nPresent";
}

std::string RebuildText(bool hdd1Rebuilding, std::uint8_t percent) {
    return std::to_string(percent) +
           (hdd1Rebuilding ? "%\n<<<<\nRebuilding" : "%\n>>>>\nRebuilding");
}

StatusPage::StatusPage(MainWindow& window, QWidget* parent)
    : QWidget(parent), window_(window), state_(window.state()) {
    setObjectName("statusPage");
    buildControls();
    connect(device1Box_, &QCheckBox::clicked, this, [this](bool checked) {
        window_.askPolled(0, checked);
        onSelectorClicked(0);
    });
    connect(device2Box_, &QCheckBox::clicked, this, [this](bool checked) {
        window_.askPolled(1, checked);
        onSelectorClicked(1);
    });
    connect(device1Picture_, &PictureButton::clicked, this, [this] { selectDevice(0); });
    connect(device2Picture_, &PictureButton::clicked, this, [this] { selectDevice(1); });
    connect(eventLogButton_, &PictureButton::clicked, this, [this] { window_.openEventLog(); });
    connect(buzzerMuteBox_, &QCheckBox::clicked, this,
            [this](bool checked) { onBuzzerMuteClicked(checked); });

    // Nothing to show until discovery finds a device; Device1 comes first.
    sensorsPanel_->hide();
    buzzerMuteBox_->hide();
    device1Box_->hide();
    device2Box_->hide();
    device1Picture_->hide();
    device2Picture_->hide();
    device1Picture_->setPicture(window_.companionPicture("device1Selected"));
    device2Picture_->setPicture(window_.companionPicture("device2Unselected"));
}

void StatusPage::buildControls() {
    const QFont base = font();
    device1Picture_ =
        MakePicture("device1Picture", this, QRect(14, 10, skin::kDeviceWidth, skin::kDeviceHeight));
    device2Picture_ = MakePicture("device2Picture", this,
                                  QRect(144, 10, skin::kDeviceWidth, skin::kDeviceHeight));
    device1Box_ = new QCheckBox("Device1", this);
    device1Box_->setObjectName("device1Box");
    device1Box_->setGeometry(30, 98, 100, 20);
    device2Box_ = new QCheckBox("Device2", this);
    device2Box_->setObjectName("device2Box");
    device2Box_->setGeometry(160, 98, 100, 20);
    for (QWidget* selector : std::initializer_list<QWidget*>{device1Box_, device2Box_,
                                                             device1Picture_, device2Picture_})
        selector->setToolTipDuration(6000);

    // The state box at the top right: health or rebuild progress, with the
    // controller's firmware below it.
    Card(this, "stateFrame", QRect(282, 10, 164, 88));
    healthLabel_ = MakeLabel("healthLabel", this, QRect(286, 14, 156, 80));
    healthLabel_->setAlignment(Qt::AlignCenter);
    healthLabel_->setFont(Bold(base, 14));
    Caption(this, "firmwareCaption", QRect(284, 102, 70, 18), "Firmware");
    firmwareLabel_ = MakeLabel("firmwareLabel", this, QRect(340, 102, 104, 18));
    firmwareLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    deviceNoteLabel_ = MakeLabel("deviceNoteLabel", this, QRect(284, 120, 160, 14));
    deviceNoteLabel_->setAlignment(Qt::AlignRight | Qt::AlignTop);
    deviceNoteLabel_->setFont(Sized(base, 8));

    Rule(this, 136);
    Caption(this, "arrayModeCaption", QRect(14, 146, 76, 20), "Array Mode");
    arrayModeLabel_ = MakeLabel("arrayModeLabel", this, QRect(92, 142, 190, 28));
    arrayModeLabel_->setFont(Bold(base, 13));
    Caption(this, "capacityCaption", QRect(284, 146, 60, 20), "Capacity");
    configuredCapacityLabel_ = MakeLabel("configuredCapacityLabel", this, QRect(340, 142, 104, 28));
    configuredCapacityLabel_->setFont(Bold(base, 12));
    configuredCapacityLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    // One row per member: bay, capacity (with its line break the label is
    // two lines high) and model.
    const struct {
        const char* name;
        const char* member;
        const char* capacity;
        const char* model;
        int top;
    } members[2] = {{"hdd1", "HDD1", "hdd1CapacityLabel", "hdd1ModelLabel", 178},
                    {"hdd2", "HDD2", "hdd2CapacityLabel", "hdd2ModelLabel", 222}};
    for (std::size_t i = 0; i < 2; ++i) {
        const auto& m = members[i];
        Card(this, QString(m.name) + "Frame", QRect(14, m.top, 432, 38));
        // All three start on the same line, whatever their fonts.
        auto* bay =
            MakeLabel(QString(m.name) + "Caption", this, QRect(24, m.top + 10, 46, 20), m.member);
        bay->setFont(Bold(base, 10));
        auto* capacity = MakeLabel(m.capacity, this, QRect(76, m.top + 10, 84, 40));
        capacity->setFont(Bold(base, 10));
        auto* model = MakeLabel(m.model, this, QRect(164, m.top + 10, 276, 20));
        model->setFont(Sized(base, 10));
        for (QLabel* label : {bay, capacity, model})
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        memberCaptionLabel_[i] = bay;
        memberCapacityLabel_[i] = capacity;
        memberModelLabel_[i] = model;
    }

    Rule(this, 268);
    sensorsPanel_ = new QFrame(this);
    sensorsPanel_->setObjectName("sensorsPanel");
    sensorsPanel_->setGeometry(14, 274, 300, 24);
    MakeLabel("fanCaption", sensorsPanel_, QRect(0, 3, 30, 18), "Fan:");
    fanSpeedLabel_ = MakeLabel("fanSpeedLabel", sensorsPanel_, QRect(34, 3, 44, 18));
    fanSpeedLabel_->setFont(Bold(base, 10));
    Caption(sensorsPanel_, "fanUnit", QRect(80, 3, 34, 18), "RPM");
    MakeLabel("temperatureCaption", sensorsPanel_, QRect(132, 3, 86, 18), "Temperature:");
    temperatureLabel_ = MakeLabel("temperatureLabel", sensorsPanel_, QRect(220, 3, 28, 18));
    temperatureLabel_->setFont(Bold(base, 10));
    Caption(sensorsPanel_, "temperatureUnit", QRect(248, 3, 30, 18), QString::fromUtf8("\u00B0C"));
    buzzerMuteBox_ = new QCheckBox("Buzzer Mute", this);
    buzzerMuteBox_->setObjectName("buzzerMuteBox");
    buzzerMuteBox_->setGeometry(14, 312, 160, 22);

    eventLogButton_ = MakePicture("eventLogButton", this, Action(346, 306));
    eventLogButton_->hide();  // shown once a device is found
    WirePressedLook(eventLogButton_);

    detectionNotice_ = MakeLabel("detectionNotice", this, QRect(0, 150, skin::kPanelWidth, 40));
    detectionNotice_->setAlignment(Qt::AlignCenter);
    detectionNotice_->setFont(Bold(base, 16));

    // Why no enclosure can be reached, and what to do; hidden while they can.
    // Above the member rows, which it covers while there is nothing to show.
    accessNoticeLabel_ =
        MakeLabel("accessNoticeLabel", this, QRect(12, 150, skin::kPanelWidth - 24, 132));
    accessNoticeLabel_->setAlignment(Qt::AlignCenter);
    accessNoticeLabel_->setWordWrap(true);
    accessNoticeLabel_->setStyleSheet(
        "QLabel { background: #fff8e1; border: 1px solid #c9a227; padding: 8px; }");
    accessNoticeLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    accessNoticeLabel_->hide();
}

void StatusPage::setDevicePresent(int index, bool present) {
    QCheckBox* box = selector(index);
    PictureButton* picture = index == 0 ? device1Picture_ : device2Picture_;
    const bool wasTicked = box->isChecked();
    box->setVisible(present);
    box->setChecked(present);
    picture->setVisible(present);
    // A device that went away must not stay the shown one.
    if (wasTicked && !present) onSelectorClicked(index);
}

bool StatusPage::isSelectorChecked(int index) const {
    if (index != 0 && index != 1) return false;
    return selector(index)->isChecked();
}

void StatusPage::uncheckSelector(int index) {
    if (index != 0 && index != 1) return;
    QCheckBox* box = selector(index);
    if (!box->isChecked()) return;
    box->setChecked(false);
    // As the user's untick would: the shown device moves to one that answers.
    onSelectorClicked(index);
}

void StatusPage::setSelectorsEnabled(bool enabled) {
    device1Box_->setEnabled(enabled);
    device2Box_->setEnabled(enabled);
}

void StatusPage::showEventLogButton() { eventLogButton_->show(); }

QString StatusPage::detectionNotice() const { return detectionNotice_->text(); }

// Whether the line is shown on its page, whichever page is current.
bool StatusPage::detectionNoticeVisible() const { return !detectionNotice_->isHidden(); }

void StatusPage::setDetectionNotice(const QString& text) { detectionNotice_->setText(text); }

void StatusPage::setDetectionNoticeVisible(bool visible) { detectionNotice_->setVisible(visible); }

QString StatusPage::accessNotice() const {
    return accessNoticeLabel_->isHidden() ? QString() : accessNoticeLabel_->text();
}

QString StatusPage::accessNoticeText() const { return accessNoticeLabel_->text(); }

void StatusPage::showAccessNotice(const QString& text) {
    accessNoticeLabel_->setText(text);
    accessNoticeLabel_->setVisible(!text.isEmpty());
    if (text.isEmpty()) return;
    // It says more than "Drive detecting" would.
    accessNoticeLabel_->raise();
    setDetectionNoticeVisible(false);
}

const std::string& StatusPage::Hint(int deviceIndex) const {
    static const std::string kNone;
    if (deviceIndex < 0 || deviceIndex >= kDeviceSlots) return kNone;
    return hints_[static_cast<std::size_t>(deviceIndex)];
}

QString StatusPage::memberCaption(int member) const {
    return memberCaptionLabel_[member == 1 ? 1 : 0]->text();
}

QString StatusPage::memberModel(int member) const {
    return memberModelLabel_[member == 1 ? 1 : 0]->text();
}

bool StatusPage::anySelectorChecked() const {
    return device1Box_->isChecked() || device2Box_->isChecked();
}

int StatusPage::RefreshStatusPage(bool full) {
    ShellFlags& shell = state_.shell;
    DiscoveryState& d = state_.discovery;
    if (window_.CurrentPage() != kPageStatus || d.deviceCount == 0 || !anySelectorChecked())
        return -1;

    const client::DeviceStatus shown = window_.deviceView(selectedDevice_);
    firmwareLabel_->setText(Q(firmwareVersionText_));

    // Fan and temperature.
    SetFontColour(fanSpeedLabel_, shown.fanFailure ? kRed : kBlue);
    fanSpeedLabel_->setText(QString::number(shown.fanRpm));
    SetFontColour(temperatureLabel_, shown.overTemperature ? kRed : kBlue);
    temperatureLabel_->setText(QString::number(shown.temperature));
    sensorsPanel_->setVisible(sensorsShown_ && shown.sensorsRead);

    // The buzzer box shows the shown device's controller setting, read back
    // by the polls; a change not read back yet keeps the asked tick, greyed.
    if (shown.buzzerKnown) {
        buzzerMuteBox_->show();
        buzzerMuteBox_->setChecked(shown.buzzerChangePending
                                       ? askedMute_[static_cast<std::size_t>(selectedDevice_)]
                                       : shown.buzzerMuted);
        buzzerMuteBox_->setEnabled(!shown.buzzerChangePending);
    } else {
        buzzerMuteBox_->hide();
    }

    arrayModeLabel_->setText(Q(text::ArrayModeText(shown.arrayMode)));

    shell.firstStatusPending = false;
    d.deviceChangeRedraw = false;

    const std::uint8_t flags = DiskStateFlags(shown);
    if (full || flags != shownDiskFlags_) {
        shownDiskFlags_ = flags;
        drawMember(shown.members[0], 0);
        drawMember(shown.members[1], 1);
        configuredCapacityLabel_->setText(Q(text::CapacityText(shown.configuredCapacity)));
    }

    if (shown.members[0].rebuilding || shown.members[1].rebuilding) {
        const std::uint8_t percent = shown.rebuildPercent;
        if (shownRebuildPercent_ == 0xFF || shownRebuildPercent_ != percent) {
            healthLabel_->setText(Q(RebuildText(shown.members[0].rebuilding, percent)));
            shownRebuildPercent_ = percent;
        }
        eventLogButton_->show();
    } else {
        healthLabel_->setText(Q(HealthText(flags)));
        shownRebuildPercent_ = 0xFF;
    }
    return 0;
}

void StatusPage::drawMember(const client::MemberStatus& m, int member) {
    QLabel* capacity = memberCapacityLabel_[member == 0 ? 0 : 1];
    QLabel* model = memberModelLabel_[member == 0 ? 0 : 1];
    // The model is shown as the disk reports it, not trimmed.
    const QString modelText = Q(m.reportedModel);
    const QString capacityText = Q(text::CapacityText(m.capacity)) + "\n";
    const unsigned bits = m.stateFlags;

    if (bits & diskstate::kHdd1Absent) {
        // Greyed, keeping the last disk known in the bay.
        if (m.serialKept) {
            capacity->setText(capacityText);
            model->setText(modelText);
        }
        capacity->setEnabled(false);
        model->setEnabled(false);
    } else if (bits & diskstate::kHdd1Present) {
        SetFontColour(capacity, kNavy);
        capacity->setText(capacityText);
        model->setText(modelText);
        capacity->setEnabled(true);
        model->setEnabled(true);
    } else if (bits & diskstate::kHdd1Failed) {
        SetFontColour(capacity, kRed);
        capacity->setText(capacityText);
        model->setText(modelText);
        capacity->setEnabled(true);
        model->setEnabled(false);
    } else if (bits & diskstate::kHdd1Inserted) {
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

    const client::DeviceStatus device = window_.deviceView(current);
    firmwareVersionText_ = device.firmware;
    sensorsShown_ = device.sensorsKnown;
    deviceNoteLabel_->clear();

    const int count = std::min(d.deviceCount, kDeviceSlots);
    for (int k = 0; k < count; ++k) {
        hints_[static_cast<std::size_t>(k)] =
            k == current ? device.hint : window_.deviceView(k).hint;
        if (k < kShownDevices) (k == 0 ? device1Box_ : device2Box_)->setToolTip(Q(Hint(k)));
    }
    device1Picture_->setToolTip(Q(Hint(0)));
    window_.upgradePage().setDeviceHint(0, Q(Hint(0)));
    device2Picture_->setToolTip(Q(Hint(1)));
    window_.upgradePage().setDeviceHint(1, Q(Hint(1)));

    window_.setWindowTitle(window_.applicationTitle() + " - " + Q(Hint(current)));
    window_.layoutPageButtons(device.pages);
    if (device.backupKnown) window_.setupPage().updatePresetControls(device);
}

void StatusPage::onSelectorClicked(int index) {
    QCheckBox* self = selector(index);
    QCheckBox* other = selector(1 - index);
    PictureButton* status = index == 0 ? device1Picture_ : device2Picture_;
    UpgradePage& upgrade = window_.upgradePage();
    DiscoveryState& d = state_.discovery;

    if (self->isChecked()) {
        status->show();
        upgrade.setDeviceShown(index, true);
        if (!other->isChecked()) {
            selectedDevice_ = index;
            d.currentDevice = index;
            window_.showPage();
        }
    } else {
        status->hide();
        upgrade.setDeviceShown(index, false);
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
