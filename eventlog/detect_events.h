#pragma once
// Event detection: after every status poll, turns member state changes,
// rebuild progress, device changes and applied settings into dated lines of
// the day's event log and saves the log file.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "common/state.h"
#include "common/text.h"
#include "eventlog/day_log.h"
#include "eventlog/event_log_state.h"
#include "platform/clock.h"

namespace raid::eventlog {

// RaiseMailEvent(kind, device index, member): kind 1 = a member was lost,
// member 0 = HDD1, 1 = HDD2.
using MailEventHook = std::function<void(int kind, int deviceIndex, int member)>;

// What DetectEvents works with besides its own memory.
struct EventLogContext {
    AppState& app;
    platform::Clock& clock;
    std::filesystem::path programFolder;  // where the "yymmdd.log" files live
    std::string applicationTitle;         // starts the "has started from" line
    text::DateTimeFormatter timeStamp;    // the "c" format; the locale's when empty
    MailEventHook raiseMailEvent;         // may be empty
    LogErrorReporter reportLogError;      // may be empty
};

// One pass of event detection over the first four devices; `mask` has bit i
// set for each device index whose poll succeeded (ChangedDeviceMask). Sets
// app.shell.nowTime; appends to state.eventLogLines; saves the file when
// something was logged (or an earlier save is still owed); may set bit 3 of
// PollRequestFlags and call raiseMailEvent. Main thread only; never throws
// for file trouble (reported through reportLogError instead).
void DetectEvents(EventLogState& state, const EventLogContext& ctx, std::uint8_t mask);

}  // namespace raid::eventlog
