#include "cli/raidctl_firmware.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "cli/raidctl_output.h"
#include "firmware/checked_device.h"
#include "firmware/firmware_state.h"
#include "firmware/flash_read.h"
#include "firmware/spi_ranges.h"
#include "firmware/upgrade.h"
#include "firmware/upgrade_host.h"
#include "service/flash_job.h"

namespace raid::cli {
namespace {

using firmware::Message;

constexpr int kBarWidth = 40;
constexpr int kPlainStepPercent = 10;
// Lines from this process or from the service, one line each.
void PrintNotes(Context& ctx, const std::vector<std::string>& notes) {
    for (const auto& note : notes) ctx.err << "raidctl: " << OneLine(note) << "\n";
}

// A flash image is no secret.
constexpr mode_t kImageFileMode = 0644;

// A file written by this command (often run as root, for the raw disk)
// follows no symbolic link: a link planted at the name or as its folder is
// refused. No folders are made: a mistyped path should stop the run, not
// hide the file somewhere.
bool WriteImageFile(const std::string& path, const std::vector<std::uint8_t>& bytes,
                    std::string_view what, const platform::WriteFault& fault,
                    bool folderSyncRequired, std::ostream& err) {
    std::string error;
    const std::string_view data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (platform::WriteFileAtomically(
            path, data, kImageFileMode, what, fault, error,
            {.makeFolders = false, .folderSyncRequired = folderSyncRequired}))
        return true;
    err << "raidctl: " << error << "\n";
    return false;
}

// read-flash's OUT, whichever process read the flash.
int SaveFlash(Context& ctx, const std::string& path, const std::vector<std::uint8_t>& bytes) {
    if (!WriteImageFile(path, bytes, "flash image file", {}, false, ctx.err))
        return kExitCommandFailed;
    ctx.out << "saved " << bytes.size() << " bytes of flash to " << path << "\n";
    return kExitOk;
}

// The only copy of what the erase destroys: on disk under its name (the
// folder synced too), or the flash is not touched.
bool WriteBackup(const std::string& path, const std::vector<std::uint8_t>& bytes,
                 const platform::WriteFault& fault, std::ostream& err) {
    return WriteImageFile(path, bytes, "backup file", fault, true, err);
}

// Loads FILE for device `index` as the window's Load button does, printing
// the status texts; the image, or none after printing the refusal.
std::optional<firmware::FirmwareImage> CheckFile(Context& ctx, const AppState& state, int index,
                                                 const std::string& path) {
    const firmware::LoadResult r =
        firmware::LoadFirmwareFile(path, firmware::TargetOf(state, index));
    for (const std::string* text :
         {&r.texts.file, &r.texts.checksum, &r.texts.deviceCode, &r.texts.fileCode})
        if (!text->empty()) ctx.out << *text << "\n";
    // Read warnings come first; a refusal is the last message.
    const std::size_t warnings = r.messages.size() - (r.image ? 0 : 1);
    for (std::size_t i = 0; i < warnings; ++i)
        ctx.err << "raidctl: " << r.messages[i].caption << " " << r.messages[i].text << "\n";
    if (r.image) return r.image;
    ctx.err << "raidctl: refused: "
            << (r.messages.empty() ? std::string("no firmware") : OneLine(r.messages.back().text))
            << "\n";
    return std::nullopt;
}

// What the upgrade shows, on a terminal or as plain lines, and where an
// interrupt is taken or refused.
class CliUpgradeHost final : public firmware::UpgradeHost {
public:
    // `total`: the steps the run will count. (The window's bar has room to
    // spare and stops short of its end; a terminal's bar should not.)
    CliUpgradeHost(Context& ctx, const FlashOptions& options, const firmware::FirmwareState& fw,
                   std::uint32_t total, bool backupFirst)
        : ctx_(ctx), options_(options), fw_(fw), total_(total), backupPending_(backupFirst) {}

