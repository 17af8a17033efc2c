#pragma once
// Time as the program sees it. All waiting goes through a Clock so that tests
// can run five-second polls and 200 ms pauses without sleeping for real.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

namespace raid::platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since the clock was made (monotonic).
    virtual std::uint64_t NowMs() = 0;
    // Blocks the calling thread for `ms` milliseconds.
    virtual void SleepMs(std::uint32_t ms) = 0;
    // Wall-clock time, for time stamps and file dates.
    virtual std::chrono::system_clock::time_point WallNow() = 0;
};

class SystemClock final : public Clock {
public:
    SystemClock();
    std::uint64_t NowMs() override;
    void SleepMs(std::uint32_t ms) override;
    std::chrono::system_clock::time_point WallNow() override;

private:
    std::chrono::steady_clock::time_point start_;
};

// A clock whose sleeps return at once and move time forward. Thread-safe.
class ManualClock final : public Clock {
public:
    explicit ManualClock(
        std::chrono::system_clock::time_point wallStart = std::chrono::system_clock::time_point{});
    std::uint64_t NowMs() override;
    void SleepMs(std::uint32_t ms) override;
    std::chrono::system_clock::time_point WallNow() override;
    void Advance(std::uint64_t ms);
    void SetWall(std::chrono::system_clock::time_point wall);
    // Called after every SleepMs with the new time, for tests that need to act
    // while code under test waits.
    std::function<void(std::uint64_t nowMs)> onSleep;

private:
    std::atomic<std::uint64_t> nowMs_{0};
    std::atomic<std::int64_t> wallOffsetMs_{0};
    std::chrono::system_clock::time_point wallStart_;
};

// "Let the user interface breathe": called between single-sector transfers of
// long device work. A no-op off the main thread and in headless tools.
using PumpHook = std::function<void()>;

// The clock of device work on the window's thread: a sleep there runs the
// pump in slices of at most kSliceMs, so a pause between commands never
// freezes the window; the controller still sees the same pause. Sleeps on
// other threads are the inner clock's.
class PumpingClock final : public Clock {
public:
    static constexpr std::uint32_t kSliceMs = 10;
    PumpingClock(Clock& inner, std::thread::id pumpThread, PumpHook pump);
    std::uint64_t NowMs() override { return inner_.NowMs(); }
    void SleepMs(std::uint32_t ms) override;
    std::chrono::system_clock::time_point WallNow() override { return inner_.WallNow(); }

private:
    Clock& inner_;
    std::thread::id pumpThread_;
    PumpHook pump_;
};

}  // namespace raid::platform
