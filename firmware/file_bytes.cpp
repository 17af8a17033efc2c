#include "firmware/file_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace raid::firmware {
namespace {

constexpr std::size_t kReadBlock = 64 * 1024;

}  // namespace

PosixFileSource::~PosixFileSource() {
    if (fd_ >= 0) ::close(fd_);
}

bool PosixFileSource::Open(const std::filesystem::path& path) {
    if (fd_ >= 0) ::close(fd_);
    // Non-blocking, so that a FIFO chosen by mistake cannot hang the window.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) return false;
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

std::optional<std::uint64_t> PosixFileSource::Size() {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || st.st_size < 0) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

std::optional<std::size_t> PosixFileSource::ReadAt(std::uint64_t offset,
                                                   std::span<std::uint8_t> out) {
    if (fd_ < 0) return std::nullopt;
    for (;;) {
        const ssize_t n = ::pread(fd_, out.data(), out.size(), static_cast<off_t>(offset));
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) return std::nullopt;
    }
}

std::optional<std::vector<std::uint8_t>> ReadFileBytes(
    FileSource& source, const std::filesystem::path& path, const FileBytesRequest& request,
    const std::function<void(const Message&)>& tell) {
    auto say = [&](Message m) {
        if (tell) tell(m);
    };
    const auto size = source.Open(path) ? source.Size() : std::nullopt;
    if (!size) {
        say({"Fail to open firmware file", "Error", MessageIcon::Error});
        return std::nullopt;
    }
    if (*size > request.maxSize) {
        say({request.tooLargeText, "Error", MessageIcon::Error});
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(*size));
    std::size_t done = 0;
    int failures = 0;
    while (done < bytes.size()) {
        const std::size_t want = std::min(kReadBlock, bytes.size() - done);
        const auto got = source.ReadAt(done, std::span(bytes).subspan(done, want));
        if (!got) {
            say({"Error read from Source file. ByteCount = " + std::to_string(done),
                 request.readErrorCaption, MessageIcon::Error});
            if (++failures >= kFileReadAttempts) return std::nullopt;
            continue;
        }
        failures = 0;
        if (*got == 0) {
            bytes.resize(done);
            break;
        }
        done += std::min(*got, want);
    }
    return bytes;
}

}  // namespace raid::firmware
