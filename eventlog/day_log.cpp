#include "eventlog/day_log.h"

#include <sys/stat.h>

#include <cerrno>
#include <utility>

#include "eventlog/event_lines.h"

namespace raid::eventlog {

namespace {

// Anything but a clear "no such file" counts as existing, so that a file we
// merely cannot look at is never replaced by a fresh one.
bool FileExists(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return true;
    return errno != ENOENT && errno != ENOTDIR;
}

void ReportOnce(EventLogState& state, const LogErrorReporter& report, const std::string& message) {
    if (state.errorReported) return;
    state.errorReported = true;
    if (report) report(message);
}

// Puts the file's lines in front of those held. On failure nothing changes
// and the load stays pending.
bool LoadDay(EventLogState& state, const LogErrorReporter& report) {
    std::vector<std::string> loaded;
    std::string error;
    if (!ReadLogFile(state.logPath, loaded, error)) {
        state.loadPending = true;
        ReportOnce(state, report, error);
        return false;
    }
    loaded.insert(loaded.end(), std::make_move_iterator(state.eventLogLines.begin()),
                  std::make_move_iterator(state.eventLogLines.end()));
    state.eventLogLines = std::move(loaded);
    state.loadPending = false;
    state.writer.Forget();
    return true;
}

}  // namespace

std::filesystem::path DayLogPath(const std::filesystem::path& programFolder, text::TimePoint now) {
    return programFolder / (text::FileDateText(now) + ".log");
}

bool OpenDay(EventLogState& state, const std::filesystem::path& path, bool firstStatusPending,
             const LogErrorReporter& report) {
    const bool newDay = state.logPath != path;
    if (newDay) {
        if (!state.logPath.empty() && state.saveOwed) SaveDay(state, report);
        state.logPath = path;
        state.loadPending = false;
        state.saveOwed = false;
        state.writer.Forget();
    }
    if (FileExists(path)) {
        // Lines of another day do not belong in front of this day's file.
        if (newDay) state.eventLogLines.clear();
        if (state.eventLogLines.empty()) LoadDay(state, report);
        return false;
    }
    if (!newDay && state.saveOwed) {
        // Today's lines never reached the file: keep them (an unread file
        // that has gone meanwhile has nothing left to merge).
        state.loadPending = false;
        return false;
    }
    // A fresh list: a busy day's capacity is not kept for the rest of the run.
    state.eventLogLines = std::vector<std::string>();
    state.writer.Forget();
    state.loadPending = false;
    if (!firstStatusPending) state.eventLogLines.emplace_back(kSeparator);
    return true;
}

bool SaveDay(EventLogState& state, const LogErrorReporter& report) {
    if (state.loadPending) {
        if (!FileExists(state.logPath)) {
            state.loadPending = false;
        } else if (!LoadDay(state, report)) {
            state.saveOwed = true;
            return false;
        }
    }
    std::string error;
    if (state.writer.Save(state.logPath, state.eventLogLines, error)) {
        state.saveOwed = false;
        state.errorReported = false;
        return true;
    }
    state.saveOwed = true;
    ReportOnce(state, report, error);
    return false;
}

}  // namespace raid::eventlog
