#pragma once
// A firmware upgrade run by the service: one worker thread per enclosure,
// its own view of the device table and its own command channel, so that the
// monitor goes on polling the other enclosures while this one is flashed.
// The monitor keeps every other command off this enclosure until Finished().
#include <QDBusConnection>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "client/enclosure_access.h"
#include "common/state.h"
#include "firmware/firmware_image.h"
#include "firmware/firmware_state.h"
#include "firmware/upgrade.h"
#include "firmware/upgrade_host.h"
#include "platform/clock.h"
#include "platform/disk.h"

namespace raid::service {

// What raidctl flash tells of a finished upgrade: its exit code and lines
// (the same in this process and from the service).
client::Answer FlashAnswerOf(const firmware::UpgradeResult& result);

// check-firmware of `image` for device `index`: the load (its texts), and
// what raidctl tells besides them: the read warnings, then the refusal
// ("refused: ...", also of an image larger than the flash); 0 accepted, 5
// refused.
struct ImageCheck {
    firmware::LoadResult load;
    client::Answer answer;
};
ImageCheck CheckImage(const AppState& state, int index, std::span<const std::uint8_t> image);

// The image checked again, as a flash of device `index` starts from it,
// with the device it was checked for; none, with the refusal, otherwise.
std::optional<firmware::FirmwareState> FlashableImage(const AppState& state, int index,
                                                      std::span<const std::uint8_t> image,
                                                      platform::DiskSystem& disks,
                                                      std::string& refusal);

// The upgrade's host calls, relayed as steps; no person is asked anything.
// `stop`, asked at every pump and whenever the upgrade asks whether to go
// on, may stop the run before anything is erased (the upgrade asks only
// then).
class RelayHost final : public firmware::UpgradeHost {
public:
    using Step = std::function<void(const firmware::FlashStep&)>;
    RelayHost(Step step, const firmware::FirmwareState& fw, std::atomic<std::uint32_t>& progress,
              std::uint32_t total, std::function<bool()> stop = {})
        : step_(std::move(step)),
          fw_(fw),
          progress_(progress),
          total_(total),
          stop_(std::move(stop)) {}

    void SetStatusText(const std::string& text) override {
        Tell({.kind = Kind::StatusText, .text = text});
    }
    void ShowMessage(const firmware::Message& m) override {
        Tell({.kind = Kind::Message, .caption = m.caption, .text = m.text, .icon = m.icon});
    }
    void SetSelectorsEnabled(bool) override {}
    // A client's bar counts the job's steps, not the window's maximum.
    void BeginProgress(const std::string& label, std::uint32_t) override {
        Tell({.kind = Kind::ProgressBegins, .text = label, .value = total_});
    }
    void ShowPhase(const std::string& caption) override {
        Tell({.kind = Kind::Phase, .caption = caption});
    }
    void SetProgress(std::uint32_t) override { Tick(); }
    void EndProgress() override {
        Tick();
        Tell({.kind = Kind::ProgressEnds});
    }
    void Pump() override;
    bool IsClosing() const override { return stopAsked_ || (stop_ && stop_()); }

private:
    using Kind = firmware::FlashStepKind;
    void Tell(const firmware::FlashStep& step) {
        if (step_) step_(step);
    }
    void Tick();

    Step step_;
    const firmware::FirmwareState& fw_;
    std::atomic<std::uint32_t>& progress_;
    std::uint32_t total_;
    std::function<bool()> stop_;
    bool stopAsked_ = false;
};

// The steps the progress display counts for an image of `size` bytes on
// device `index`: erase steps, then programmed and read-back chunks.
std::uint32_t FlashStepsFor(const AppState& state, int index, std::uint64_t size);

// The part of the device table a flash needs, copied for a worker thread.
void CopyDeviceTable(const DiscoveryState& from, DiscoveryState& to);

class FlashJob {
public:
    // What the job tells as it runs; called on the worker thread.
    struct Events {
        // One thing the upgrade shows, as it shows it.
        RelayHost::Step step;
        std::function<void()> backupReady;
        // A note for the service's own log (not the starter's output).
        std::function<void(const std::string&)> say;
        // The outcome, with the progress the job reached.
        std::function<void(const client::Answer&, std::uint32_t progress)> completed;
    };

    // `state` is the service's: the device table is copied from it here, in
    // the caller's thread. The flash begins with Start(). `system`: for logind's shutdown
    // inhibitor while the flash runs.
    FlashJob(const AppState& state, int index, firmware::FirmwareState image,
             platform::DiskSystem& disks, platform::Clock& clock, QDBusConnection system,
             bool backupFirst, Events events);
    ~FlashJob();  // waits for the worker: a flash is never cut short
    void Start();
    FlashJob(const FlashJob&) = delete;
    FlashJob& operator=(const FlashJob&) = delete;

    int index() const { return index_; }
    bool Finished() const { return finished_.load(); }
    std::uint32_t Progress() const { return progress_.load(); }
    std::uint32_t Total() const { return total_; }
    std::optional<client::Answer> Outcome() const;

    // The backup, once BackupReady was told; empty before.
    std::vector<std::uint8_t> Backup() const;
    // The starter's word on the backup: stored (erase), or not (stop).
    void ConfirmBackup(bool stored);
    // The starter left the bus: before the backup is confirmed, nothing is
    // erased; after it, the flash goes on.
    void StarterLeft();

private:
    void Run();
    bool KeepBackup(const std::vector<std::uint8_t>& backup);

    int index_;
    AppState state_;
    firmware::FirmwareState fw_;
    platform::DiskSystem& disks_;
    platform::Clock& clock_;
    QDBusConnection system_;
    bool backupFirst_;
    Events events_;
    std::uint32_t total_ = 0;
    std::atomic<std::uint32_t> progress_{0};
    std::atomic<bool> finished_{false};

    mutable std::mutex mutex_;
    std::condition_variable confirmed_;
    std::vector<std::uint8_t> backup_;
    std::optional<bool> stored_;
    std::optional<client::Answer> outcome_;
    std::thread worker_;
};

}  // namespace raid::service
