#include "platform/small_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <system_error>

namespace raid::platform {
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

std::filesystem::path FolderOf(const std::filesystem::path& path) {
    return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

std::string Verb(std::string_view what) { return "Cannot write " + std::string(what); }

std::string LinkText(std::string_view what, const std::filesystem::path& path, bool folder) {
    return Verb(what) + " " + path.string() + ": " +
           (folder ? "its folder " + FolderOf(path).string() : std::string("it")) +
           " is a symbolic link, and links are not followed when writing";
}

bool IsLink(int folder, const char* name) {
    struct stat st {};
    return ::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

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

// A new file ".<name>.XXXXXX" in `folder`, created there and nowhere else;
// its descriptor, or -1 with `err`.
int CreateTemporary(int folder, const std::string& name, std::string& temporary, int& err) {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = "." + name + ".";
        for (int i = 0; i < 6; ++i) temporary += kLetters[random() % (sizeof kLetters - 1)];
        const int fd = ::openat(folder, temporary.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) return fd;
        if (errno != EEXIST) break;
    }
    err = errno;
    return -1;
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

std::optional<std::string> SymbolicLinkRefusal(const std::filesystem::path& path,
                                               std::string_view what) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return LinkText(what, path, false);
    if (::lstat(FolderOf(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        return LinkText(what, path, true);
    return std::nullopt;
}

bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t mode,
                         std::string_view what, const WriteFault& fault, std::string& error,
                         const WriteRules& rules, struct stat* written) {
    const std::filesystem::path dir = FolderOf(path);
    const std::string name = path.filename().string();
    const auto fail = [&](int err) {
        error = FileErrorText(Verb(what), path, err);
        return false;
    };
    if (const int err = rules.makeFolders ? MakeFolders(dir) : 0; err != 0) return fail(err);
    // Everything below goes through this descriptor, so the folder cannot be
    // swapped for a link on the way.
    const Descriptor folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.fd < 0) {
        if (errno != ELOOP) return fail(errno);
        error = LinkText(what, path, true);
        return false;
    }
    // A link planted after this look is replaced by the rename, never
    // written through.
    if (IsLink(folder.fd, name.c_str())) {
        error = LinkText(what, path, false);
        return false;
    }
    int err = Fault(fault, WriteStep::CreateTemporary);
    std::string temporary;
    Descriptor fd(err == 0 ? CreateTemporary(folder.fd, name, temporary, err) : -1);
    if (fd.fd < 0) return fail(err);
    if (::fchmod(fd.fd, mode) != 0) err = errno;
    if (err == 0) err = Fault(fault, WriteStep::WriteData);
    if (err == 0) err = WriteAll(fd.fd, bytes);
    if (err == 0) err = Fault(fault, WriteStep::SyncData);
    if (err == 0 && ::fsync(fd.fd) != 0) err = errno;
    if (err == 0 && written != nullptr && ::fstat(fd.fd, written) != 0) err = errno;
    if (err == 0 && fd.Release() != 0) err = errno;
    if (err == 0) err = Fault(fault, WriteStep::Rename);
    if (err == 0 && ::renameat(folder.fd, temporary.c_str(), folder.fd, name.c_str()) != 0)
        err = errno;
    if (err != 0) {
        ::unlinkat(folder.fd, temporary.c_str(), 0);
        return fail(err);
    }
    // The rename is durable once the folder is. The content is already on
    // disk, so for settings a failure here loses nothing and is not reported.
    // EINVAL: a file system with no folder sync; the rename is as safe there
    // as it gets.
    err = Fault(fault, WriteStep::SyncFolder);
    if (err == 0 && ::fsync(folder.fd) != 0 && errno != EINVAL) err = errno;
    if (err != 0 && rules.folderSyncRequired) return fail(err);
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

}  // namespace raid::platform
