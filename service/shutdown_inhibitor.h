#pragma once
// Keeps the machine from shutting down or sleeping while controller firmware
// is rewritten: a half-programmed flash leaves the enclosure without a
// working controller. Holds a logind block inhibitor ("shutdown:sleep") for
// the object's lifetime; logind lets the inhibitor go when its file
// descriptor is closed, which the destructor does (and the kernel does when
// the process dies, so a crash never leaves shutdown blocked).
//
// The constructor blocks for one method call on the system bus, at most
// `limit`, and needs no event loop: it may run on any thread, such as a
// flash worker's, and the destructor on another. One object is not to be
// used from two threads at once.
//
// Without logind on the bus, on refusal, or when logind does not answer in
// time, nothing is held and Problem() says why in one line; the caller says
// so once and flashes anyway.
#include <chrono>
#include <string>

class QDBusConnection;

namespace raid::service {

class ShutdownInhibitor {
public:
    // What logind lists as the inhibitor's "what", "who" and "mode".
    static constexpr const char* kWhat = "shutdown:sleep";
    static constexpr const char* kWho = "raid-monitor";
    static constexpr const char* kMode = "block";
    static constexpr std::chrono::milliseconds kDefaultLimit{5000};

    // `system`: a connection to the system bus; `why`: shown to whoever asks
    // logind what is blocking shutdown (systemd-inhibit --list, the desktop's
    // shutdown dialog).
    ShutdownInhibitor(const QDBusConnection& system, std::string why,
                      std::chrono::milliseconds limit = kDefaultLimit);
    ~ShutdownInhibitor();
    ShutdownInhibitor(const ShutdownInhibitor&) = delete;
    ShutdownInhibitor& operator=(const ShutdownInhibitor&) = delete;

    bool Held() const { return fd_ >= 0; }
    // Empty while held; otherwise why shutdown and sleep are not blocked.
    std::string Problem() const { return problem_; }

private:
    int fd_ = -1;
    std::string problem_;
};

}  // namespace raid::service
