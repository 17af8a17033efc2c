#pragma once
// `raidctl monitor`: runs the engine (service/engine.h) with
// the command line's interval, poll count and output form, and gives back
// its exit code: 0, 78 for an unusable log folder, 77 or 69 when there is no
// enclosure to monitor, or with --once the health bit mask.
#include "cli/raidctl_commands.h"
#include "service/engine.h"
#include "service/monitor_report.h"

namespace raid::cli {

// The service's health bits are the exit status of `monitor --once`.
namespace health = service::health;
using service::HealthMask;
using service::HealthTexts;
using service::kMonitorWaitSliceMs;
using service::MetricsText;
using service::MonitoredEnclosure;
using service::MonitorOptions;
using service::MonitorReport;
using service::SmartVerdict;

// The command line's interval, poll count and output form: log lines go to
// ctx.out, as text or with args.json one JSON object a line.
service::RunPlan MonitorPlan(Context& ctx, const Arguments& args);
int RunMonitor(Context& ctx, const Arguments& args, const MonitorOptions& options);

}  // namespace raid::cli
