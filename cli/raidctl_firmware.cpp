#include "cli/raidctl_firmware.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "cli/local_access.h"
#include "cli/raidctl_output.h"
#include "firmware/checked_device.h"
#include "firmware/flash_read.h"
#include "firmware/flash_step.h"
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

// What the upgrade shows, on a terminal or as plain lines, and where an
// interrupt is taken or refused.
class FlashDisplay final : public firmware::FlashStepSink {
public:
    FlashDisplay(Context& ctx, const FlashOptions& options, bool backupFirst)
        : ctx_(ctx), options_(options), backupPending_(backupFirst) {}

    void SetStatusText(const std::string& text) override { Line(text); }
    void ShowMessage(const Message& m) override {
        Line((m.caption.empty() ? "" : m.caption + ": ") + m.text);
    }
    // `total`: the steps the run counts. (The window's bar has room to spare
    // and stops short of its end; a terminal's bar should not.)
    void BeginProgress(const std::string& label, std::uint32_t total) override {
        maximum_ = total;
        shownPercent_ = -1;
        Line(label);
    }
    void ShowPhase(const std::string& caption) override {
        phase_ = caption;
        if (!backupPending_) flashTouched_ = true;
        Line(caption);
        Draw();  // as the first pump of the phase
    }
    void SetProgress(std::uint32_t position) override {
        done_ = position;
        Draw();
    }
    void EndProgress() override {
        Draw();
        if (barShown_) ctx_.out << "\n";
        barShown_ = false;
        maximum_ = 0;
    }
    // In this process: a signal that came before the erase stops the run
    // there; one that comes later is refused, once said.
    bool StopAsked() {
        Draw();
        TakeInterrupt();
        return stopRequested_;
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
        const std::uint32_t done = std::min(done_, maximum_);
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
    std::uint32_t done_ = 0;
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

// FILE, read by this process as the calling user (the service never opens
// a path that a client names), with the read's warnings told; none after
// the refusal.
std::optional<std::vector<std::uint8_t>> ReadImageFile(Context& ctx, const std::string& path) {
    firmware::PosixFileSource source;
    std::vector<Message> messages;
    auto bytes = firmware::ReadFirmwareFile(path, source, messages);
    const std::size_t warnings = messages.size() - (bytes || messages.empty() ? 0 : 1);
    for (std::size_t i = 0; i < warnings; ++i)
        ctx.err << "raidctl: " << messages[i].caption << " " << OneLine(messages[i].text) << "\n";
    if (!bytes)
        ctx.err << "raidctl: refused: "
                << (messages.empty() ? std::string("cannot read " + path)
                                     : OneLine(messages.back().text))
                << "\n";
    return bytes;
}

// The image of FILE checked for the enclosure on DISK, printed as the
// window's Load button shows it: the image when it is accepted, none (with
// the exit code in `code`) otherwise.
std::optional<std::vector<std::uint8_t>> CheckImage(Context& ctx, const Arguments& args,
                                                    client::EnclosureAccess& access,
                                                    client::FirmwareCheckAnswer& check, int& code) {
    auto image = ReadImageFile(ctx, args.file);
    if (!image) {
        code = kExitRefused;
        return std::nullopt;
    }
    check = access.CheckFirmware(args.disk, *image);
    if (check.index >= 0) ctx.out << "File:" << args.file << "\n";
    for (const auto& text : check.texts) ctx.out << text << "\n";
    PrintNotes(ctx, check.notes);
    code = check.outcome;
    if (check.outcome != kExitOk) return std::nullopt;
    return image;
}

}  // namespace

int RunCheckFirmwareVia(Context& ctx, const Arguments& args, client::EnclosureAccess& access) {
    client::FirmwareCheckAnswer check;
    int code = kExitOk;
    if (!CheckImage(ctx, args, access, check, code)) return code;
    ctx.out << "accepted for Device" << check.index + 1 << "\n";
    return kExitOk;
}

int RunReadFlashVia(Context& ctx, const Arguments& args, client::EnclosureAccess& access) {
    const auto answer = access.ReadFlash(args.disk, args.length.value_or(0), CallOptionsOf(args));
    // The one refusal of a missing length: said with the command line's way
    // to give one.
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
                client::EnclosureAccess& access) {
    if (!args.yes && !options.terminal) {
        ctx.err << "raidctl: flash: no terminal to confirm on; give --yes\n";
        return kExitUsage;
    }
    client::FirmwareCheckAnswer check;
    int code = kExitOk;
    const auto image = CheckImage(ctx, args, access, check, code);
    if (!image) return code;
    if (!args.yes && !Confirm(ctx, options, check.index, check.diskText, args.file)) {
        ctx.err << "raidctl: not confirmed; nothing was changed\n";
        return kExitCommandFailed;
    }

    const bool backupFirst = !args.backupFile.empty();
    // A flash through the service goes on without this process: a signal
    // only stops following it.
    const bool outlives = access.FlashOutlivesCaller();
    FlashDisplay host(ctx, options, backupFirst);
    client::FlashHandlers handlers;
    handlers.step = [&host](const firmware::FlashStep& step) { firmware::ReplayStep(step, host); };
    handlers.keepBackup = [&](const std::vector<std::uint8_t>& backup) {
        if (!WriteBackup(args.backupFile, backup, options.backupFault, ctx.err)) return false;
        ctx.out << "saved " << backup.size() << " bytes of flash to " << args.backupFile << "\n";
        return host.BackupKept();
    };
    handlers.detach = [&] {
        if (outlives) return options.interrupted && options.interrupted();
        return host.StopAsked();
    };
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

int RunCheckFirmware(Context& ctx, const Arguments& args) {
    LocalAccess local(ctx);
    return RunCheckFirmwareVia(ctx, args, local);
}

int RunFlash(Context& ctx, const Arguments& args, const FlashOptions& options) {
    LocalAccess local(ctx);
    return RunFlashVia(ctx, args, options, local);
}

int RunReadFlash(Context& ctx, const Arguments& args) {
    LocalAccess local(ctx);
    return RunReadFlashVia(ctx, args, local);
}

}  // namespace raid::cli
