// loop_bench: how long one controller command takes through the kernel path
// (loop device with direct I/O over raid-sim-fuse), next to the same reads
// issued as bare one-sector O_DIRECT preads. Measures only; needs root.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/channel.h"
#include "platform/clock.h"
#include "platform/linux_disks.h"
#include "sim/fuse/sim_mount.h"

namespace {

using Micros = double;

struct Stats {
    Micros mean = 0, median = 0, min = 0, max = 0;
};

Stats Summarize(std::vector<Micros> v) {
    Stats s;
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    for (Micros x : v) s.mean += x;
    s.mean /= static_cast<double>(v.size());
    s.median = v[v.size() / 2];
    s.min = v.front();
    s.max = v.back();
    return s;
}

void PrintRow(const char* what, const Stats& s, std::size_t reads) {
    std::printf("%-34s %10.1f %10.1f %10.1f %10.1f %12.1f\n", what, s.mean, s.median, s.min, s.max,
                reads ? s.mean / static_cast<double>(reads) : 0.0);
}

Micros Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<Micros, std::micro>(std::chrono::steady_clock::now() - start)
        .count();
}

int Usage() {
    std::fprintf(stderr,
                 "Usage: loop_bench [--runs N] [--sim-fuse PATH]\n"
                 "Mounts raid-sim-fuse, attaches a loop device with direct I/O and times\n"
                 "QueryController(0x11) against raw one-sector O_DIRECT preads of the same\n"
                 "LBAs. Needs root, /dev/fuse and loop devices.\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 200;
    std::string simFuse = SIM_FUSE_PATH;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--sim-fuse" && i + 1 < argc) {
            simFuse = argv[++i];
        } else {
            return Usage();
        }
    }
    if (const std::string missing = raid::sim::fuse::SimMount::MissingPrerequisites();
        !missing.empty()) {
        std::fprintf(stderr, "loop_bench: cannot run: %s\n", missing.c_str());
        return 1;
    }
    raid::sim::fuse::SimMount mount;
    if (const std::string error = mount.Start(simFuse, {"--scenario", "raid1"}); !error.empty()) {
        std::fprintf(stderr, "loop_bench: %s\n", error.c_str());
        return 1;
    }
    const std::string device = mount.LoopDevice();

    raid::platform::LinuxDiskSystem disks;
    raid::platform::SystemClock clock;
    raid::device::CommandChannel channel(disks, clock);
    const int number = disks.DiskNumberOfPath(device);
    if (number < 0) {
        std::fprintf(stderr, "loop_bench: %s is not among the numbered disks\n", device.c_str());
        return 1;
    }
    raid::device::ReplySector reply{};
    constexpr std::uint8_t kCode = raid::device::cmd::kInformation;

    // One command with a clean trace gives the exact reads to replay raw.
    mount.ClearTrace();
    if (const auto r = raid::device::QueryController(channel, number, kCode, reply); r != 0) {
        std::fprintf(stderr, "loop_bench: QueryController(0x11) failed: 0x%02X (%s)\n", r,
                     raid::device::ResultText(r));
        return 1;
    }
    const std::vector<std::uint32_t> lbas = mount.Trace();

    std::vector<Micros> commandTimes;
    int failures = 0;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const auto r = raid::device::QueryController(channel, number, kCode, reply);
        commandTimes.push_back(Since(start));
        failures += r != 0;
    }

    const int fd = open(device.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "loop_bench: open %s: %s\n", device.c_str(), std::strerror(errno));
        return 1;
    }
    void* buffer = nullptr;
    if (posix_memalign(&buffer, 4096, 512) != 0) return 1;
    std::vector<Micros> rawTimes;
    int rawFailures = 0;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        for (const std::uint32_t lba : lbas) {
            rawFailures += pread(fd, buffer, 512, static_cast<off_t>(lba) * 512) != 512;
        }
        rawTimes.push_back(Since(start));
    }
    free(buffer);
    close(fd);

    std::printf("loop device %s (direct I/O), %d runs, %zu reads per command\n", device.c_str(),
                runs, lbas.size());
    std::printf("%-34s %10s %10s %10s %10s %12s\n", "microseconds", "mean", "median", "min", "max",
                "mean/read");
    PrintRow("QueryController(0x11) via channel", Summarize(commandTimes), lbas.size());
    PrintRow("same LBAs, raw O_DIRECT preads", Summarize(rawTimes), lbas.size());
    if (failures || rawFailures) {
        std::printf("failures: %d commands, %d raw reads\n", failures, rawFailures);
    }
    return 0;
}
