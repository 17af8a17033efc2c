#pragma once
// `raidctl monitor`: the window program's monitoring without a window. One
// discovery, then a status poll of Device1 and Device2 every interval with
// event detection keeping the day's log, each new log line printed as it is
// added; the SMART tables read after discovery and refreshed every minute;
// with device events, a discovery after devices come or go (the window's
// debounce); with --once, one poll and a health bit mask.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "cli/raidctl_commands.h"
#include "common/text.h"
#include "mail/smtp_client.h"

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
    // Asked while device work waits (between single-sector reads): true ends
    // the poll, discovery or SMART read at its next step, then monitoring.
    // May be empty.
    std::function<bool()> interrupted;
    // The time stamp of the log lines; empty: the locale's "c" format.
    text::DateTimeFormatter timeStamp;
    // Reads the pending device events: true when devices came or went since
    // the last call. Empty: devices are not followed, and a start without an
    // enclosure ends at once.
    std::function<bool()> deviceEvents;
    // True once for each request to read the e-mail settings again (SIGHUP).
    std::function<bool()> reloadRequested;
    // E-mail notifications as the window sends them, with the settings of
    // this file (empty: the machine's); unset: no mail. A QCoreApplication
    // must exist.
    struct Mail {
        std::string settingsFile;
        mail::SmtpOptions smtp;
    };
    std::optional<Mail> mail;
    // Without `mail`: sees each notification the window would queue (kind,
    // device, member). May be empty.
    std::function<void(int kind, int device, int member)> raiseMail;
    // The service manager's notifications ("READY=1", "WATCHDOG=1",
    // "STOPPING=1", "STATUS=..."). May be empty.
    std::function<void(const std::string&)> notify;
    // Rewritten after every poll in node_exporter's textfile format; empty:
    // none.
    std::filesystem::path metricsFile;
};

// Runs until args.polls polls are done (0: no limit), options.stop says so,
// or with args.once after the first poll and SMART read; polls start
// args.intervalMs apart on ctx.clock (at once after a poll that took
// longer). Log lines go to ctx.out (one JSON object a line with args.json),
// flushed after every poll; notes and log-file failures (once per failure,
// monitoring goes on) to ctx.err. Returns 0, or 1 when the log folder is
// unusable, 2 when no enclosure was found because disks could not be
// opened, 3 when none was found (and devices are not followed). With
// args.once it returns the health bit mask (monitor_report.h) instead.
int RunMonitor(Context& ctx, const Arguments& args, const MonitorOptions& options);

}  // namespace raid::cli
