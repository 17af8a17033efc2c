#pragma once
// The engine inside this process, on a thread of its own, reached through the
// seam as the service's engine is reached through the bus: what root's
// window drives when no service runs. Every request waits its turn with the
// polls in the engine's loop, as in the service; a flash is the engine's job
// and runs off the caller's thread.
#include <QDBusConnection>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>

#include "client/enclosure_access.h"
#include "client/enclosure_watch.h"
#include "common/text.h"
#include "platform/clock.h"
#include "platform/disk.h"
#include "service/engine.h"

namespace raid::service {

struct InProcessSetup {
    platform::DiskSystem& disks;
    platform::Clock& clock;
    // The event log's folder; must exist.
    std::filesystem::path logDir;
    text::DateTimeFormatter timeStamp;
    // E-mail notifications and the test mail; unset: none.
    std::optional<MonitorOptions::Mail> mail;
    // Asked on the engine's thread: true when devices came or went. Empty:
    // devices are not followed.
    std::function<bool()> deviceEvents;
    std::uint32_t intervalMs = 5000;
    // The engine's notes, one "raidctl: ..." line each; null: not kept.
    // (The watch tells the log lines.)
    std::ostream* notes = nullptr;
    // No thread of its own: the engine turns when its owner calls Turn(),
    // and while a call of the access made on the owner's thread waits for
    // its answer. For tests that step a manual clock; the owner's thread is
    // the one that makes the engine.
    bool manual = false;
    // The first discovery runs in the engine's turns and is shown as it
    // goes (MonitorOptions::discoverInTurns), as the window shows it.
    bool discoverInTurns = false;
    // Where a flash asks logind to hold shutdown off; unset: it goes
    // without, and says so.
    std::optional<QDBusConnection> systemBus = std::nullopt;
};

class LocalFront;

class InProcessEngine {
public:
    // Starts the engine's thread. The watch lives in the caller's thread and
    // tells there, through its event loop, what the engine published.
    explicit InProcessEngine(InProcessSetup setup);
    // Stops the engine at its next step; a flash under way ends first.
    ~InProcessEngine();
    // Asks the engine to stop at its next step without waiting for it:
    // Ended() tells when it has, and the destructor then no longer waits.
    void Stop();
    InProcessEngine(const InProcessEngine&) = delete;
    InProcessEngine& operator=(const InProcessEngine&) = delete;

    // Callable from any thread but the engine's; calls block until the
    // engine has answered. Kept past the engine, it answers that the engine
    // has stopped.
    std::shared_ptr<client::EnclosureAccess> Access() const { return access_; }
    client::EnclosureWatch& Watch() { return *watch_; }
    // Waits until the engine's first poll asked the enclosures (what the
    // watch's serviceAppeared tells); false when `limit` passed or the
    // engine ended first.
    bool AwaitServing(std::chrono::milliseconds limit);
    // The engine's exit code once it ended on its own (no log folder, ...).
    std::optional<int> Ended() const;
    // Manual only: serves what is due at the clock's time now, without
    // sleeping; false once the engine has ended.
    bool Turn();

private:
    InProcessSetup setup_;
    std::unique_ptr<client::EnclosureWatch> watch_;
    std::shared_ptr<LocalFront> front_;
    std::shared_ptr<client::EnclosureAccess> access_;
    struct Runner;
    std::unique_ptr<Runner> runner_;
};

}  // namespace raid::service
