// How long the window's event loop goes without turning while the monitoring
// dispatcher runs one full SMART refresh (thresholds, then IDENTIFY and data)
// of two emulated enclosures whose disks take 1 ms per sector read, in real
// time, with the SMART page shown. A 0 ms timer marks every turn of the loop;
// the gaps between its marks (and from the start and to the end of the
// refresh) are the figures. Measures, never asserts.
//   smart_window_bench [REFRESHES]   (default 5)
#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "monitor/dispatcher.h"
#include "platform/clock.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"
#include "tests/gui/emulated_window.h"

namespace {

using namespace raid;
using Clock = std::chrono::steady_clock;

constexpr std::chrono::microseconds kReadDelay{1000};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The turns of the event loop, as a 0 ms timer sees them.
class LoopWatch {
public:
    LoopWatch() {
        timer_.setInterval(0);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Mark(); });
    }
    void Start() {
        gaps_.clear();
        last_ = Clock::now();
        timer_.start();
    }
    void Stop() {
        Mark();
        timer_.stop();
    }
    void Mark() {
        const auto now = Clock::now();
        gaps_.push_back(now - last_);
        last_ = now;
    }
    std::vector<Clock::duration> gaps_;

private:
    QTimer timer_;
    Clock::time_point last_;
};

}  // namespace

int main(int argc, char** argv) {
    const int refreshes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication application(qtArgc, argv);

    // The real clock, as raidgui runs; the read delay starts after discovery.
    auto clock = std::make_shared<platform::SystemClock>();
    auto disks = std::make_shared<sim::SimDiskSystem>();
    std::vector<std::shared_ptr<sim::ControllerEmulator>> emulators;
    for (const char* name : {"raid1", "raid0"}) {
        emulators.push_back(
            std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure(name), clock.get()));
        disks->AddEnclosure(emulators.back());
    }
    app::test_support::EmulatedWindow emulated(clock, disks);
    app::MainWindow& window = emulated.window();
    AppState& state = window.state();
    // The first status poll and SMART reads, without the delay.
    emulated.DiscoverAndServe();
    if (state.discovery.deviceCount != 2 || !window.context().smart.thresholdsRead) {
        std::fprintf(stderr, "discovery or the first SMART reads failed\n");
        return 1;
    }
    window.show();
    window.openSmartPage();
    // Only the SMART refresh is measured: no status poll or countdown
    // request comes in between.
    for (const char* name : {"pollTimer", "smartCountdownTimer"})
        window.findChild<QTimer*>(name)->stop();
    QApplication::processEvents();
    disks->SetReadDelay(kReadDelay);

    std::printf("SMART refresh of 2 enclosures (4 disks) in the window, %lld us per sector read\n",
                static_cast<long long>(kReadDelay.count()));
    std::printf("%8s %9s %8s %10s %8s %12s %12s %12s\n", "refresh", "complete", "reads", "time_ms",
                "turns", "max_gap_ms", "p99_gap_ms", "mean_gap_ms");
    LoopWatch watch;
    double worst = 0;
    for (int r = 1; r <= refreshes; ++r) {
        for (auto& e : emulators) e->ClearTrace();
        state.shell.pollRequestFlags |= poll::kSmartThresholds | poll::kSmartData;
        const auto start = Clock::now();
        watch.Start();
        // The monitoring thread hands over one request at a time; the loop
        // runs between hand-overs.
        while (monitor::WorkerShouldDispatch(state)) {
            window.serveMonitorRequest();
            QApplication::processEvents();
        }
        watch.Stop();
        const auto total = Clock::now() - start;

        std::size_t reads = 0;
        for (auto& e : emulators) reads += e->Trace().size();
        std::vector<Clock::duration> gaps = watch.gaps_;
        std::sort(gaps.begin(), gaps.end());
        const auto p99 = gaps[std::min(gaps.size() - 1, gaps.size() * 99 / 100)];
        const double maxGap = Ms(gaps.back());
        worst = std::max(worst, maxGap);
        const smart::SmartState& tables = window.context().smart;
        std::printf("%8d %9s %8zu %10.1f %8zu %12.2f %12.2f %12.3f\n", r,
                    tables.thresholdsRead && tables.dataRead ? "yes" : "no", reads, Ms(total),
                    gaps.size(), maxGap, Ms(p99), Ms(total) / static_cast<double>(gaps.size()));
    }
    std::printf("longest event-loop gap over %d refreshes: %.2f ms\n", refreshes, worst);
    return 0;
}
