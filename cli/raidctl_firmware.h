#pragma once
// The firmware commands of raidctl: `check-firmware DISK FILE`, `flash DISK
// FILE [--backup OUT] [--yes]` and `read-flash DISK OUT [--length BYTES]`.
// They run the window's own loading, upgrade and flash-read code.
#include <functional>
#include <optional>
#include <string>

#include "cli/raidctl_commands.h"
#include "client/enclosure_access.h"
#include "platform/small_file.h"

namespace raid::cli {

struct FlashOptions {
    // Standard input and output are a terminal: the confirmation is asked
    // there and the progress is a bar that redraws itself.
    bool terminal = false;
    // One line of the user's answer; none at the end of the input.
    std::function<std::optional<std::string>()> readAnswer;
    // True once SIGINT, SIGTERM or SIGHUP arrived since the command began.
    std::function<bool()> interrupted;
    // Makes a step of writing the --backup file fail (tests).
    platform::WriteFault backupFault;
};

// The commands through `access` (in this process or through the service):
// the same output and exit codes. check-firmware: 0 when FILE would be
// accepted for the enclosure on DISK, 5 with the refusal otherwise (2 and 3
// as for the other commands). flash: 0 only after "SPI Verify OK"; see the
// command's --help for the rest. Through the service the flash runs as its
// job, which a signal here only stops following (exit 75), never stops.
// read-flash: the enclosure's flash read, OUT written by this process as
// the calling user.
int RunCheckFirmwareVia(Context& ctx, const Arguments& args, client::EnclosureAccess& access);
int RunFlashVia(Context& ctx, const Arguments& args, const FlashOptions& options,
                client::EnclosureAccess& access);
int RunReadFlashVia(Context& ctx, const Arguments& args, client::EnclosureAccess& access);

// The same in this process.
int RunCheckFirmware(Context& ctx, const Arguments& args);
int RunFlash(Context& ctx, const Arguments& args, const FlashOptions& options);
int RunReadFlash(Context& ctx, const Arguments& args);

}  // namespace raid::cli
