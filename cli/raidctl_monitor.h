#pragma once
// `raidctl monitor`: headless monitoring. One discovery, then a status poll
// of Device1 and Device2 every interval with event detection keeping the
// day's log, each new log line printed as it is added.
#include <cstdint>
#include <filesystem>
#include <functional>

#include "cli/raidctl_commands.h"
#include "common/text.h"

namespace raid::cli {

// The wait between polls is cut into slices of at most this, so that a stop
// request is seen promptly.
inline constexpr std::uint32_t kMonitorWaitSliceMs = 100;

struct MonitorOptions {
    // Where the "yymmdd.log" files are kept; must be an existing folder.
    std::filesystem::path logDir;
    // Asked before the first poll, after every poll and before every wait
    // slice with the number of polls done so far; true ends monitoring
    // (exit 0). Never asked in the middle of a poll. May be empty.
    std::function<bool(std::uint32_t pollsDone)> stop;
    // The time stamp of the log lines; empty: the locale's "c" format.
    text::DateTimeFormatter timeStamp;
};

// Runs until args.polls polls are done (0: no limit) or options.stop says
// so; polls start args.intervalMs apart on ctx.clock (at once after a poll
// that took longer). Log lines go to ctx.out (one JSON object a line with
// args.json), flushed after every poll; notes and log-file failures (once per
// failure, monitoring goes on) to ctx.err. Returns 0, or 1 when the log
// folder is unusable, 2 when no enclosure was found because disks could not
// be opened, 3 when none was found.
int RunMonitor(Context& ctx, const Arguments& args, const MonitorOptions& options);

// The folder of the running executable; empty when it cannot be found.
std::filesystem::path ExecutableFolder();

}  // namespace raid::cli
