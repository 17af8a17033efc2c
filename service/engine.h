#pragma once
// The engine: the one owner of the enclosures in a process. One discovery,
// then a status poll of Device1 and Device2 every interval with event
// detection keeping the day's log, each new log line printed as it is
// added; the SMART tables read after discovery and refreshed every minute;
// with device events, a discovery after devices come or go; mail, metrics
// and the journal; the requests its front was allowed, run in turn with the
// polls, and flash jobs. With --once, one poll and a health bit mask. The
// service (`raidctl monitor`) runs it behind the bus front.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "common/text.h"
#include "mail/smtp_client.h"
#include "platform/clock.h"
#include "platform/disk.h"

namespace raid::service {

class EngineFront;
struct JournalEntry;

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
    // E-mail notifications of the events, with the settings of
    // this file (empty: the machine's); unset: no mail. A QCoreApplication
    // must exist.
    struct Mail {
        std::string settingsFile;
        mail::SmtpOptions smtp;
    };
    std::optional<Mail> mail;
    // Without `mail`: sees each notification that would be sent (kind,
    // device, member). May be empty.
    std::function<void(int kind, int device, int member)> raiseMail;
    // The service manager's notifications ("READY=1", "WATCHDOG=1",
    // "STOPPING=1", "STATUS=..."). May be empty.
    std::function<void(const std::string&)> notify;
    // Called once what the run would tell clients is true: after its first
    // poll that asked the enclosures, or at once with none to ask. (The
    // first poll after a discovery only reports them.) May be empty.
    std::function<void()> serveClients;
    // Rewritten after every poll in node_exporter's textfile format; empty:
    // none.
    std::filesystem::path metricsFile;
    // Under systemd: each poll's log lines as journal entries, in place of
    // lines on RunContext::out (journal_entries.h). May be empty.
    std::function<void(const JournalEntry&)> journal;
    // Where clients' requests come from and the enclosures are told (the
    // bus front, or one in this process); null: no clients are served.
    EngineFront* front = nullptr;
    // The first discovery runs in the loop's turns, as a device change's
    // does: the detection notice shows until its result is applied, what
    // it tells a person goes to the front's Notice, and clients are served
    // from the start. A run without enclosures then waits for one. For a
    // client that shows the detection as it goes.
    bool discoverInTurns = false;
};

// The disks and clock the service works with, and where it speaks.
struct RunContext {
    platform::DiskSystem& disks;
    platform::Clock& clock;
    // The log lines (through RunPlan::printLine), flushed after every poll.
    std::ostream& out;
    // Notes, one "raidctl: ..." line each.
    std::ostream& err;
};

// How often and how long the service polls, and how a log line is printed.
struct RunPlan {
    std::uint32_t intervalMs = 5000;
    std::uint32_t polls = 0;  // 0: no limit
    bool once = false;        // one poll and SMART read, then the health mask
    bool verbose = false;     // each poll's steps on `err`
    // Each new log line with the number of the poll that adds it (1 for the
    // first); empty: the line alone on `out`.
    std::function<void(std::uint32_t poll, const std::string& line)> printLine;
};

// What RunMonitor returns when it does not return a health mask: values of
// sysexits.h, above every health mask (0..31), so that a script never reads
// an error as a health sum.
inline constexpr int kRunOk = 0;
inline constexpr int kRunNoEnclosure = 69;   // EX_UNAVAILABLE
inline constexpr int kRunCannotOpen = 77;    // EX_NOPERM: disks refused for want of rights
inline constexpr int kRunBadLogFolder = 78;  // EX_CONFIG

// Runs until plan.polls polls are done (0: no limit), options.stop says so,
// or with plan.once after the first poll and SMART read; polls start
// plan.intervalMs apart on ctx.clock (at once after a poll that took
// longer). Log lines go to ctx.out, flushed after every poll; notes and
// log-file failures (once per failure, monitoring goes on) to ctx.err.
// Returns kRunOk, or kRunBadLogFolder when the log folder is unusable,
// kRunCannotOpen when no enclosure was found because disks could not be
// opened, kRunNoEnclosure when none was found (and devices are not
// followed). With plan.once it returns the health bit mask
// (monitor_report.h) instead.
class Engine {
public:
    // The references must outlive the engine.
    Engine(RunContext& ctx, const RunPlan& plan, const MonitorOptions& options);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Runs in the calling thread as RunMonitor says, once.
    int Run();

    // Run() in steps, for a caller that owns the waiting (a test that
    // steps a manual clock): Start, then Turn until it returns false, then
    // Finish. Start returns the exit code of a run that ends before its
    // loop (no log folder, no enclosure); Turn serves what is due now and
    // never sleeps.
    std::optional<int> Start();
    bool Turn();
    int Finish();

private:
    class Loop;
    std::unique_ptr<Loop> loop_;
};

int RunMonitor(RunContext& ctx, const RunPlan& plan, const MonitorOptions& options);

}  // namespace raid::service
