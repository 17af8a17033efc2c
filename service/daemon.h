#pragma once
// The service's entry point (`raidctl monitor` without --once): the engine
// behind the bus front, with the journal, the service manager's
// notifications, udev's device events, mail and metrics.
#include <filesystem>
#include <functional>
#include <string>

#include "service/engine.h"

namespace raid::service {

class BusFront;

struct DaemonSetup {
    // The event log's folder; empty: systemd's LogsDirectory=, else the
    // installed copy's log folder (made when missing).
    std::filesystem::path logDir;
    std::filesystem::path metricsFile;  // empty: none
    std::string settingsFile;           // the e-mail settings; empty: the machine's
    bool serveClients = true;           // on the system bus, through `bus`
    bool followDevices = true;          // udev's device events
    // A stop signal came (the engine ends at its next step) and a reload
    // signal came (true once for each).
    std::function<bool()> stopRequested;
    std::function<bool()> reloadRequested;
};

// The bus front's own lines (a caller refused for a limit), from the bus
// thread: journal warnings under systemd, else lines on standard error.
void NoteFromBus(const std::string& text);

// Runs the engine as RunMonitor does, and returns its exit code. Under
// systemd every event and note goes to the journal with its own priority
// and fields, in place of lines on ctx.out and ctx.err.
int RunDaemon(RunContext& ctx, const RunPlan& plan, const DaemonSetup& setup, BusFront& bus);

}  // namespace raid::service