    void SetStatusText(const std::string& text) override { Line(text); }
    void ShowMessage(const Message& m) override {
        Line((m.caption.empty() ? "" : m.caption + ": ") + m.text);
    }
    void SetSelectorsEnabled(bool) override {}
    void BeginProgress(const std::string& label, std::uint32_t) override {
        maximum_ = total_;
        shownPercent_ = -1;
        Line(label);
    }
    void ShowPhase(const std::string& caption) override {
        phase_ = caption;
        if (!backupPending_) flashTouched_ = true;
        Line(caption);
    }
    void SetProgress(std::uint32_t) override { Draw(); }
    // Through the service: the job says how many steps it counts.
    void SetTotal(std::uint32_t total) { total_ = total; }
    void EndProgress() override {
        Draw();
        if (barShown_) ctx_.out << "\n";
        barShown_ = false;
        maximum_ = 0;
    }
    void Pump() override {
        Draw();
        TakeInterrupt();
    }
    // A signal that came before the erase stops the run there.
    bool IsClosing() const override {
        return stopRequested_ || (!flashTouched_ && options_.interrupted && options_.interrupted());
    }

    // The backup is in hand: from here on the flash is changed.
    bool BackupKept() {
        TakeInterrupt();
        backupPending_ = false;
        if (stopRequested_) return false;
        flashTouched_ = true;
        return true;
    }

private:
    void TakeInterrupt() {
        if (!options_.interrupted || !options_.interrupted() || interruptTold_) return;
        interruptTold_ = true;
        if (!flashTouched_) {
            stopRequested_ = true;
            Line("raidctl: interrupted: stopping before anything is erased");
            return;
        }
        Line("raidctl: interrupt refused: " + phase_ +
             " is under way; stopping before the read-back is compared would leave the flash "
             "in an unknown state, so the upgrade goes on to its end");
    }

    void Line(const std::string& text) {
        if (barShown_) ctx_.out << "\r\033[K";
        ctx_.out << text << "\n";
        barShown_ = false;
        if (options_.terminal) Draw(true);
        ctx_.out.flush();
    }

    void Draw(bool force = false) {
        if (maximum_ == 0) return;
        const std::uint32_t done = std::min(fw_.progressCounter, maximum_);
        const int percent = static_cast<int>(std::uint64_t{done} * 100 / maximum_);
        if (!options_.terminal) {
            const int step = percent / kPlainStepPercent * kPlainStepPercent;
            if (step <= shownPercent_) return;
            ctx_.out << "progress " << step << "% (" << done << "/" << maximum_ << ") " << phase_
                     << "\n";
            shownPercent_ = step;
            return;
        }
        if (!force && percent == shownPercent_) return;
        const int filled = percent * kBarWidth / 100;
        ctx_.out << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
                 << std::string(static_cast<std::size_t>(kBarWidth - filled), '.') << "] "
                 << percent << "%  " << phase_ << std::flush;
        barShown_ = true;
        shownPercent_ = percent;
    }

