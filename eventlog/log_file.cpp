#include "eventlog/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "platform/small_file.h"

namespace raid::eventlog {

namespace {

std::string ErrnoText(const std::filesystem::path& path, const char* what, int err) {
    return std::string(what) + " " + path.string() + ": " +
           std::error_code(err, std::generic_category()).message();
}

// Closes a descriptor on every path out of a function.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    // Closes now; a failed close can mean lost data on some file systems.
    int Close() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

private:
    int fd_;
};

// Writes all of `data`; returns 0 or the errno of the failure.
int WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

bool ReadLogFile(const std::filesystem::path& path, std::vector<std::string>& lines,
                 std::string& error) {
    // Non-blocking, so that a FIFO put in the file's place cannot hold the
    // open; it is refused below with every other kind of non-regular file.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        error = ErrnoText(path, "Cannot read log file", errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        error = ErrnoText(path, "Cannot read log file", errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode)
                    ? ErrnoText(path, "Cannot read log file", EISDIR)
                    : "Cannot read log file " + path.string() + ": not a regular file";
        return false;
    }
    if (static_cast<std::uintmax_t>(st.st_size) > kMaxLogFileSize) {
        error = ErrnoText(path, "Cannot read log file", EFBIG);
        return false;
    }
    std::uintmax_t total = 0;
    LogLineSplitter splitter;
    std::array<char, 64 * 1024> buf;
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf.data(), buf.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            error = ErrnoText(path, "Cannot read log file", errno);
            return false;
        }
        if (n == 0) break;
        // The file may grow while it is read.
        total += static_cast<std::uintmax_t>(n);
        if (total > kMaxLogFileSize) {
            error = ErrnoText(path, "Cannot read log file", EFBIG);
            return false;
        }
        splitter.Feed(std::string_view(buf.data(), static_cast<std::size_t>(n)));
    }
    lines = splitter.Finish();
    return true;
}

void LogLineSplitter::Feed(std::string_view bytes) {
    for (const char c : bytes) {
        if (c == '\n') {
            if (!cut_ && !line_.empty() && line_.back() == '\r') line_.pop_back();
            lines_.push_back(std::move(line_));
            line_.clear();
            cut_ = false;
            pending_ = false;
            continue;
        }
        pending_ = true;
        if (line_.size() < kMaxLogLineLength) {
            line_.push_back(c);
        } else {
            cut_ = true;
        }
    }
}

std::vector<std::string> LogLineSplitter::Finish() {
    if (pending_) lines_.push_back(std::move(line_));
    std::vector<std::string> out = std::move(lines_);
    lines_.clear();
    line_.clear();
    cut_ = false;
    pending_ = false;
    return out;
}

std::string SerializeLines(std::span<const std::string> lines) {
    std::size_t total = 0;
    for (const auto& l : lines) total += l.size() + 2;
    std::string out;
    out.reserve(total);
    for (const auto& l : lines) {
        out += l;
        out += "\r\n";
    }
    return out;
}

bool LogFileWriter::Save(const std::filesystem::path& path, std::span<const std::string> lines,
                         std::string& error) {
    lastKind_ = SaveKind::None;
    if (CanAppend(path, lines)) {
        const int rc = Append(path, lines, error);
        if (rc >= 0) return rc == 1;
    }
    if (!Rewrite(path, lines, error)) return false;
    lastKind_ = SaveKind::Rewritten;
    return true;
}

bool LogFileWriter::CanAppend(const std::filesystem::path& path,
                              std::span<const std::string> lines) const {
    if (!written_.valid || written_.path != path || lines.size() < written_.lineCount) {
        return false;
    }
    // The list must still begin with what was written; its last written line
    // is the cheap witness (clearing or reloading calls Forget as well).
    return written_.lineCount == 0 || lines[written_.lineCount - 1] == written_.lastLine;
}

int LogFileWriter::Append(const std::filesystem::path& path, std::span<const std::string> lines,
                          std::string& error) {
    // A link in its place is not followed: the rewrite refuses it.
    Fd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW));
    if (fd.get() < 0) return -1;  // gone or not ours any more: rewrite
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || st.st_dev != written_.dev || st.st_ino != written_.ino ||
        st.st_size != written_.size || !SameTime(st.st_mtim, written_.mtime)) {
        return -1;
    }
    if (lines.size() == written_.lineCount) {
        lastKind_ = SaveKind::Unchanged;
        return 1;
    }
    const std::string tail = SerializeLines(lines.subspan(written_.lineCount));
    int err = WriteAll(fd.get(), tail);
    if (err == 0 && ::fsync(fd.get()) != 0) err = errno;
    if (err == 0 && ::fstat(fd.get(), &st) != 0) err = errno;
    if (err != 0) {
        // Cut a partial tail off again so that the file keeps its last good
        // content; the next save rewrites it whole.
        if (::ftruncate(fd.get(), written_.size) == 0) ::fsync(fd.get());
        Forget();
        error = ErrnoText(path, "Cannot write log file", err);
        return 0;
    }
    if (fd.Close() != 0) {
        Forget();
        error = ErrnoText(path, "Cannot write log file", errno);
        return 0;
    }
    Remember(path, st, lines);
    lastKind_ = SaveKind::Appended;
    return 1;
}

bool LogFileWriter::Rewrite(const std::filesystem::path& path, std::span<const std::string> lines,
                            std::string& error) {
    Forget();
    struct stat st {};
    if (!platform::WriteFileAtomically(path, SerializeLines(lines), 0644, "log file", {}, error,
                                       {.makeFolders = false}, &st))
        return false;
    Remember(path, st, lines);
    return true;
}

void LogFileWriter::Remember(const std::filesystem::path& path, const struct stat& st,
                             std::span<const std::string> lines) {
    written_.valid = true;
    written_.path = path;
    written_.dev = st.st_dev;
    written_.ino = st.st_ino;
    written_.size = st.st_size;
    written_.mtime = st.st_mtim;
    written_.lineCount = lines.size();
    written_.lastLine = lines.empty() ? std::string() : lines.back();
}

}  // namespace raid::eventlog
