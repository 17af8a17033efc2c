#pragma once
// What the window and its worker threads share: the clock, the disks, the
// process-wide state and the one controller command channel. Held by shared
// pointer by the window and by every worker, so a worker that is let go at
// exit (see worker_thread.h) still finds all of it alive.
#include <filesystem>
#include <memory>

#include "common/state.h"
#include "device/channel.h"
#include "eventlog/event_log_state.h"
#include "platform/clock.h"
#include "platform/disk.h"
#include "smart/smart_state.h"

namespace raid::app {

struct ShellContext {
    ShellContext(std::shared_ptr<platform::Clock> clockIn,
                 std::shared_ptr<platform::DiskSystem> disksIn)
        : clock(std::move(clockIn)), disks(std::move(disksIn)), channel(*disks, *clock) {}

    std::shared_ptr<platform::Clock> clock;
    std::shared_ptr<platform::DiskSystem> disks;
    AppState state;
    // The day's event log and what event detection remembers between polls;
    // main thread only.
    eventlog::EventLogState eventLog;
    // The member disks' SMART tables and the disk the SMART page shows;
    // main thread only.
    smart::SmartState smart;
    device::CommandChannel channel;
    // Where the day's "yymmdd.log" files go; empty means the executable's
    // folder.
    std::filesystem::path programFolder;
};

}  // namespace raid::app
