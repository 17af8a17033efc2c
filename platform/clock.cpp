#include "platform/clock.h"

#include <algorithm>
#include <thread>

namespace raid::platform {

SystemClock::SystemClock() : start_(std::chrono::steady_clock::now()) {}

std::uint64_t SystemClock::NowMs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - start_)
                                          .count());
}

void SystemClock::SleepMs(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::chrono::system_clock::time_point SystemClock::WallNow() {
    return std::chrono::system_clock::now();
}

ManualClock::ManualClock(std::chrono::system_clock::time_point wallStart) : wallStart_(wallStart) {}

std::uint64_t ManualClock::NowMs() { return nowMs_.load(); }

void ManualClock::SleepMs(std::uint32_t ms) {
    Advance(ms);
    if (onSleep) onSleep(nowMs_.load());
}

std::chrono::system_clock::time_point ManualClock::WallNow() {
    return wallStart_ + std::chrono::milliseconds(static_cast<std::int64_t>(nowMs_.load()) +
                                                  wallOffsetMs_.load());
}

void ManualClock::Advance(std::uint64_t ms) { nowMs_ += ms; }

void ManualClock::SetWall(std::chrono::system_clock::time_point wall) {
    wallOffsetMs_ =
        std::chrono::duration_cast<std::chrono::milliseconds>(wall - wallStart_).count() -
        static_cast<std::int64_t>(nowMs_.load());
}

PumpingClock::PumpingClock(Clock& inner, std::thread::id pumpThread, PumpHook pump)
    : inner_(inner), pumpThread_(pumpThread), pump_(std::move(pump)) {}

void PumpingClock::SleepMs(std::uint32_t ms) {
    if (!pump_ || std::this_thread::get_id() != pumpThread_) {
        inner_.SleepMs(ms);
        return;
    }
    const std::uint64_t end = inner_.NowMs() + ms;
    for (;;) {
        pump_();
        const std::uint64_t now = inner_.NowMs();
        if (now >= end) break;
        inner_.SleepMs(static_cast<std::uint32_t>(std::min<std::uint64_t>(end - now, kSliceMs)));
    }
}

}  // namespace raid::platform
