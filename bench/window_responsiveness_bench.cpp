// How long the window's event loop goes without turning while it polls two
// emulated enclosures whose disks take 1 ms per sector read, in real time,
// with one discovery (a device-change message) and one settings command on
// the way. A 1 ms timer marks the turns of the loop. Measures, never
// asserts.
//   window_responsiveness_bench [SECONDS] [--no-pump]   (default 60)
// --no-pump lets the pauses between commands sleep without turning the loop,
// as the window did before, for comparison.
#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "discovery/probe.h"
#include "monitor/dispatcher.h"
#include "monitor/pending_command.h"
#include "platform/clock.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"
#include "tests/gui/emulated_window.h"

namespace {

using namespace raid;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
    int seconds = 60;
    bool pump = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-pump") == 0) {
            pump = false;
        } else {
            seconds = std::max(5, std::atoi(argv[i]));
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication application(qtArgc, argv);

    auto clock = std::make_shared<platform::SystemClock>();
    auto disks = std::make_shared<sim::SimDiskSystem>();
    for (const char* name : {"raid1", "raid0"}) {
        disks->AddEnclosure(
            std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure(name), clock.get()));
    }
    app::test_support::EmulatedWindow emulated(clock, disks);
    app::MainWindow& window = emulated.window();
    AppState& state = window.state();
    emulated.DiscoverAndServe();
    if (state.discovery.deviceCount != 2) {
        std::fprintf(stderr, "discovery failed\n");
        return 1;
    }
    if (!pump) window.context().windowPump = nullptr;
    window.show();
    disks->SetReadDelay(std::chrono::microseconds(1000));

    // The monitoring thread's hand-over every 50 ms, and the detection
    // thread serving a discovery request beside the window.
    unsigned polls = 0;
    QTimer monitorTurn;
    monitorTurn.setInterval(50);
    QObject::connect(&monitorTurn, &QTimer::timeout, [&] {
        if (!monitor::WorkerShouldDispatch(state)) return;
        if (state.shell.pollRequestFlags.load() & poll::kStatusPoll) ++polls;
        window.serveMonitorRequest();
    });
    std::atomic<bool> stop{false};
    std::thread detection([&] {
        while (!stop.load()) {
            if (!discovery::ServeDetectRequest(state, window.context().detectionChannel))
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });

    std::vector<Clock::duration> gaps;
    // The longest gaps and where in the run they began, to tell causes apart.
    std::vector<std::pair<Clock::duration, Clock::duration>> longest;
    Clock::time_point begin;
    auto last = Clock::now();
    QTimer turns;
    // 1 ms, not 0: a 0 ms timer spins a core, and on a small machine the
    // scheduler then takes it away for long stretches.
    turns.setInterval(1);
    turns.setTimerType(Qt::PreciseTimer);
    QObject::connect(&turns, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        gaps.push_back(now - last);
        if (now - last > std::chrono::milliseconds(20)) longest.emplace_back(now - last, last - begin);
        last = now;
    });
    // A disk is plugged in after 10 s (only its message: the counts stay, so
    // the discovery decides from the drive counts), a buzzer setting after 20 s.
    QTimer::singleShot(10000, [&] { window.onDeviceChangeMessage(); });
    QTimer::singleShot(20000, [&] {
        monitor::QueueSettingsCommand(state.monitor, device::cmd::kBuzzerMuteOn);
        state.shell.pollRequestFlags |= poll::kPendingCommand;
    });
    QTimer::singleShot(seconds * 1000, [&] { QApplication::quit(); });

    std::size_t readsBefore = 0;
    for (int k = 0; k < 2; ++k) readsBefore += disks->Emulator(k)->Trace().size();
    monitorTurn.start();
    last = Clock::now();
    begin = last;
    turns.start();
    const auto start = Clock::now();
    application.exec();
    const auto total = Clock::now() - start;
    stop = true;
    detection.join();

    std::size_t reads = 0;
    std::size_t commands = 0;
    for (int k = 0; k < 2; ++k) {
        reads += disks->Emulator(k)->Trace().size();
        commands += disks->Emulator(k)->ExecutedCommands().size();
    }
    std::sort(gaps.begin(), gaps.end());
    const auto p99 = gaps.empty() ? Clock::duration{} : gaps[gaps.size() * 99 / 100];
    std::printf("window, 2 enclosures, 1 ms per sector read, %d s, pauses %s\n", seconds,
                pump ? "turn the event loop" : "sleep (as before)");
    std::printf("reads %zu, commands run %zu, event-loop turns %zu\n", reads - readsBefore,
                commands, gaps.size());
    std::printf("longest gap %.2f ms, p99 %.2f ms, mean %.3f ms\n",
                gaps.empty() ? 0.0 : Ms(gaps.back()), Ms(p99),
                Ms(total) / static_cast<double>(std::max<std::size_t>(gaps.size(), 1)));
    std::printf("polls run %u, poll failures of Device1/Device2: %u/%u\n",
                static_cast<unsigned>(polls), state.discovery.deviceSlots[0].failureCount,
                state.discovery.deviceSlots[1].failureCount);
    for (const auto& [gap, at] : longest)
        std::printf("  gap %.1f ms at %.1f s\n", Ms(gap), Ms(at) / 1000);
    return 0;
}
