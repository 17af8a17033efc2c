#pragma once
// The Upgrade page of the main window: the pictures that choose the device
// to upgrade, its firmware, the chosen file, the upgrade's state line, phase
// panel and progress bar, and the Load and Upgrade buttons. It builds and
// owns its controls and shows what the window's UpgradeController tells; the
// buttons' work (a file dialog, this process or the service) is the window's.
#include <QString>
#include <QWidget>

#include "common/state.h"

class QFrame;
class QLabel;
class QProgressBar;

namespace raid::firmware {
class UpgradeController;
}  // namespace raid::firmware

namespace raid::app {

class MainWindow;
class PictureButton;

class UpgradePage : public QWidget {
    Q_OBJECT
public:
    // Builds the controls in their start state (Device1 selected, its
    // picture hidden until a device is found) and shows what `controller`
    // tells of an upgrade. The companions of the device pictures must be
    // among `window`'s children already.
    UpgradePage(MainWindow& window, firmware::UpgradeController& controller, QWidget* parent);

    // The device to upgrade (0 or 1).
    int selectedDevice() const { return selectedDevice_; }
    // A click on a device picture: device `index` becomes the one to
    // upgrade, unless an upgrade holds a device.
    void selectDevice(int index);
    // As the page opens: the selected device becomes the current one, and
    // its picture and firmware are shown.
    void showSelection();
    // Device picture `index` (0 or 1), shown while its selector is ticked.
    void setDeviceShown(int index, bool shown);
    void setDeviceHint(int index, const QString& hint);
    // The chosen file's full path, or what stands for a built image.
    void showFirmwareFile(const QString& text);
    void setProgress(int position);
    // Load and Upgrade take clicks or not; setUpgradeEnabled: Upgrade alone.
    void setButtonsEnabled(bool enabled);
    void setUpgradeEnabled(bool enabled);

private:
    void buildControls();
    void showDevicePictures();
    void showDeviceFirmware();
    PictureButton* picture(int index) const {
        return index == 0 ? upgradeDevice1Picture_ : upgradeDevice2Picture_;
    }

    MainWindow& window_;
    AppState& state_;
    int selectedDevice_ = 0;

    PictureButton* upgradeDevice1Picture_ = nullptr;
    PictureButton* upgradeDevice2Picture_ = nullptr;
    PictureButton* loadFirmwareButton_ = nullptr;
    PictureButton* startUpgradeButton_ = nullptr;
    QFrame* upgradeStepPanel_ = nullptr;
    QLabel* upgradeStepLabel_ = nullptr;
    QLabel* upgradeStateLabel_ = nullptr;
    QLabel* firmwareFileLabel_ = nullptr;
    QLabel* upgradeFirmwareLabel_ = nullptr;
    QProgressBar* upgradeProgressBar_ = nullptr;
};

}  // namespace raid::app
