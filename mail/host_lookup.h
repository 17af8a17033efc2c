#pragma once
// Looking up the mail host's name without letting the resolver hold the
// send: the lookup runs on a thread of its own, and the sender only waits
// for it in slices, so that its stage limit and its stop flag bound the
// wait. A lookup given up on is let go and ends on its own.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace raid::mail {

struct LookupResult {
    std::vector<std::string> addresses;  // numeric, in the resolver's order
    std::string error;                   // why none, when there are none
};

// Turns a host name into addresses; may block for as long as it likes.
using HostResolver = std::function<LookupResult(const std::string& host)>;

// The system's resolver (getaddrinfo, TCP addresses of either family).
LookupResult SystemResolve(const std::string& host);

class HostLookup {
public:
    // Starts resolving `host` with `resolve` (null: SystemResolve). An IP
    // address needs no lookup and is the answer at once.
    HostLookup(const std::string& host, HostResolver resolve);
    ~HostLookup();
    HostLookup(const HostLookup&) = delete;
    HostLookup& operator=(const HostLookup&) = delete;

    // The answer once it is there, waiting at most `slice` for it.
    std::optional<LookupResult> Wait(std::chrono::milliseconds slice);

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

}  // namespace raid::mail
