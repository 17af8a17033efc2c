// The main window's firmware upgrade through the seam: the file read here
// and checked by the engine (the service's or the one in this process), the
// flash as the engine's job, a job of the service's followed and its end
// told, and the window closing while the service upgrades.
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/main_window.h"
#include "app/service_calls.h"
#include "app/upgrade_controller.h"
#include "client/flash_follower.h"
#include "firmware/checked_device.h"
#include "firmware/upgrade.h"
#include "platform/small_file.h"

namespace raid::app {
namespace {

const char* const kUpgradeGoesOn =
    "The firmware upgrade goes on in the monitor service: closing this window does not stop "
    "it. Do not unplug the enclosure or power it off until it has ended.\n"
    "'raidctl jobs' tells how it ended, and so does this window when it opens next.";

std::string DeviceName(int index) { return "Device" + std::to_string(index + 1); }

// A job the service no longer lists: restarted, or too many jobs since.
std::string JobGoneText(int index) {
    return "The monitor service no longer lists the firmware upgrade of " + DeviceName(index) +
           ". Its log tells how it ended: journalctl -u raid-monitor";
}

// A note of the service's check, as the load's own messages word it: the
// refusal as the in-process check's, anything else (the check could not be
// made) as a warning.
firmware::Message CheckNote(const std::string& note) {
    constexpr std::string_view kRefusal = "refused: ";
    if (note.starts_with(kRefusal))
        return {note.substr(kRefusal.size()), "Error", firmware::MessageIcon::Error};
    return {note, "Message", firmware::MessageIcon::Exclamation};
}

// The job a window left running when it closed, noted in `file` as
// "PATH INDEX"; none when nothing is noted.
std::optional<client::JobRecord> LeftUpgrade(const std::filesystem::path& file) {
    std::string text;
    if (file.empty() || platform::ReadSmallFile(file, 4096, text) != 0) return std::nullopt;
    std::istringstream in(text);
    client::JobRecord job;
    if (!(in >> job.path >> job.index)) return std::nullopt;
    return job;
}

// Called on the flash call's thread too. Not synced: the window's thread
// does not wait for the disk, and a note lost in a crash only leaves an
// outcome untold.
void NoteLeftUpgrade(const std::filesystem::path& file, const std::string& job, int index) {
    if (file.empty()) return;
    std::error_code ignored;
    std::filesystem::create_directories(file.parent_path(), ignored);
    std::ofstream out(file, std::ios::trunc);
    out << job << ' ' << index << '\n';
    out.close();
    if (!out) Say("cannot write " + file.string() + "; 'raidctl jobs' tells how the upgrade ended");
}

void ForgetLeftUpgrade(const std::filesystem::path& file) {
    std::error_code ignored;
    if (!file.empty()) std::filesystem::remove(file, ignored);
}

}  // namespace

void MainWindow::loadFirmwareThroughService(const QString& path) {
    const int device = selectedUpgradeDevice();
    const int load = ++loadsAsked_;
    upgradeController_->unload();
    // Read here, as the user: the service never opens a path a client names.
    firmware::PosixFileSource source;
    firmware::LoadResult result;
    result.texts.file = "File:" + path.toStdString();
    auto bytes = firmware::ReadFirmwareFile(path.toStdString(), source, result.messages);
    if (!bytes) {
        upgradeController_->showLoad(std::move(result), device);
        return;
    }
    const std::string disk = seamDisk(device);
    auto image = std::make_shared<const std::vector<std::uint8_t>>(std::move(*bytes));
    serviceCalls_->Call<client::FirmwareCheckAnswer>(
        [disk, image](client::EnclosureAccess& access) {
            return access.CheckFirmware(disk, *image);
        },
        [this, load, device, image, result](client::FirmwareCheckAnswer answer) mutable {
            // A later load replaced this one.
            if (load != loadsAsked_ || context_->state.shell.closing.load()) return;
            result.texts.checksum = answer.checksum;
            result.texts.deviceCode = answer.deviceCode;
            result.texts.fileCode = answer.fileCode;
            if (answer.outcome == client::kDone) {
                result.image = firmware::FirmwareImage{*image};
            } else if (answer.outcome == client::kRefused) {
                for (const auto& note : answer.notes) result.messages.push_back(CheckNote(note));
            } else {
                result.messages.push_back(
                    {JoinedLines(answer.notes), "Message", firmware::MessageIcon::Exclamation});
            }
            upgradeController_->showLoad(std::move(result), device);
        });
}

void MainWindow::startUpgradeThroughService() {
    const int device = selectedUpgradeDevice();
    const firmware::FirmwareState& fw = context_->firmware;
    const int plain = static_cast<int>(firmware::MessageIcon::None);
    if (fw.image.Size() <= firmware::kTypeByteOffset) {
        showFirmwareMessage(firmware::kNoImageText, "Message", plain);
        return;
    }
    // As in this process: the image goes only onto the enclosure it was
    // checked for.
    const std::string other = firmware::OtherEnclosureRefusal(
        fw.checkedFor, firmware::CheckedDeviceOf(context_->state, device, *context_->disks));
    if (!other.empty()) {
        showFirmwareMessage(QString::fromStdString(other), "Message", plain);
        return;
    }
    if (!upgradeController_->follow(device)) return;
    Say(DeviceName(device) + (localEngine() ? ": upgrading its firmware"
                                            : ": asking the service to upgrade its firmware"));
    flashCalls_->Call<client::FlashAnswer>(
        [this, disk = seamDisk(device), device,
         image = fw.image.bytes, left = flashLeft_, noteFile = options_.leftUpgradeFile,
         tell = flashCalls_->messenger()](client::EnclosureAccess& access) {
            client::FlashHandlers handlers;
            // Each step waits in the calls' queue for the window's thread.
            handlers.step = [this, tell](const firmware::FlashStep& step) {
                tell([this, step] {
                    // Closed: nobody may be there to dismiss a box.
                    if (!context_->state.shell.closing.load()) upgradeController_->showStep(step);
                });
            };
            handlers.detach = [left] { return left->load(); };
            // The desktop's polkit agent asks for the administrator's password.
            client::FlashAnswer answer =
                access.Flash(disk, image, false, std::move(handlers), client::CallOptions{true});
            // Noted here: the window that closed may be gone by the answer.
            if (answer.detached && !answer.job.empty())
                NoteLeftUpgrade(noteFile, answer.job, device);
            return answer;
        },
        [this](client::FlashAnswer answer) { onServiceFlashEnded(answer); });
}

void MainWindow::onServiceFlashEnded(const client::FlashAnswer& answer) {
    // The window has closed: the job goes on in the service.
    if (answer.detached) return;
    upgradeController_->letGo();
    // A job's end was among its steps; a flash refused before its job began
    // (no password, busy, the service's own check) is said here.
    // So is a service that ended during the job, which never told its end.
    if (answer.job.empty() || answer.outcome == client::kUnavailable)
        tellServiceAnswer(answer, "Firmware Upgrade");
}

void MainWindow::requestServiceJobs() {
    if (jobsAsked_) return;
    jobsAsked_ = true;
    serviceCalls_->Call<client::JobsAnswer>(
        [](client::EnclosureAccess& access) { return access.Jobs(); },
        [this](client::JobsAnswer answer) {
            jobsAsked_ = false;
            onServiceJobs(answer);
        });
}

void MainWindow::onServiceJobs(const client::JobsAnswer& answer) {
    // Not answered: asked again at the next status or tick.
    if (context_->state.shell.closing.load() || answer.outcome != client::kDone) return;
    auto listed = [&answer](const client::JobRecord& wanted) -> const client::JobRecord* {
        for (const auto& job : answer.jobs)
            if (job.path == wanted.path && job.index == wanted.index) return &job;
        return nullptr;
    };

    if (!followedJob_.path.empty()) {
        const client::JobRecord* job = listed(followedJob_);
        if (job != nullptr && !job->finished) {
            upgradeController_->showStep(
                {.kind = firmware::FlashStepKind::Progress, .value = job->progress});
            return;
        }
        const client::JobRecord followed = followedJob_;
        // Cleared before any box: ticks go on while one is open.
        followedJob_ = {};
        if (const auto left = LeftUpgrade(options_.leftUpgradeFile);
            left && left->path == followed.path && left->index == followed.index)
            ForgetLeftUpgrade(options_.leftUpgradeFile);
        if (job != nullptr) {
            upgradeController_->showStep(
                {.kind = firmware::FlashStepKind::Progress, .value = job->progress});
            upgradeController_->showStep({.kind = firmware::FlashStepKind::ProgressEnds});
            tellServiceJobEnd(*job);
        } else {
            warnUser(QString::fromStdString(JobGoneText(followed.index)), "Firmware Upgrade");
        }
        upgradeController_->letGo();
        return;
    }

    if (jobsChecked_) return;
    jobsChecked_ = true;
    // An upgrade this window left running when it closed: its end, once.
    if (const auto left = LeftUpgrade(options_.leftUpgradeFile)) {
        const client::JobRecord* job = listed(*left);
        if (job == nullptr || job->finished) ForgetLeftUpgrade(options_.leftUpgradeFile);
        if (job == nullptr)
            warnUser(QString::fromStdString(JobGoneText(left->index)), "Firmware Upgrade");
        else if (job->finished)
            tellServiceJobEnd(*job);
    }
    const ShellFlags& shell = context_->state.shell;
    if (shell.closing.load() || shell.exclusiveOperation.load()) return;
    for (const auto& job : answer.jobs) {
        if (job.finished) continue;
        followServiceJob(job);
        break;
    }
}

void MainWindow::followServiceJob(const client::JobRecord& job) {
    if (job.index >= 0 && job.index < kShownDevices) selectUpgradeDevice(job.index);
    openUpgradePage();
    if (!upgradeController_->follow(job.index)) return;
    followedJob_ = job;
    Say(DeviceName(job.index) + ": its firmware upgrade goes on in the service (" + job.path + ")");
    using firmware::FlashStepKind;
    upgradeController_->showStep({.kind = FlashStepKind::StatusText,
                                  .text = DeviceName(job.index) +
                                          ": the monitor service upgrades its firmware. Do "
                                          "not unplug it or power it off until this ends."});
    upgradeController_->showStep({.kind = FlashStepKind::ProgressBegins,
                                  .text = firmware::kUpgradeLabel,
                                  .value = job.total});
    upgradeController_->showStep({.kind = FlashStepKind::Progress, .value = job.progress});
}

void MainWindow::tellServiceJobEnd(const client::JobRecord& job) {
    Say(DeviceName(job.index) + ": the firmware upgrade in the service ended with " +
        std::to_string(job.outcome) + (job.notes.empty() ? "" : " (" + job.notes.front() + ")"));
    if (job.outcome == client::kDone)
        showFirmwareMessage(firmware::kSuccessText, firmware::kSuccessCaption,
                            static_cast<int>(firmware::MessageIcon::Exclamation));
    else
        showFirmwareMessage(Joined(job.notes), "Message",
                            static_cast<int>(firmware::MessageIcon::None));
}

void MainWindow::leaveServiceUpgrade() {
    if (upgradeLeftTold_) return;
    upgradeLeftTold_ = true;
    // Before the box: a session that ends may not wait for it.
    flashLeft_->store(true);
    if (!followedJob_.path.empty())
        NoteLeftUpgrade(options_.leftUpgradeFile, followedJob_.path, followedJob_.index);
    Say(QString(kUpgradeGoesOn).replace('\n', ' ').toStdString());
    if (!closingUnattended_) tellUser(kUpgradeGoesOn, "Message");
}

}  // namespace raid::app
