#pragma once
// What the window and its worker threads share: the clock, the disks, the
// process-wide state and the one controller command channel. Held by shared
// pointer by the window and by every worker, so a worker that is let go at
// exit (see worker_thread.h) still finds all of it alive.
#include <filesystem>
#include <memory>
#include <thread>

#include "common/state.h"
#include "device/channel.h"
#include "eventlog/event_log_state.h"
#include "firmware/firmware_state.h"
#include "platform/clock.h"
#include "platform/disk.h"
#include "smart/smart_state.h"

namespace raid::app {

struct ShellContext {
    // Made on the window's thread: device work there sleeps through
    // windowClock, which keeps the event loop running.
    ShellContext(std::shared_ptr<platform::Clock> clockIn,
                 std::shared_ptr<platform::DiskSystem> disksIn)
        : clock(std::move(clockIn)),
          disks(std::move(disksIn)),
          windowClock(*clock, std::this_thread::get_id(),
                      [this] {
                          if (windowPump) windowPump();
                      }),
          channel(*disks, windowClock),
          detectionChannel(*disks, *clock) {}

    std::shared_ptr<platform::Clock> clock;
    std::shared_ptr<platform::DiskSystem> disks;
    AppState state;
    // The day's event log and what event detection remembers between polls;
    // main thread only.
    eventlog::EventLogState eventLog;
    // The member disks' SMART tables and the disk the SMART page shows;
    // main thread only.
    smart::SmartState smart;
    // The loaded firmware image and the flash operation's progress; main
    // thread only.
    firmware::FirmwareState firmware;
    // Runs the window's pending events; set by the window.
    platform::PumpHook windowPump;
    platform::PumpingClock windowClock;
    // The window thread's commands (polls, settings, SMART, firmware) and the
    // detection thread's: each has its own request record, so a discovery
    // never overwrites a command that the window has half sent.
    device::CommandChannel channel;
    device::CommandChannel detectionChannel;
    // Where the day's "yymmdd.log" files go; empty means the executable's
    // folder.
    std::filesystem::path programFolder;
};

}  // namespace raid::app