    Context& ctx_;
    const FlashOptions& options_;
    const firmware::FirmwareState& fw_;
    std::uint32_t total_;
    std::uint32_t maximum_ = 0;
    int shownPercent_ = -1;
    std::string phase_ = "the upgrade";
    bool barShown_ = false;
    bool backupPending_;
    bool flashTouched_ = false;
    bool stopRequested_ = false;
    bool interruptTold_ = false;
};

bool Confirm(Context& ctx, const FlashOptions& options, int index, const std::string& diskText,
             const std::string& file) {
    ctx.out << "Rewrite the firmware of Device" << index + 1 << " on " << diskText << " with "
            << file << "?\nDo not unplug the enclosure or power it off until this ends. [y/N] "
            << std::flush;
    const auto answer = options.readAnswer ? options.readAnswer() : std::nullopt;
    return answer && (*answer == "y" || *answer == "Y" || *answer == "yes");
}

}  // namespace

int RunCheckFirmware(Context& ctx, const Arguments& args) {
    FoundEnclosure found(ctx);
    if (!found.Find(args.disk)) return found.exitCode;
    if (!CheckFile(ctx, found.state, found.index, args.file)) return kExitRefused;
    ctx.out << "accepted for Device" << found.index + 1 << "\n";
    return kExitOk;
}

int RunFlash(Context& ctx, const Arguments& args, const FlashOptions& options) {
    if (!args.yes && !options.terminal) {
        ctx.err << "raidctl: flash: no terminal to confirm on; give --yes\n";
        return kExitUsage;
    }
    FoundEnclosure found(ctx);
    if (!found.Find(args.disk)) return found.exitCode;
    AppState& state = found.state;
    const int index = found.index;

    firmware::FirmwareState fw;
    auto image = CheckFile(ctx, state, index, args.file);
    if (!image) return kExitRefused;
    fw.image = std::move(*image);
    fw.checkedFor = firmware::CheckedDeviceOf(state, index, ctx.disks);
    if (const std::string tooLarge = firmware::EraseRefusal(state, index, fw.image.Size());
        !tooLarge.empty()) {
        ctx.err << "raidctl: refused: " << tooLarge << "\n";
        return kExitRefused;
    }
    if (!args.yes &&
        !Confirm(ctx, options, index,
                 DiskText(state.discovery.DiskOf(index), ctx.disks.ListDisks()), args.file)) {
        ctx.err << "raidctl: not confirmed; nothing was changed\n";
        return kExitCommandFailed;
    }

    const bool backupFirst = !args.backupFile.empty();
    const std::uint64_t size = fw.image.Size();
    const auto steps = static_cast<std::uint32_t>(
        firmware::PlanErase(size, firmware::WholeFlashLength(state, index)).range.length /
            firmware::kEraseStep +
        2 * ((size + firmware::kSpiChunk - 1) / firmware::kSpiChunk));
    CliUpgradeHost host(ctx, options, fw, steps, backupFirst);
    firmware::UpgradeOptions upgradeOptions;
    upgradeOptions.backupFirst = backupFirst;
    upgradeOptions.keepBackup = [&](const std::vector<std::uint8_t>& backup) {
        // The only copy of what the erase destroys: on disk under its name
        // (the folder synced too), or the flash is not touched.
        if (!WriteImageFile(args.backupFile, backup, "backup file", options.backupFault, true,
                            ctx.err))
            return false;
        ctx.out << "saved " << backup.size() << " bytes of flash to " << args.backupFile << "\n";
        return host.BackupKept();
    };
    const firmware::UpgradeResult r =
        firmware::RunUpgrade(state, fw, found.ch, host, index, upgradeOptions);

    const client::Answer answer = service::FlashAnswerOf(r);
    PrintNotes(ctx, answer.notes);
    return answer.outcome;
}

int RunReadFlash(Context& ctx, const Arguments& args) {
    FoundEnclosure found(ctx);
    if (!found.Find(args.disk)) return found.exitCode;
    AppState& state = found.state;
    const int index = found.index;
    const auto length = args.length ? args.length : firmware::WholeFlashLength(state, index);
    if (!length) {
        ctx.err << "raidctl: " << firmware::FlashSizeUnknownText(state, index)
                << "; give --length\n";
        return kExitUsage;
    }
    firmware::FirmwareState fw;
    firmware::QuietUpgradeHost host;
    const firmware::FlashReadResult r =
        firmware::ReadFlash(state, fw, found.ch, host, index, 0, *length);
    if (!r.ok) {
        ctx.err << "raidctl: " << r.failureText << "\n";
        return kExitCommandFailed;
    }
    return SaveFlash(ctx, args.outFile, r.bytes);
}

namespace {

// The user's firmware file, read by the user's own process: the service
// never opens a path that a client names.
std::optional<std::vector<std::uint8_t>> ReadImageFile(Context& ctx, const std::string& path) {
    constexpr std::size_t kMaxImage = 16 * 1024 * 1024;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::optional<std::vector<std::uint8_t>> bytes;
    if (fd >= 0) {
        bytes = client::ReadAll(fd, kMaxImage);
        ::close(fd);
    }
    if (!bytes)
        ctx.err << "raidctl: refused: cannot read " << path
                << (fd < 0 ? ": " + std::string(std::strerror(errno)) : std::string()) << "\n";
    return bytes;
}

// The check through the service, printed as CheckFile prints it.
std::optional<client::BusAccess::FirmwareCheckAnswer> CheckThroughService(Context& ctx,
                                                                          const Arguments& args,
                                                                          client::BusAccess& access,
                                                                          int& code) {
    const auto image = ReadImageFile(ctx, args.file);
    if (!image) {
        code = kExitRefused;
        return std::nullopt;
    }
    auto check = access.CheckFirmware(args.disk, *image);
    // The service sees bytes, not the file: its name is said here.
    if (check.index >= 0) ctx.out << "File:" << args.file << "\n";
    for (const auto& text : check.texts) ctx.out << text << "\n";
    PrintNotes(ctx, check.notes);
    code = check.outcome;
    if (check.outcome != kExitOk) return std::nullopt;
    check.notes.clear();
    return check;
}

}  // namespace

int RunCheckFirmwareVia(Context& ctx, const Arguments& args, client::BusAccess& access) {
    int code = kExitOk;
    const auto check = CheckThroughService(ctx, args, access, code);
    if (!check) return code;
    ctx.out << "accepted for Device" << check->index + 1 << "\n";
    return kExitOk;
}

int RunReadFlashVia(Context& ctx, const Arguments& args, client::BusAccess& access) {
    const auto answer = access.ReadFlash(args.disk, args.length.value_or(0), CallOptionsOf(args));
    // The service's one refusal of a missing length: said with the command
    // line's way to give one, as in-process.
    if (answer.outcome == kExitUsage && !args.length && answer.notes.size() == 1) {
        ctx.err << "raidctl: " << OneLine(answer.notes.front()) << "; give --length\n";
        return kExitUsage;
    }
    if (answer.outcome != kExitOk) {
        PrintNotes(ctx, answer.notes);
        return answer.outcome;
    }
    // Written by this process, as the calling user.
    return SaveFlash(ctx, args.outFile, answer.bytes);
}

int RunFlashVia(Context& ctx, const Arguments& args, const FlashOptions& options,
                client::BusAccess& access) {
    if (!args.yes && !options.terminal) {
        ctx.err << "raidctl: flash: no terminal to confirm on; give --yes\n";
        return kExitUsage;
    }
    int code = kExitOk;
    const auto check = CheckThroughService(ctx, args, access, code);
    if (!check) return code;
    if (!args.yes && !Confirm(ctx, options, check->index, check->diskText, args.file)) {
        ctx.err << "raidctl: not confirmed; nothing was changed\n";
        return kExitCommandFailed;
    }
    const auto image = ReadImageFile(ctx, args.file);
    if (!image) return kExitRefused;

    const bool backupFirst = !args.backupFile.empty();
    firmware::FirmwareState fw;
    CliUpgradeHost host(ctx, options, fw, 0, backupFirst);
    client::FlashFollower::Handlers handlers;
    handlers.step = [&](std::uint32_t kind, const std::string& caption, const std::string& text,
                        std::uint32_t value) {
        switch (kind) {
            case 0:
                host.SetStatusText(text);
                break;
            case 1:
                host.ShowMessage(Message{text, caption});
                break;
            case 2:
                host.SetTotal(value);
                host.BeginProgress(text, value);
                break;
            case 3:
                host.ShowPhase(caption);
                host.SetProgress(fw.progressCounter);  // as the first pump of the phase
                break;
            case 4:
                fw.progressCounter = value;
                host.SetProgress(value);
                break;
            case 5:
                host.EndProgress();
                break;
            default:
                break;
        }
    };
    handlers.keepBackup = [&](const std::vector<std::uint8_t>& backup) {
        if (!WriteBackup(args.backupFile, backup, options.backupFault, ctx.err)) return false;
        ctx.out << "saved " << backup.size() << " bytes of flash to " << args.backupFile << "\n";
        return host.BackupKept();
    };
    handlers.detach = [&] { return options.interrupted && options.interrupted(); };
    const client::FlashAnswer answer =
        access.Flash(args.disk, *image, backupFirst, std::move(handlers), CallOptionsOf(args));
    if (answer.detached) {
        ctx.err << "raidctl: detached: the upgrade goes on in the service (" << answer.job
                << "); 'raidctl jobs' tells how it ends\n";
        return client::kBusy;
    }
    PrintNotes(ctx, answer.notes);
    return answer.outcome;
}

}  // namespace raid::cli
