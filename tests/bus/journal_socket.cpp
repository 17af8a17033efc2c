#include "tests/bus/journal_socket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>

namespace raid::test_support {
namespace {

namespace fs = std::filesystem;
const char* const kSocket = "/run/systemd/journal/socket";
const char* const kAside = "/run/systemd/journal/socket.moved-aside-by-test";

std::string ReadMemfd(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size <= 0) return {};
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n <= 0) return {};
        done += static_cast<std::size_t>(n);
    }
    return bytes;
}

}  // namespace

JournalSocket::JournalSocket() {
    std::error_code ec;
    fs::create_directories(fs::path(kSocket).parent_path(), ec);
    if (fs::exists(kSocket, ec)) {
        if (::rename(kSocket, kAside) != 0) {
            error_ = std::string("cannot move the journal's socket aside: ") + std::strerror(errno);
            return;
        }
        movedAside_ = true;
    }
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, kSocket, sizeof address.sun_path - 1);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error_ = std::string("cannot bind ") + kSocket + ": " + std::strerror(errno);
        return;
    }
    // Large datagrams, as journald takes them.
    const int size = 8 * 1024 * 1024;
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
}

JournalSocket::~JournalSocket() {
    if (fd_ >= 0) {
        ::close(fd_);
        if (error_.empty()) ::unlink(kSocket);
    }
    if (movedAside_) ::rename(kAside, kSocket);
}

const std::vector<JournalSocket::Entry>& JournalSocket::Entries() {
    std::vector<char> buffer(512 * 1024);
    for (;;) {
        iovec vector{buffer.data(), buffer.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)];
        msghdr message{};
        message.msg_iov = &vector;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(fd_, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
        if (n < 0) break;
        std::string payload(buffer.data(), static_cast<std::size_t>(n));
        // An entry too large for a datagram comes as a memfd and no data.
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(c), sizeof fd);
            payload = ReadMemfd(fd);
            ::close(fd);
        }
        Entry entry;
        if (Parse(payload, entry)) entries_.push_back(std::move(entry));
    }
    return entries_;
}

bool JournalSocket::Parse(const std::string& payload, Entry& entry) {
    std::size_t at = 0;
    while (at < payload.size()) {
        const std::size_t end = payload.find('\n', at);
        if (end == std::string::npos) return false;
        const std::size_t equals = payload.find('=', at);
        if (equals != std::string::npos && equals < end) {
            entry[payload.substr(at, equals - at)] = payload.substr(equals + 1, end - equals - 1);
            at = end + 1;
            continue;
        }
        // "KEY\n", a little-endian 64-bit size, the bytes, "\n".
        const std::string key = payload.substr(at, end - at);
        if (end + 9 > payload.size()) return false;
        std::uint64_t size = 0;
        for (int i = 7; i >= 0; --i)
            size = (size << 8) | static_cast<unsigned char>(payload[end + 1 + i]);
        const std::size_t from = end + 9;
        if (size > payload.size() - from || from + size >= payload.size() ||
            payload[from + size] != '\n')
            return false;
        entry[key] = payload.substr(from, size);
        at = from + size + 1;
    }
    return !entry.empty();
}

}  // namespace raid::test_support
