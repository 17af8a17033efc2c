#pragma once
// Runs the firmware subsystem's operations from a window: loading a
// firmware file, the upgrade and the SMART dump. The operations run on the
// calling (main) thread and keep its event loop turning between
// single-sector reads, at most pumpIntervalMs apart while device work goes
// on; what they show comes out as signals, which the window connects
// directly (a message slot may show a modal box: the operation waits).
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <span>
#include <vector>

#include "common/state.h"
#include "device/channel.h"
#include "firmware/firmware_image.h"
#include "firmware/firmware_state.h"
#include "firmware/flash_step.h"
#include "firmware/upgrade.h"

namespace raid::firmware {

class UpgradeController : public QObject {
    Q_OBJECT
public:
    // Keeps references to all three; they must outlive the controller.
    UpgradeController(AppState& state, FirmwareState& fw, device::CommandChannel& ch,
                      QObject* parent = nullptr);
    ~UpgradeController() override;

    // Loads and checks the file at `path` against device `deviceIndex`,
    // replacing the loaded image; the status panels and messages come out
    // as signals. Does nothing (and returns an empty result) while an
    // exclusive operation runs.
    LoadResult load(const QString& path, int deviceIndex);
    // The same for an image built by the "Make Bin" window and saved as
    // `savedPath` (empty: not saved): checked as a loaded file is, the
    // panels set, refused or made the loaded image.
    LoadResult adopt(std::vector<std::uint8_t> bytes, const QString& savedPath, int deviceIndex);
    // The "File:" panel's text for a built image that was not saved.
    static constexpr const char* kUnsavedImageText = "(built by Make Bin, not saved)";
    // A load checked elsewhere (by the service): unload() lets the loaded
    // image go as the load starts, showLoad() then shows what the check
    // found and keeps an accepted image, as load() does.
    void unload();
    LoadResult showLoad(LoadResult result, int deviceIndex);
    // Runs the upgrade of device `deviceIndex` to its end. Does nothing
    // (outcome Busy) while an exclusive operation runs, so a second click
    // that arrives through the event loop meanwhile is harmless.
    UpgradeResult start(int deviceIndex, const UpgradeOptions& options = {});
    bool isRunning() const;
    // An upgrade run elsewhere (the service's job), shown as this window
    // shows its own: follow() holds the window as an upgrade of device
    // `deviceIndex` does (false when an operation runs already), each step
    // comes out as the same signals, and letGo() ends it.
    bool follow(int deviceIndex);
    void showStep(const FlashStep& step);
    void letGo();
    // Saves the SMART buffers as "dSMART00.bin" and "sSMART00.bin" in
    // `folder` (each the first free name of its series).
    void saveSmartDumps(const QString& folder, std::span<const std::uint8_t> data,
                        std::span<const std::uint8_t> thresholds);

    // 0: the event loop turns before every single-sector read.
    void setPumpIntervalMs(int ms) { pumpIntervalMs_ = ms; }
    int pumpIntervalMs() const { return pumpIntervalMs_; }

    static constexpr int kDefaultPumpIntervalMs = 10;
    static constexpr int kProgressRefreshMs = 1000;

Q_SIGNALS:
    // Status bar panel `panel` (0..4); panel 4 is the last-result line.
    void statusPanelChanged(int panel, const QString& text);
    // A modal message box with an OK button.
    void messageRequested(const QString& text, const QString& caption,
                          raid::firmware::MessageIcon icon);
    // The device selectors take clicks or not.
    void selectorsEnabledChanged(bool enabled);
    // The progress display: label and bar maximum (position 0), the phase
    // panel's caption (panel shown), the bar's position, and the end (phase
    // panel hidden). The position also comes once a second meanwhile.
    void progressStarted(const QString& label, int maximum);
    void phaseShown(const QString& caption);
    void progressChanged(int position);
    void progressEnded();
    // The loaded image was replaced or released.
    void imageChanged(bool loaded);

private:
    class Host;
    class Follower;
    void pump();
    // Shows what a load or build found and keeps an accepted image.
    LoadResult take(LoadResult result, int deviceIndex);

    AppState& state_;
    FirmwareState& fw_;
    device::CommandChannel& ch_;
    std::unique_ptr<Host> host_;
    QTimer* progressTimer_ = nullptr;
    QElapsedTimer sincePump_;
    int pumpIntervalMs_ = kDefaultPumpIntervalMs;
    bool following_ = false;
    bool progressShown_ = false;  // a followed upgrade's bar began and has not ended
};

}  // namespace raid::firmware
