// Cost of one status poll of a healthy enclosure against the in-process
// emulator: controller reads per poll and CPU time. The 200 ms pauses go
// through a ManualClock, so only the work itself is measured; the simulated
// pause time per poll is reported as a counter.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "device/channel.h"
#include "discovery/drive_enum.h"
#include "discovery/probe.h"
#include "monitor/quiet_host.h"
#include "monitor/status_poll.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"

namespace {

using namespace raid;

struct Rig {
    platform::ManualClock clock;
    sim::SimDiskSystem disks;
    device::CommandChannel channel{disks, clock};
    std::shared_ptr<sim::ControllerEmulator> emulator;
    AppState state;
    monitor::QuietMonitorHost host;

    explicit Rig(const std::string& scenario) {
        emulator =
            std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure(scenario), &clock);
        // A rebuild stays where it is, so every poll sees the same state.
        emulator->WithModel([](sim::Enclosure& e) { e.rebuildStepPercent = 0; });
        disks.AddEnclosure(emulator);
        discovery::TakeDriveBaselines(state.discovery, channel);
        discovery::RunDiscovery(state, channel);
        auto& d = state.discovery;
        d.deviceTable = d.newDeviceTable;
        d.deviceCount = d.newDeviceCount;
        state.shell.detecting = false;
        state.shell.detectBusy = false;
        state.shell.firstStatusPending = false;
    }
};

void PollBenchmark(benchmark::State& state, const std::string& scenario) {
    Rig rig(scenario);
    if (rig.state.discovery.deviceCount != 1) {
        state.SkipWithError("discovery found no enclosure");
        return;
    }
    std::size_t reads = 0;
    std::uint64_t simulatedMs = 0;
    for (auto _ : state) {
        rig.emulator->ClearTrace();
        const std::uint64_t start = rig.clock.NowMs();
        monitor::StatusPoll(rig.state, rig.channel, rig.clock, rig.host);
        simulatedMs += rig.clock.NowMs() - start;
        if (rig.state.monitor.changedDeviceMask != 0x01) state.SkipWithError("poll failed");
        reads += rig.emulator->Trace().size();
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["reads_per_poll"] = benchmark::Counter(static_cast<double>(reads) / n);
    state.counters["simulated_ms_per_poll"] =
        benchmark::Counter(static_cast<double>(simulatedMs) / n);
    state.counters["polls_per_s"] = benchmark::Counter(n, benchmark::Counter::kIsRate);
}

// A mirror with fan and temperature sensors: information + array status.
void BM_StatusPollHealthyMirror(benchmark::State& state) { PollBenchmark(state, "raid1"); }
BENCHMARK(BM_StatusPollHealthyMirror);

// Without sensors the information query is left out: array status only.
void BM_StatusPollNoSensors(benchmark::State& state) { PollBenchmark(state, "nosensors"); }
BENCHMARK(BM_StatusPollNoSensors);

// A rebuild in progress: information + rebuild progress.
void BM_StatusPollRebuilding(benchmark::State& state) { PollBenchmark(state, "rebuild"); }
BENCHMARK(BM_StatusPollRebuilding);

}  // namespace
