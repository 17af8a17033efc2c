#include "app/upgrade_controller.h"

#include <QCoreApplication>

#include "firmware/checked_device.h"
#include "firmware/dump_file.h"
#include "firmware/exclusive_operation.h"
#include "firmware/upgrade_host.h"

namespace raid::firmware {

class UpgradeController::Host final : public UpgradeHost {
public:
    explicit Host(UpgradeController& c) : c_(c) {}

    void SetStatusText(const std::string& text) override {
        Q_EMIT c_.statusPanelChanged(4, QString::fromStdString(text));
    }
    void ShowMessage(const Message& m) override {
        Q_EMIT c_.messageRequested(QString::fromStdString(m.text),
                                   QString::fromStdString(m.caption), m.icon);
    }
    void SetSelectorsEnabled(bool enabled) override { Q_EMIT c_.selectorsEnabledChanged(enabled); }
    void BeginProgress(const std::string& label, std::uint32_t maximum) override {
        Q_EMIT c_.progressStarted(QString::fromStdString(label), static_cast<int>(maximum));
        c_.progressTimer_->start();
    }
    void ShowPhase(const std::string& caption) override {
        Q_EMIT c_.phaseShown(QString::fromStdString(caption));
    }
    void SetProgress(std::uint32_t position) override {
        Q_EMIT c_.progressChanged(static_cast<int>(position));
    }
    void EndProgress() override {
        c_.progressTimer_->stop();
        Q_EMIT c_.progressEnded();
    }
    void Pump() override { c_.pump(); }
    bool IsClosing() const override { return c_.state_.shell.closing.load(); }

private:
    UpgradeController& c_;
};

// A followed upgrade's steps, shown as the window's own upgrade shows them,
// with the progress counter that the once-a-second refresh reads.
class UpgradeController::Follower final : public FlashStepSink {
public:
    explicit Follower(UpgradeController& c) : c_(c) {}

    void SetStatusText(const std::string& text) override { c_.host_->SetStatusText(text); }
    void ShowMessage(const Message& m) override { c_.host_->ShowMessage(m); }
    void BeginProgress(const std::string& label, std::uint32_t maximum) override {
        c_.fw_.progressCounter = 0;
        c_.progressShown_ = true;
        c_.host_->BeginProgress(label, maximum);
    }
    void ShowPhase(const std::string& caption) override { c_.host_->ShowPhase(caption); }
    void SetProgress(std::uint32_t position) override {
        c_.fw_.progressCounter = position;
        c_.host_->SetProgress(position);
    }
    void EndProgress() override {
        c_.progressShown_ = false;
        c_.host_->EndProgress();
    }

private:
    UpgradeController& c_;
};

UpgradeController::UpgradeController(AppState& state, FirmwareState& fw, device::CommandChannel& ch,
                                     QObject* parent)
    : QObject(parent), state_(state), fw_(fw), ch_(ch), host_(std::make_unique<Host>(*this)) {
    setObjectName("upgradeController");
    progressTimer_ = new QTimer(this);
    progressTimer_->setObjectName("progressTimer");
    progressTimer_->setInterval(kProgressRefreshMs);
    connect(progressTimer_, &QTimer::timeout, this,
            [this] { Q_EMIT progressChanged(static_cast<int>(fw_.progressCounter)); });
}

UpgradeController::~UpgradeController() = default;

void UpgradeController::pump() {
    if (sincePump_.isValid() && sincePump_.elapsed() < pumpIntervalMs_) return;
    sincePump_.start();
    QCoreApplication::processEvents();
}

bool UpgradeController::isRunning() const { return state_.shell.exclusiveOperation.load(); }

LoadResult UpgradeController::load(const QString& path, int deviceIndex) {
    if (isRunning()) return {};
    fw_.image.Release();
    fw_.checkedFor.reset();
    return take(LoadFirmwareFile(path.toStdString(), TargetOf(state_, deviceIndex)), deviceIndex);
}

LoadResult UpgradeController::adopt(std::vector<std::uint8_t> bytes, const QString& savedPath,
                                    int deviceIndex) {
    if (isRunning()) return {};
    fw_.image.Release();
    fw_.checkedFor.reset();
    LoadResult result = ValidateFirmware(bytes, TargetOf(state_, deviceIndex));
    result.texts.file =
        "File:" + (savedPath.isEmpty() ? std::string(kUnsavedImageText) : savedPath.toStdString());
    return take(std::move(result), deviceIndex);
}

void UpgradeController::unload() {
    if (isRunning()) return;
    fw_.image.Release();
    fw_.checkedFor.reset();
}

LoadResult UpgradeController::showLoad(LoadResult result, int deviceIndex) {
    if (isRunning()) return {};
    return take(std::move(result), deviceIndex);
}

LoadResult UpgradeController::take(LoadResult result, int deviceIndex) {
    const std::pair<int, const std::string*> panels[] = {{4, &result.texts.file},
                                                         {0, &result.texts.checksum},
                                                         {2, &result.texts.deviceCode},
                                                         {3, &result.texts.fileCode}};
    for (const auto& [panel, text] : panels)
        if (!text->empty()) Q_EMIT statusPanelChanged(panel, QString::fromStdString(*text));
    for (const Message& m : result.messages) host_->ShowMessage(m);
    if (result.image) {
        fw_.image = *result.image;
        fw_.checkedFor = CheckedDeviceOf(state_, deviceIndex, ch_.disks);
    }
    Q_EMIT imageChanged(fw_.image.Loaded());
    return result;
}

UpgradeResult UpgradeController::start(int deviceIndex, const UpgradeOptions& options) {
    if (isRunning()) return {};
    sincePump_.invalidate();
    return RunUpgrade(state_, fw_, ch_, *host_, deviceIndex, options);
}

bool UpgradeController::follow(int deviceIndex) {
    if (!BeginExclusiveOperation(state_.shell, *host_)) return false;
    state_.shell.operationDeviceIndex =
        deviceIndex < 0 ? kNoOperationDevice : static_cast<std::uint32_t>(deviceIndex);
    following_ = true;
    progressShown_ = false;
    return true;
}

void UpgradeController::showStep(const FlashStep& step) {
    if (!following_) return;
    Follower follower(*this);
    ReplayStep(step, follower);
}

void UpgradeController::letGo() {
    if (!following_) return;
    following_ = false;
    // A bar whose end never came (the service went away) stops here.
    if (progressShown_) showStep({.kind = FlashStepKind::ProgressEnds});
    EndExclusiveOperation(state_.shell, *host_);
}

void UpgradeController::saveSmartDumps(const QString& folder, std::span<const std::uint8_t> data,
                                       std::span<const std::uint8_t> thresholds) {
    SaveSmartDumps(folder.toStdString(), data, thresholds, *host_);
}

}  // namespace raid::firmware
