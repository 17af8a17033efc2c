#pragma once
// The day's log file around EventLogLines: which file, when it is loaded,
// when the list starts afresh, and saving with failures reported once.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "eventlog/event_log_state.h"

namespace raid::eventlog {

// Receives one text per failure episode (the window shows it in the status
// bar); may be empty.
using LogErrorReporter = std::function<void(const std::string& message)>;

// "<folder>/yymmdd.log" for the local day of `now`.
std::filesystem::path DayLogPath(const std::filesystem::path& programFolder, text::TimePoint now);

// True for a day file's name as DayLogPath makes it: six digits and ".log",
// nothing before or after.
bool IsDayLogName(std::string_view name);

// The names of the day files in `folder` (regular files only), newest
// first; none when the folder cannot be read.
std::vector<std::string> ListDayLogs(const std::filesystem::path& folder);

// A day file is a few hundred kilobytes; what a client is handed is
// bounded by this whatever the folder holds.
inline constexpr std::size_t kMaxDayFileBytes = 4 * 1024 * 1024;

// The bytes of day file `name` in `folder`, when `name` is a day file's
// name, the file is a regular file (not a link) and holds at most `limit`
// bytes; otherwise none, with why in `why`.
std::optional<std::vector<std::uint8_t>> ReadDayLog(const std::filesystem::path& folder,
                                                    std::string_view name, std::size_t limit,
                                                    std::string& why);

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
