#pragma once
// `raidctl jobs [--wait]`: the service's firmware jobs with their progress
// and outcome; with --wait, until every running one has ended.
#include "cli/raidctl_commands.h"
#include "client/bus_access.h"

namespace raid::cli {

// `access` null: no service runs (exit 69).
int RunJobs(Context& ctx, const Arguments& args, client::BusAccess* access);

}  // namespace raid::cli
