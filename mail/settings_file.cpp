#include "mail/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace raid::mail {
namespace {

struct Descriptor {
    int fd = -1;
    explicit Descriptor(int d) : fd(d) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
    int Release() {
        const int rc = ::close(fd);
        fd = -1;
        return rc;
    }
};

int Fault(const WriteFault& fault, WriteStep step) { return fault ? fault(step) : 0; }

// Creates the missing folders of `dir` with mode 0700 (umask permitting
// nothing wider); returns 0 or an errno.
int MakeFolders(const std::filesystem::path& dir) {
    if (dir.empty()) return 0;
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (errno != ENOENT) return errno;
    const std::filesystem::path parent = dir.parent_path();
    if (parent != dir) {
        if (const int err = MakeFolders(parent); err != 0) return err;
    }
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    return 0;
}

int WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

}  // namespace

std::string FileErrorText(std::string_view what, const std::filesystem::path& path, int err) {
    return std::string(what) + " " + path.string() + ": " +
           std::error_code(err, std::generic_category()).message();
}

bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t mode,
                         std::string_view what, const WriteFault& fault, std::string& error,
                         const WriteRules& rules) {
    const std::string verb = "Cannot write " + std::string(what);
    const std::filesystem::path dir = path.has_parent_path() ? path.parent_path() : ".";
    int err = rules.makeFolders ? MakeFolders(dir) : 0;
    std::string temporary = (dir / ("." + path.filename().string() + ".XXXXXX")).string();
    if (err == 0) err = Fault(fault, WriteStep::CreateTemporary);
    Descriptor fd(err == 0 ? ::mkostemp(temporary.data(), O_CLOEXEC) : -1);
    if (err == 0 && fd.fd < 0) err = errno;
    if (err != 0) {
        error = FileErrorText(verb, path, err);
        return false;
    }
    if (::fchmod(fd.fd, mode) != 0) err = errno;
    if (err == 0) err = Fault(fault, WriteStep::WriteData);
    if (err == 0) err = WriteAll(fd.fd, bytes);
    if (err == 0) err = Fault(fault, WriteStep::SyncData);
    if (err == 0 && ::fsync(fd.fd) != 0) err = errno;
    if (err == 0 && fd.Release() != 0) err = errno;
    if (err == 0) err = Fault(fault, WriteStep::Rename);
    if (err == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) err = errno;
    if (err != 0) {
        ::unlink(temporary.c_str());
        error = FileErrorText(verb, path, err);
        return false;
    }
    // The rename is durable once the folder is. The content is already on
    // disk, so for settings a failure here loses nothing and is not reported.
    err = Fault(fault, WriteStep::SyncFolder);
    const int dirFd = err == 0 ? ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    if (err == 0 && dirFd < 0) err = errno;
    if (dirFd >= 0) {
        // EINVAL: a file system with no folder sync; the rename is as safe
        // there as it gets.
        if (::fsync(dirFd) != 0 && errno != EINVAL) err = errno;
        ::close(dirFd);
    }
    if (err != 0 && rules.folderSyncRequired) {
        error = FileErrorText(verb, path, err);
        return false;
    }
    return true;
}

int ReadSmallFile(const std::filesystem::path& path, std::size_t maxBytes, std::string& bytes) {
    // Non-blocking, so that a FIFO in the file's place cannot hold the open.
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.fd < 0) return errno;
    struct stat st {};
    if (::fstat(fd.fd, &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return EINVAL;
    if (static_cast<std::uintmax_t>(st.st_size) > maxBytes) return EFBIG;
    std::string out;
    char buffer[16 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd.fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) break;
        // The file may grow while it is read.
        if (out.size() + static_cast<std::size_t>(n) > maxBytes) return EFBIG;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    bytes = std::move(out);
    return 0;
}

}  // namespace raid::mail
