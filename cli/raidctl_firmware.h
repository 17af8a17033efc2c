#pragma once
// The firmware commands of raidctl: `check-firmware DISK FILE`, `flash DISK
// FILE [--backup OUT] [--yes]` and `read-flash DISK OUT [--length BYTES]`.
// They run the window's own loading, upgrade and flash-read code.
#include <functional>
#include <optional>
#include <string>

#include "cli/raidctl_commands.h"
#include "client/bus_access.h"
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

// 0 when FILE would be accepted for the enclosure on DISK, 5 with the
// refusal otherwise (2 and 3 as FoundEnclosure::Find says).
int RunCheckFirmware(Context& ctx, const Arguments& args);
// 0 only after "SPI Verify OK"; see the command's --help for the rest.
int RunFlash(Context& ctx, const Arguments& args, const FlashOptions& options);
int RunReadFlash(Context& ctx, const Arguments& args);

// check-firmware, read-flash and flash through the service: the same output and exit
// codes; the flash runs as the service's job, which a signal here only
// stops following (exit 75), never stops.
int RunCheckFirmwareVia(Context& ctx, const Arguments& args, client::BusAccess& access);
// read-flash through the service: the service reads, this process writes
// OUT as the calling user.
int RunReadFlashVia(Context& ctx, const Arguments& args, client::BusAccess& access);
int RunFlashVia(Context& ctx, const Arguments& args, const FlashOptions& options,
                client::BusAccess& access);

}  // namespace raid::cli
