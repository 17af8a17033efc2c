#include "cli/raidctl_monitor.h"

#include "cli/raidctl_output.h"

namespace raid::cli {

static_assert(service::kRunOk == kExitOk && service::kRunBadLogFolder == kExitConfig &&
              service::kRunCannotOpen == kExitNotAuthorized &&
              service::kRunNoEnclosure == kExitUnavailable);

service::RunPlan MonitorPlan(Context& ctx, const Arguments& args) {
    service::RunPlan plan;
    plan.intervalMs = args.intervalMs;
    plan.polls = args.polls;
    plan.once = args.once;
    plan.verbose = args.verbose;
    if (args.json)
        plan.printLine = [&ctx](std::uint32_t poll, const std::string& line) {
            PrintJsonLine({{"poll", poll}, {"line", line}}, ctx.out);
        };
    return plan;
}

int RunMonitor(Context& ctx, const Arguments& args, const MonitorOptions& options) {
    service::RunContext run{ctx.disks, ctx.clock, ctx.out, ctx.err};
    return service::RunMonitor(run, MonitorPlan(ctx, args), options);
}

}  // namespace raid::cli
