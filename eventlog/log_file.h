#pragma once
// The day's log file on disk: reading it back and keeping it equal to the
// in-memory lines. Lines are written with CR LF and read with CR LF or LF.
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace raid::eventlog {

// A longer line in a log file is cut to this length when read: real lines are
// short, so such a line can only come from a damaged file.
inline constexpr std::size_t kMaxLogLineLength = 64 * 1024;

// A day's log stays far below this (a few lines per 5-second poll); a larger
// file is refused rather than held in memory whole.
inline constexpr std::uintmax_t kMaxLogFileSize = 64u * 1024 * 1024;

// Reads `path` into `lines` (replacing them). A last line without an end
// counts; NUL bytes are kept as they are. Returns false with `error` set when
// the file cannot be opened or read, is no regular file (a FIFO or device
// would block or never end) or is larger than kMaxLogFileSize; `lines` is
// then unchanged.
bool ReadLogFile(const std::filesystem::path& path, std::vector<std::string>& lines,
                 std::string& error);

// Splits a log file's bytes into lines as ReadLogFile does, fed in pieces
// as they are read: CR LF or LF ends a line, a line past kMaxLogLineLength
// is cut, a last line without an end counts.
class LogLineSplitter {
public:
    void Feed(std::string_view bytes);
    // The lines, with the unended last one; the splitter is empty afterwards.
    std::vector<std::string> Finish();

private:
    std::vector<std::string> lines_;
    std::string line_;
    bool cut_ = false;      // the current line reached the length limit
    bool pending_ = false;  // bytes after the last line end
};

// The file form of `lines`: each followed by CR LF.
std::string SerializeLines(std::span<const std::string> lines);

// Keeps one file equal to a growing list of lines. Not thread-safe.
class LogFileWriter {
public:
    enum class SaveKind { None, Unchanged, Appended, Rewritten };

    // Makes the file at `path` hold exactly SerializeLines(lines).
    // When the lines only grew since the last successful Save to the same
    // path and the file is still what that Save left (same inode, size and
    // modification time), only the new lines are appended and synced;
    // otherwise the whole file is written to a temporary file in the same
    // folder, synced and renamed over it. Either way a failure (full disk,
    // unwritable folder, a symbolic link at the file's name or as its
    // folder, which is never followed) leaves the previous file as it was,
    // and returns false with `error` set.
    bool Save(const std::filesystem::path& path, std::span<const std::string> lines,
              std::string& error);

    // Forgets what was written, so that the next Save rewrites the file.
    // Call after the lines were changed other than by appending.
    void Forget() { written_ = {}; }

    // How the last call of Save went (None after a failure).
    SaveKind lastSaveKind() const { return lastKind_; }

private:
    struct Written {
        bool valid = false;
        std::filesystem::path path;
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = 0;
        timespec mtime{};
        std::size_t lineCount = 0;
        std::string lastLine;
    };

    bool CanAppend(const std::filesystem::path& path, std::span<const std::string> lines) const;
    // -1: the file is not what we wrote (rewrite instead); 0: failed; 1: done.
    int Append(const std::filesystem::path& path, std::span<const std::string> lines,
               std::string& error);
    bool Rewrite(const std::filesystem::path& path, std::span<const std::string> lines,
                 std::string& error);
    void Remember(const std::filesystem::path& path, const struct stat& st,
                  std::span<const std::string> lines);

    Written written_;
    SaveKind lastKind_ = SaveKind::None;
};

}  // namespace raid::eventlog
