#include "mail/host_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace raid::mail {
namespace {

bool IsAddress(const std::string& host) {
    unsigned char buffer[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

}  // namespace

struct HostLookup::Shared {
    std::mutex lock;
    std::condition_variable ready;
    std::optional<LookupResult> result;  // under lock
};

LookupResult SystemResolve(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    LookupResult result;
    const int status = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (status != 0) {
        result.error = ::gai_strerror(status);
        return result;
    }
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
        char text[NI_MAXHOST];
        if (::getnameinfo(a->ai_addr, a->ai_addrlen, text, sizeof text, nullptr, 0,
                          NI_NUMERICHOST) != 0) {
            continue;
        }
        if (std::find(result.addresses.begin(), result.addresses.end(), text) ==
            result.addresses.end()) {
            result.addresses.emplace_back(text);
        }
    }
    ::freeaddrinfo(list);
    if (result.addresses.empty()) result.error = "the name has no address";
    return result;
}

HostLookup::HostLookup(const std::string& host, HostResolver resolve)
    : shared_(std::make_shared<Shared>()) {
    if (IsAddress(host)) {
        shared_->result = LookupResult{{host}, {}};
        return;
    }
    if (!resolve) resolve = SystemResolve;
    // Detached: a resolver that hangs must hold neither the send nor the
    // program's end. The thread keeps what it touches alive itself.
    std::thread([shared = shared_, host, resolve = std::move(resolve)] {
        LookupResult result = resolve(host);
        std::lock_guard<std::mutex> guard(shared->lock);
        shared->result = std::move(result);
        shared->ready.notify_all();
    }).detach();
}

HostLookup::~HostLookup() = default;

std::optional<LookupResult> HostLookup::Wait(std::chrono::milliseconds slice) {
    std::unique_lock<std::mutex> guard(shared_->lock);
    shared_->ready.wait_for(guard, slice, [this] { return shared_->result.has_value(); });
    return shared_->result;
}

}  // namespace raid::mail
