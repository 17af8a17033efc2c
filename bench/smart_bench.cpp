// Controller reads of one full SMART refresh (thresholds, then IDENTIFY and
// data) of two healthy enclosures against the in-process emulator, beside
// two minimums worked out from the protocol:
//   sequence_minimum     the commands the refresh sends, each with its knock
//                        sequence (separators included) and one reply poll;
//   information_minimum  only what the page shows: IDENTIFY with page 2
//                        (word 106) and pages 1..3 of data and thresholds
//                        (the 30 attribute entries end at byte 361).
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "device/channel.h"
#include "discovery/headless.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"
#include "smart/read_smart.h"

namespace {

using namespace raid;

constexpr std::uint8_t kIdentify = 0xEC;
constexpr std::size_t kReplyPollReads = 2;  // 0x5FFF, then block 17
constexpr int kDisksPerRefresh = 4;         // two enclosures, two members each

// Reads of one command answered at its first poll.
std::size_t CommandReads(std::uint8_t h1, std::uint8_t c0, std::uint8_t c1, std::uint8_t page,
                         std::span<const std::uint8_t> payload) {
    const auto lbas =
        device::BuildKnockSequence(device::BuildCommandBlock(h1, c0, c1, 0, page, payload));
    std::size_t reads = lbas.size() + kReplyPollReads;
    std::uint32_t previous = 0;
    for (std::uint32_t lba : lbas) {
        if (lba == previous) ++reads;  // the separator read between equal neighbours
        previous = lba;
    }
    return reads;
}

// One disk command of `ata` and the given data pages.
std::size_t DiskReads(std::uint8_t ata, std::initializer_list<std::uint8_t> pages) {
    const auto fis = device::BuildDiskFis(ata);
    std::size_t reads = CommandReads(0x05, device::cmd::kDiskCommand, ata, 0, fis);
    for (std::uint8_t page : pages)
        reads += CommandReads(0x04, device::cmd::kDiskCommandData, ata, page, {});
    return reads;
}

struct Rig {
    platform::ManualClock clock;
    sim::SimDiskSystem disks;
    device::CommandChannel channel{disks, clock};
    std::vector<std::shared_ptr<sim::ControllerEmulator>> emulators;
    AppState state;
    smart::SmartState smart;
    smart::QuietSmartHost host;

    Rig() {
        for (const char* scenario : {"raid1", "raid0"}) {
            emulators.push_back(std::make_shared<sim::ControllerEmulator>(
                *sim::ScenarioEnclosure(scenario), &clock));
            disks.AddEnclosure(emulators.back());
        }
        discovery::DiscoverOnce(state, channel);
    }
};

void BM_SmartRefreshTwoEnclosures(benchmark::State& state) {
    Rig rig;
    if (rig.state.discovery.deviceCount != 2) {
        state.SkipWithError("discovery did not find both enclosures");
        return;
    }
    std::size_t reads = 0;
    for (auto _ : state) {
        for (auto& e : rig.emulators) e->ClearTrace();
        const bool done =
            smart::ReadSmart(rig.state, rig.smart, rig.channel, rig.host,
                             smart::kFeatureReadThresholds) &&
            smart::ReadSmart(rig.state, rig.smart, rig.channel, rig.host, smart::kFeatureReadData);
        if (!done || !rig.smart.thresholdsRead) state.SkipWithError("refresh failed");
        for (auto& e : rig.emulators) reads += e->Trace().size();
    }
    const std::size_t sequence =
        kDisksPerRefresh *
        (DiskReads(smart::kFeatureReadThresholds, {1, 2, 3, 4}) +
         DiskReads(kIdentify, {1, 2, 3, 4}) + DiskReads(smart::kFeatureReadData, {1, 2, 3, 4}));
    const std::size_t information =
        kDisksPerRefresh *
        (DiskReads(smart::kFeatureReadThresholds, {1, 2, 3}) + DiskReads(kIdentify, {2}) +
         DiskReads(smart::kFeatureReadData, {1, 2, 3}));
    const auto n = static_cast<double>(state.iterations());
    state.counters["reads_per_refresh"] = benchmark::Counter(static_cast<double>(reads) / n);
    state.counters["sequence_minimum"] = benchmark::Counter(static_cast<double>(sequence));
    state.counters["information_minimum"] = benchmark::Counter(static_cast<double>(information));
    state.counters["refreshes_per_s"] = benchmark::Counter(n, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SmartRefreshTwoEnclosures);

}  // namespace
