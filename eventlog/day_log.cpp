#include "eventlog/day_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
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

bool IsDayLogName(std::string_view name) {
    constexpr std::string_view kSuffix = ".log";
    constexpr std::size_t kDigits = 6;
    if (name.size() != kDigits + kSuffix.size() || !name.ends_with(kSuffix)) return false;
    return std::all_of(name.begin(), name.begin() + kDigits,
                       [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string> ListDayLogs(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::string name = it->path().filename().string();
        std::error_code typeError;
        if (IsDayLogName(name) && it->is_regular_file(typeError) && !it->is_symlink(typeError))
            names.push_back(std::move(name));
    }
    // yymmdd sorts as the days do.
    std::sort(names.begin(), names.end(), std::greater<>());
    return names;
}

std::optional<std::vector<std::uint8_t>> ReadDayLog(const std::filesystem::path& folder,
                                                    std::string_view name, std::size_t limit,
                                                    std::string& why) {
    if (!IsDayLogName(name)) {
        why = "not the name of a day file (yymmdd.log)";
        return std::nullopt;
    }
    const std::string shown(name);
    // The name is checked; a link in the folder is still not followed.
    const int fd = ::open((folder / shown).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        why = errno == ENOENT ? "there is no day file " + shown
                              : "the day file " + shown + " cannot be read";
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        why = "the day file " + shown + " is not a regular file";
        return std::nullopt;
    }
    // One byte more than allowed tells a file that grew past the limit.
    std::vector<std::uint8_t> bytes(
        std::min<std::size_t>(static_cast<std::size_t>(st.st_size), limit) + 1);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            why = "the day file " + shown + " cannot be read";
            return std::nullopt;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (done > limit) {
        why = "the day file " + shown + " is larger than " + std::to_string(limit) + " bytes";
        return std::nullopt;
    }
    bytes.resize(done);
    return bytes;
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
