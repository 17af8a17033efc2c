#include "service/flash_job.h"

#include <chrono>

#include "device/channel.h"
#include "firmware/checked_device.h"
#include "firmware/flash_read.h"
#include "firmware/spi_ranges.h"
#include "firmware/upgrade_host.h"
#include "service/shutdown_inhibitor.h"

namespace raid::service {
namespace {

// How long a flash with a backup waits for its starter to store it.
constexpr auto kBackupWait = std::chrono::minutes(10);

}  // namespace

client::Answer FlashAnswerOf(const firmware::UpgradeResult& r) {
    constexpr const char* kUnknownState =
        ": the flash is in an unknown state: do not unplug, run flash again";
    client::Answer a;
    using firmware::UpgradeOutcome;
    switch (r.outcome) {
        case UpgradeOutcome::Done:
            if (!r.warning.empty()) a.notes.push_back("warning: " + r.warning);
            return a;
        case UpgradeOutcome::WrongType:
        case UpgradeOutcome::WrongProduct:
        case UpgradeOutcome::OtherEnclosure:
        case UpgradeOutcome::TooLarge:
            a.outcome = 5;
            a.notes.push_back("refused: " + r.finalText);
            return a;
        case UpgradeOutcome::Busy:
        case UpgradeOutcome::NoImage:
        case UpgradeOutcome::Closing:
        case UpgradeOutcome::NoAnswer:
        case UpgradeOutcome::TypeUnknown:
        case UpgradeOutcome::BackupFailed:
            a.outcome = client::kFailed;
            a.notes.push_back((r.finalText.empty() ? std::string("stopped") : r.finalText) +
                              "; nothing was erased");
            return a;
        case UpgradeOutcome::EraseFailed:
        case UpgradeOutcome::ProgramFailed:
        case UpgradeOutcome::ReadBackFailed:
        case UpgradeOutcome::VerifyFailed:
            break;
    }
    a.outcome = 7;
    a.notes.push_back(r.finalText + kUnknownState);
    return a;
}

void RelayHost::Pump() {
    Tick();
    if (stop_ && stop_()) stopAsked_ = true;
}

// Progress is told when it moves, not at every sector.
void RelayHost::Tick() {
    const std::uint32_t now = fw_.progressCounter;
    if (now == progress_.load()) return;
    progress_.store(now);
    Tell({.kind = Kind::Progress, .value = now});
}

ImageCheck CheckImage(const AppState& state, int index, std::span<const std::uint8_t> image) {
    ImageCheck check{firmware::ValidateFirmware(image, firmware::TargetOf(state, index)), {}};
    const firmware::LoadResult& r = check.load;
    client::Answer& a = check.answer;
    // Read warnings come first; a refusal is the last message.
    const std::size_t warnings = r.messages.size() - (r.image ? 0 : 1);
    for (std::size_t i = 0; i < warnings && i < r.messages.size(); ++i)
        a.notes.push_back(r.messages[i].caption + " " + r.messages[i].text);
    std::string refusal;
    if (!r.image)
        refusal = r.messages.empty() ? std::string("no firmware") : r.messages.back().text;
    else
        refusal = firmware::EraseRefusal(state, index, r.image->Size());
    if (!refusal.empty()) {
        a.outcome = 5;
        a.notes.push_back("refused: " + refusal);
    }
    return check;
}

std::optional<firmware::FirmwareState> FlashableImage(const AppState& state, int index,
                                                      std::span<const std::uint8_t> image,
                                                      platform::DiskSystem& disks,
                                                      std::string& refusal) {
    ImageCheck check = CheckImage(state, index, image);
    if (check.answer.outcome != 0) {
        refusal = check.answer.notes.back();
        return std::nullopt;
    }
    firmware::FirmwareState fw;
    fw.image = std::move(*check.load.image);
    fw.checkedFor = firmware::CheckedDeviceOf(state, index, disks);
    return fw;
}

std::uint32_t FlashStepsFor(const AppState& state, int index, std::uint64_t size) {
    return static_cast<std::uint32_t>(
        firmware::PlanErase(size, firmware::WholeFlashLength(state, index)).range.length /
            firmware::kEraseStep +
        2 * ((size + firmware::kSpiChunk - 1) / firmware::kSpiChunk));
}

void CopyDeviceTable(const DiscoveryState& from, DiscoveryState& to) {
    to.deviceTable = from.deviceTable;
    to.deviceCount = from.deviceCount;
    to.identifyRecord = from.identifyRecord;
    to.deviceSlots = from.deviceSlots;
    to.currentDevice = from.currentDevice;
    to.physicalDiskCount = from.physicalDiskCount;
}

FlashJob::FlashJob(const AppState& state, int index, firmware::FirmwareState image,
                   platform::DiskSystem& disks, platform::Clock& clock, QDBusConnection system,
                   bool backupFirst, Events events)
    : index_(index),
      fw_(std::move(image)),
      disks_(disks),
      clock_(clock),
      system_(std::move(system)),
      backupFirst_(backupFirst),
      events_(std::move(events)) {
    CopyDeviceTable(state.discovery, state_.discovery);
    // The table is a finished discovery's: the flash loops must address the
    // job's enclosure, not the disk a discovery would be probing.
    state_.shell.detecting = false;
    state_.shell.firstStatusPending = false;
    total_ = FlashStepsFor(state_, index, fw_.image.Size());
}

void FlashJob::Start() {
    if (!worker_.joinable() && !finished_.load()) worker_ = std::thread([this] { Run(); });
}

FlashJob::~FlashJob() {
    StarterLeft();
    if (worker_.joinable()) worker_.join();
}

std::optional<client::Answer> FlashJob::Outcome() const {
    std::lock_guard lock(mutex_);
    return outcome_;
}

std::vector<std::uint8_t> FlashJob::Backup() const {
    std::lock_guard lock(mutex_);
    return backup_;
}

void FlashJob::ConfirmBackup(bool stored) {
    std::lock_guard lock(mutex_);
    if (!stored_) stored_ = stored;
    confirmed_.notify_all();
}

void FlashJob::StarterLeft() { ConfirmBackup(false); }

bool FlashJob::KeepBackup(const std::vector<std::uint8_t>& backup) {
    {
        std::lock_guard lock(mutex_);
        backup_ = backup;
    }
    if (events_.backupReady) events_.backupReady();
    std::unique_lock lock(mutex_);
    confirmed_.wait_for(lock, kBackupWait, [this] { return stored_.has_value(); });
    return stored_.value_or(false);
}

void FlashJob::Run() {
    // Shutdown and sleep wait for the flash where logind runs.
    ShutdownInhibitor inhibitor(system_, "Rewriting the firmware of an enclosure's controller");
    if (!inhibitor.Held() && events_.say) events_.say(inhibitor.Problem());
    device::CommandChannel ch(disks_, clock_);
    RelayHost host(events_.step, fw_, progress_, total_);
    firmware::UpgradeOptions options;
    options.backupFirst = backupFirst_;
    options.keepBackup = [this](const std::vector<std::uint8_t>& backup) {
        return KeepBackup(backup);
    };
    const firmware::UpgradeResult result =
        firmware::RunUpgrade(state_, fw_, ch, host, index_, options);
    const client::Answer answer = FlashAnswerOf(result);
    {
        std::lock_guard lock(mutex_);
        outcome_ = answer;
    }
    finished_.store(true);
    if (events_.completed) events_.completed(answer, progress_.load());
}

}  // namespace raid::service
