// Controller reads and time of a firmware upgrade with a 512 KiB image, and
// of reading back a whole 512 KiB flash, against the in-process emulator,
// beside the protocol minimum: every command the operation sends, each with
// its knock sequence (separators included) and a single reply poll.
#include <benchmark/benchmark.h>

#include <vector>

#include "firmware/firmware_image.h"
#include "firmware/flash_read.h"
#include "firmware/spi_ranges.h"
#include "firmware/upgrade.h"
#include "sim/enclosure_data.h"
#include "tests/unit/firmware_rig.h"

namespace {

using namespace raid;

constexpr std::size_t kImageSize = 512 * 1024;
constexpr std::size_t kPartSize = 1024 * 1024;  // an 8M-bit part: the erase reaches past 512 KiB
constexpr std::size_t kReplyPollReads = 2;      // 0x5FFF, then block 17

// Reads of one flash command answered at its first poll.
std::size_t CommandReads(std::uint8_t h1, std::uint8_t code, std::uint32_t address,
                         std::span<const std::uint8_t> payload) {
    const auto lbas = device::BuildKnockSequence(
        device::BuildCommandBlock(h1, code, 0x01, static_cast<std::uint8_t>(address >> 15),
                                  static_cast<std::uint8_t>(address >> 7), payload));
    std::size_t reads = lbas.size() + kReplyPollReads;
    std::uint32_t previous = 0;
    for (std::uint32_t lba : lbas) {
        if (lba == previous) ++reads;  // the separator between equal neighbours
        previous = lba;
    }
    return reads;
}

std::size_t ReadMinimum(std::uint32_t length) {
    std::size_t reads = 0;
    for (std::uint32_t a = 0; a < length; a += firmware::kSpiChunk)
        reads += CommandReads(0x04, device::cmd::kReadSpi, a, {});
    return reads;
}

std::size_t UpgradeMinimum(const std::vector<std::uint8_t>& image) {
    std::size_t reads = 0;
    const firmware::FlashRange erase = firmware::EraseRangeFor(image.size());
    for (std::uint64_t a = 0; a < erase.length; a += firmware::kEraseStep)
        reads += CommandReads(0x05, device::cmd::kEraseSpi, static_cast<std::uint32_t>(a), {});
    for (std::uint32_t a = 0; a < image.size(); a += firmware::kSpiChunk)
        reads += CommandReads(0x05, device::cmd::kWriteSpi, a,
                              std::span(image).subspan(a, firmware::kSpiChunk));
    return reads + ReadMinimum(static_cast<std::uint32_t>(image.size()));
}

// A type byte the program has no size for: the 8M-bit part's erase for a
// 512 KiB image is then bounded by the addressable flash only.
constexpr std::uint8_t kEightMegabitType = 0x5B;

// An enclosure with an 8M-bit part, found by discovery, and a full image.
struct Rig : test_support::FirmwareRig {
    Rig() : FirmwareRig(EightMegabitEnclosure()) {
        fw.image.bytes = sim::DefaultFlashImage();
        for (std::size_t i = 0x1000; i < kImageSize; ++i)  // a full image, not mostly erased
            fw.image.bytes[i] = static_cast<std::uint8_t>(i * 31 + (i >> 9));
        fw.image.bytes[firmware::kTypeByteOffset] = kEightMegabitType;
    }
    static sim::Enclosure EightMegabitEnclosure() {
        sim::Enclosure e = *sim::ScenarioEnclosure("raid1");
        e.spiFlash = sim::DefaultFlashImage();
        e.spiFlash.resize(kPartSize, 0xFF);
        e.spiFlash[firmware::kTypeByteOffset] = kEightMegabitType;
        return e;
    }
};

void BM_UpgradeHalfMegabyte(benchmark::State& state) {
    Rig rig;
    std::size_t reads = 0;
    for (auto _ : state) {
        rig.emulator->ClearTrace();
        const auto r = firmware::RunUpgrade(rig.state, rig.fw, rig.ch, rig.host, 0);
        if (!r.Succeeded()) state.SkipWithError(r.finalText.c_str());
        reads += rig.emulator->Trace().size();
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["reads_per_upgrade"] = benchmark::Counter(static_cast<double>(reads) / n);
    state.counters["protocol_minimum"] =
        benchmark::Counter(static_cast<double>(UpgradeMinimum(rig.fw.image.bytes)));
    state.counters["chunks"] = benchmark::Counter(static_cast<double>(rig.fw.progressCounter));
}
BENCHMARK(BM_UpgradeHalfMegabyte)->Unit(benchmark::kMillisecond);

void BM_ReadWholeFlash(benchmark::State& state) {
    Rig rig;
    std::size_t reads = 0;
    for (auto _ : state) {
        rig.emulator->ClearTrace();
        const auto r = firmware::ReadFlash(rig.state, rig.fw, rig.ch, rig.host, 0, 0,
                                           static_cast<std::uint32_t>(kImageSize));
        if (!r.ok) state.SkipWithError(r.failureText.c_str());
        reads += rig.emulator->Trace().size();
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["reads_per_read"] = benchmark::Counter(static_cast<double>(reads) / n);
    state.counters["protocol_minimum"] =
        benchmark::Counter(static_cast<double>(ReadMinimum(kImageSize)));
}
BENCHMARK(BM_ReadWholeFlash)->Unit(benchmark::kMillisecond);

}  // namespace
