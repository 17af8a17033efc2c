// The main window as a client of the service: the enclosures, their status,
// SMART and event lines are the service's, and the settings go to it. The
// window opens no disk, logs and mails nothing of its own.
#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/main_window.h"
#include "app/service_calls.h"
#include "app/service_mirror.h"
#include "app/setup_page.h"
#include "app/smart_page.h"
#include "app/status_page.h"
#include "app/upgrade_controller.h"
#include "firmware/checked_device.h"
#include "firmware/upgrade.h"
#include "platform/small_file.h"
#include "smart/smart_state.h"

namespace raid::app {
namespace {

std::string JoinedLines(const std::vector<std::string>& notes) {
    std::string text;
    for (const auto& note : notes) text += (text.empty() ? "" : "\n") + note;
    return text;
}

QString Joined(const std::vector<std::string>& notes) {
    return QString::fromStdString(JoinedLines(notes));
}

const char* const kStartService =
    "No enclosure can be reached: the monitor service is not running, and only the service "
    "(or root) may open the enclosures' disks.\n"
    "Start it with: sudo systemctl start raid-monitor\n"
    "This window goes on by itself once the service runs.";

// What the window follows, on standard error too: for the session's journal,
// where a desktop user's support starts.
void Say(const std::string& text) { std::fprintf(stderr, "raidgui: %s\n", text.c_str()); }

// The DISK the service knows device `device` by: its physical disk number
// ("-1", which the service refuses, for a device the table does not hold).
std::string ServiceDisk(const DiscoveryState& d, int device) {
    if (device < 0 || device >= std::min(d.deviceCount, kDeviceTableSize)) return "-1";
    return std::to_string(d.DiskOf(device));
}

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

QString MainWindow::accessNotice() const {
    return accessNoticeLabel_->isHidden() ? QString() : accessNoticeLabel_->text();
}

void MainWindow::showAccessNotice(const QString& text) {
    if (text != accessNoticeLabel_->text() && !text.isEmpty())
        Say(QString(text).replace('\n', ' ').toStdString());
    accessNoticeLabel_->setText(text);
    accessNoticeLabel_->setVisible(!text.isEmpty());
}

void MainWindow::startClientMode() {
    serviceCalls_ = new ServiceCalls(options_.service, options_.serviceCallsInline, this);
    serviceCalls_->setObjectName("serviceCalls");
    flashCalls_ = new ServiceCalls(options_.service, options_.serviceCallsInline, this);
    flashCalls_->setObjectName("flashCalls");
    if (client::EnclosureWatch* watch = options_.watch) {
        connect(watch, &client::EnclosureWatch::enclosuresChanged, this,
                &MainWindow::requestServiceStatus);
        connect(watch, &client::EnclosureWatch::serviceAppeared, this,
                &MainWindow::requestServiceStatus);
        connect(watch, &client::EnclosureWatch::serviceVanished, this,
                &MainWindow::onServiceVanished);
        connect(watch, &client::EnclosureWatch::eventLine, this, &MainWindow::onServiceEventLine);
    }
    SetStatusPanel(1, "Client of the service");
    requestServiceStatus();
}

void MainWindow::requestServiceStatus() {
    // One status call at a time; changes meanwhile ask once more after it.
    if (statusAsked_) {
        statusAgain_ = true;
        return;
    }
    statusAsked_ = true;
    serviceCalls_->Call<client::StatusAnswer>(
        [](client::EnclosureAccess& access) { return access.Status(""); },
        [this](client::StatusAnswer answer) {
            statusAsked_ = false;
            onServiceStatus(answer);
            if (statusAgain_) {
                statusAgain_ = false;
                requestServiceStatus();
            }
        });
}

void MainWindow::onServiceStatus(const client::StatusAnswer& answer) {
    if (context_->state.shell.closing.load()) return;
    if (answer.outcome == client::kUnavailable) {
        onServiceVanished();
        return;
    }
    if (answer.outcome != client::kDone) {
        // Busy starting, or not allowed: say so; the watch asks again.
        showAccessNotice("The monitor service does not serve the enclosures yet:\n" +
                         Joined(answer.notes));
        return;
    }
    showAccessNotice(QString());
    const bool wasEmpty = context_->state.discovery.deviceCount == 0;
    const bool changed = MirrorEnclosures(context_->state, answer.devices, *this, *this);
    // Once there are enclosures: an upgrade may be under way in the service.
    if (!jobsChecked_ && context_->state.discovery.deviceCount > 0) requestServiceJobs();
    if (!changed) return;
    if (answer.devices.empty()) Say("the service serves no enclosure");
    for (const auto& device : answer.devices)
        Say("Device" + std::to_string(device.index + 1) + ": " + device.model + " on disk " +
            std::to_string(device.disk) + (device.path.empty() ? "" : " (" + device.path + ")") +
            ", through the service");
    if (context_->state.discovery.deviceCount > 0) {
        smartCountdownTimer_->start();
        if (wasEmpty) readServiceSmart();
    }
}

void MainWindow::onServiceVanished() {
    MirrorEnclosures(context_->state, {}, *this, *this);
    showAccessNotice(kStartService);
}

void MainWindow::onServiceEventLine(const QString& line) {
    // The viewer follows the day's lines as they come.
    context_->eventLog.eventLogLines.push_back(line.toStdString());
    Say("event: " + line.toStdString());
}

void MainWindow::readServiceSmart() {
    const auto& d = context_->state.discovery;
    const int count = std::min(d.deviceCount, smart::kSmartDevices);
    for (int i = 0; i < count; ++i) {
        const std::string disk = std::to_string(d.DiskOf(i));
        serviceCalls_->Call<client::SmartAnswer>(
            [disk](client::EnclosureAccess& access) { return access.Smart(disk); },
            [this, i](client::SmartAnswer answer) {
                if (answer.outcome != client::kDone || !answer.smart) return;
                smart::SmartState& tables = context_->smart;
                for (int k = 0; k < smart::kSmartDisks; ++k) {
                    const auto& m = answer.smart->members[static_cast<std::size_t>(k)];
                    auto data = tables.DataBlock(i, k);
                    auto thresholds = tables.ThresholdBlock(i, k);
                    std::copy_n(m.data.begin(), std::min(m.data.size(), data.size()), data.begin());
                    std::copy_n(m.thresholds.begin(),
                                std::min(m.thresholds.size(), thresholds.size()),
                                thresholds.begin());
                    tables.Word106Code(i, k) = m.word106Code;
                }
                tables.thresholdsRead = answer.smart->thresholdsRead;
                tables.dataRead = answer.smart->dataRead;
                if (SmartPageShown()) ShowSmartPage();
            });
    }
}

void MainWindow::tellServiceAnswer(const client::Answer& answer, const QString& caption) {
    if (answer.outcome == client::kDone) return;
    warnUser(Joined(answer.notes), caption);
}

void MainWindow::setBuzzerThroughService(int device, bool mute) {
    const std::string disk = ServiceDisk(context_->state.discovery, device);
    serviceCalls_->Call<client::SettingAnswer>(
        [disk, mute](client::EnclosureAccess& access) {
            return access.SetBuzzer(disk, mute, client::CallOptions{});
        },
        [this](client::SettingAnswer answer) {
            tellServiceAnswer(answer, "Buzzer");
            // The box shows the controller's setting again, changed or not.
            requestServiceStatus();
            RefreshStatusPage(true);
        });
}

void MainWindow::setPeriodThroughService(int device, const client::PeriodRequest& period) {
    const std::string disk = ServiceDisk(context_->state.discovery, device);
    serviceCalls_->Call<client::SettingAnswer>(
        [disk, period](client::EnclosureAccess& access) {
            return access.SetBackupPeriod(disk, period, client::CallOptions{});
        },
        [this](client::SettingAnswer answer) {
            setupPage_->onServicePeriodAnswer(answer);
            requestServiceStatus();
        });
}

void MainWindow::loadFirmwareThroughService(const QString& path) {
    const int device = selectedUpgradeDevice_;
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
    const std::string disk = ServiceDisk(context_->state.discovery, device);
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
    const int device = selectedUpgradeDevice_;
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
    Say(DeviceName(device) + ": asking the service to upgrade its firmware");
    flashCalls_->Call<client::FlashAnswer>(
        [this, disk = ServiceDisk(context_->state.discovery, device), device,
         image = fw.image.bytes, left = flashLeft_, noteFile = options_.leftUpgradeFile,
         tell = flashCalls_->messenger()](client::EnclosureAccess& access) {
            client::FlashHandlers handlers;
            // Each step waits in the calls' queue for the window's thread.
            handlers.step = [this, tell](std::uint32_t kind, const std::string& caption,
                                         const std::string& text, std::uint32_t value) {
                tell([this, kind, caption, text, value] {
                    // Closed: nobody may be there to dismiss a box.
                    if (!context_->state.shell.closing.load())
                        upgradeController_->showStep(kind, caption, text, value);
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
    if (answer.job.empty()) tellServiceAnswer(answer, "Firmware Upgrade");
    requestServiceStatus();
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
            upgradeController_->showStep(4, {}, {}, job->progress);
            return;
        }
        const client::JobRecord followed = followedJob_;
        // Cleared before any box: ticks go on while one is open.
        followedJob_ = {};
        if (const auto left = LeftUpgrade(options_.leftUpgradeFile);
            left && left->path == followed.path && left->index == followed.index)
            ForgetLeftUpgrade(options_.leftUpgradeFile);
        if (job != nullptr) {
            upgradeController_->showStep(4, {}, {}, job->progress);
            upgradeController_->showStep(5, {}, {}, 0);
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
    upgradeController_->showStep(0, {},
                                 DeviceName(job.index) +
                                     ": the monitor service upgrades its firmware. Do "
                                     "not unplug it or power it off until this ends.",
                                 0);
    upgradeController_->showStep(2, {}, firmware::kUpgradeLabel, job.total);
    upgradeController_->showStep(4, {}, {}, job.progress);
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
    tellUser(kUpgradeGoesOn, "Message");
}

}  // namespace raid::app
