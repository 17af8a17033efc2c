#pragma once
// The day's log file around EventLogLines: which file, when it is loaded,
// when the list starts afresh, and saving with failures reported once.
#include <filesystem>
#include <functional>
#include <string>

#include "common/text.h"
#include "eventlog/event_log_state.h"

namespace raid::eventlog {

// Receives one text per failure episode (the window shows it in the status
// bar); may be empty.
using LogErrorReporter = std::function<void(const std::string& message)>;

// "<folder>/yymmdd.log" for the local day of `now`.
std::filesystem::path DayLogPath(const std::filesystem::path& programFolder, text::TimePoint now);

// Brings `state` to the day whose file is `path`. When the file exists and no
// lines are held, they are loaded from it (a failed load is reported and
// retried before the next save, which never replaces an unread file). When it
// does not exist the list starts afresh - with a separator unless
// `firstStatusPending` - and true is returned (a header is due). Lines of
// today that only failed to reach the file are kept. Lines of a previous day
// that never reached its file get one more save attempt first.
bool OpenDay(EventLogState& state, const std::filesystem::path& path, bool firstStatusPending,
             const LogErrorReporter& report);

// Writes EventLogLines to the day's file. On failure the lines stay in memory,
// the failure is reported unless already reported, and `saveOwed` is set so
// that the next call retries. Returns true when the file now holds the lines.
bool SaveDay(EventLogState& state, const LogErrorReporter& report);

}  // namespace raid::eventlog
