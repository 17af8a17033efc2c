#include "cli/raidctl_monitor.h"

#include <algorithm>
#include <array>
#include <ostream>
#include <system_error>

#include "cli/log_monitor_host.h"
#include "cli/raidctl_output.h"
#include "device/channel.h"
#include "discovery/headless.h"
#include "monitor/status_poll.h"

namespace raid::cli {
namespace {

std::string DeviceName(int index) { return "Device" + std::to_string(index + 1); }

// Says on `err` when a monitored device stops answering and when it answers
// again; the event log has no line for either.
class AnswerWatch {
public:
    void Update(const AppState& state, const LogMonitorHost& host,
                const std::vector<platform::DiskInfo>& disks, std::ostream& err) {
        const int polled = std::min(state.discovery.deviceCount, kShownDevices);
        for (int i = 0; i < polled; ++i) {
            if (!host.IsSelectorChecked(i)) continue;
            const bool answered = (state.monitor.changedDeviceMask & (1u << i)) != 0;
            bool& silent = silent_[static_cast<std::size_t>(i)];
            if (!answered && !silent) {
                err << "raidctl: " << DeviceName(i) << " ("
                    << DiskText(state.discovery.DiskOf(i), disks)
                    << ") did not answer the status poll\n";
            } else if (answered && silent) {
                err << "raidctl: " << DeviceName(i) << " answers again\n";
            }
            silent = !answered;
        }
    }

private:
    std::array<bool, kShownDevices> silent_{};
};

void DescribeRun(const AppState& state, const std::vector<platform::DiskInfo>& disks,
                 const std::filesystem::path& logDir, const Arguments& args, std::ostream& err) {
    const auto& d = state.discovery;
    err << "raidctl: monitoring";
    for (int i = 0; i < std::min(d.deviceCount, kShownDevices); ++i)
        err << (i ? ", " : " ") << DeviceName(i) << " (" << DiskText(d.DiskOf(i), disks) << ")";
    err << "; a poll every " << args.intervalMs << " ms";
    if (args.polls != 0) err << ", " << args.polls << (args.polls == 1 ? " poll" : " polls");
    err << "; event log in " << logDir.string() << "\n";
    if (d.deviceCount > kShownDevices)
        err << "raidctl: only Device1 and Device2 are monitored; " << d.deviceCount - kShownDevices
            << " more found\n";
}

}  // namespace

std::filesystem::path ExecutableFolder() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) return {};
    return exe.parent_path();
}

int RunMonitor(Context& ctx, const Arguments& args, const MonitorOptions& options) {
    std::error_code ec;
    if (options.logDir.empty() || !std::filesystem::is_directory(options.logDir, ec)) {
        ctx.err << "raidctl: the log folder " << options.logDir.string()
                << " does not exist or is not a folder\n";
        return kExitUsage;
    }

    AppState state;
    device::CommandChannel ch(ctx.disks, ctx.clock);
    discovery::DiscoverOnce(state, ch);
    const auto disks = ctx.disks.ListDisks();
    if (state.discovery.deviceCount == 0) {
        const std::string problem = discovery::PermissionProblem(ctx.disks);
        ctx.err << "raidctl: No Drive found! - nothing to monitor\n";
        if (!problem.empty()) ctx.err << "raidctl: " << problem << "\n";
        return problem.empty() ? kExitCommandFailed : kExitCannotOpen;
    }
    DescribeRun(state, disks, options.logDir, args, ctx.err);

    std::uint32_t done = 0;
    eventlog::EventLogContext logContext{
        state,
        ctx.clock,
        options.logDir,
        "RAID GUI " + state.shell.versionText,
        options.timeStamp,
        {},  // no mail from here
        [&ctx](const std::string& message) { ctx.err << "raidctl: " << message << "\n"; },
    };
    LogMonitorHost host(
        std::move(logContext),
        [&](const std::string& line) {
            if (args.json) {
                PrintJsonLine({{"poll", done + 1}, {"line", line}}, ctx.out);
            } else {
                ctx.out << line << "\n";
            }
        },
        [&](int index) {
            ctx.err << "raidctl: " << DeviceName(index)
                    << " did not answer repeatedly and is no longer monitored\n";
        });
    host.OpenToday();
    AnswerWatch answers;

    const auto stopRequested = [&] { return options.stop && options.stop(done); };
    while (!stopRequested()) {
        const std::uint64_t start = ctx.clock.NowMs();
        const bool first = state.shell.firstStatusPending.load();
        monitor::StatusPoll(state, ch, ctx.clock, host);
        ++done;
        // The first poll only reports the devices for the start header.
        if (!first) answers.Update(state, host, disks, ctx.err);
        ctx.out.flush();
        ctx.err.flush();
        if (args.polls != 0 && done >= args.polls) break;

        const std::uint64_t next = start + args.intervalMs;
        for (;;) {
            if (stopRequested()) return kExitOk;
            const std::uint64_t now = ctx.clock.NowMs();
            if (now >= next) break;
            ctx.clock.SleepMs(static_cast<std::uint32_t>(
                std::min<std::uint64_t>(kMonitorWaitSliceMs, next - now)));
        }
    }
    return kExitOk;
}

}  // namespace raid::cli
