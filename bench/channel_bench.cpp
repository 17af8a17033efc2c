// Cost of one controller command against the in-process emulator: reads per
// command and commands per second, without and with a 128-byte payload.
#include <benchmark/benchmark.h>

#include <memory>

#include "device/channel.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"

namespace {

using namespace raid;

struct Rig {
    platform::ManualClock clock;
    sim::SimDiskSystem disks;
    device::CommandChannel channel{disks, clock};
    std::shared_ptr<sim::ControllerEmulator> emulator;
    int disk = 0;
    Rig() {
        emulator =
            std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure("raid1"), &clock);
        disk = disks.AddEnclosure(emulator);
    }
};

void BM_QueryInformation(benchmark::State& state) {
    Rig rig;
    device::ReplySector reply{};
    std::size_t reads = 0;
    for (auto _ : state) {
        rig.emulator->ClearTrace();
        if (device::QueryController(rig.channel, rig.disk, device::cmd::kInformation, reply) != 0)
            state.SkipWithError("query failed");
        reads += rig.emulator->Trace().size();
    }
    state.counters["reads_per_command"] =
        benchmark::Counter(static_cast<double>(reads) / static_cast<double>(state.iterations()));
    state.counters["commands_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_QueryInformation);

void BM_WriteSpiBlock(benchmark::State& state) {
    Rig rig;
    auto handle = device::OpenDevice(rig.channel, rig.disk);
    device::SpiBlock data{};
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
    std::size_t reads = 0;
    for (auto _ : state) {
        rig.emulator->ClearTrace();
        if (device::WriteSPI(rig.channel, *handle, 0x10000, data) != 0)
            state.SkipWithError("write failed");
        reads += rig.emulator->Trace().size();
    }
    state.counters["reads_per_command"] =
        benchmark::Counter(static_cast<double>(reads) / static_cast<double>(state.iterations()));
    state.counters["commands_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WriteSpiBlock);

}  // namespace
