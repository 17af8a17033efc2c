// flash_loop_bench: a firmware upgrade and a whole-flash read through the
// kernel path (loop device with direct I/O over raid-sim-fuse), each next to
// the same reads issued as bare one-sector O_DIRECT preads. Measures only;
// needs root.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/channel.h"
#include "discovery/headless.h"
#include "firmware/flash_read.h"
#include "firmware/upgrade.h"
#include "platform/clock.h"
#include "platform/linux_disks.h"
#include "sim/fuse/sim_mount.h"

namespace {

using raid::sim::fuse::SimMount;

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The reads of `lbas` as bare one-sector O_DIRECT preads; seconds taken.
double Replay(const std::string& device, const std::vector<std::uint32_t>& lbas, int& failures) {
    const int fd = open(device.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
    void* buffer = nullptr;
    if (fd < 0 || posix_memalign(&buffer, 4096, 512) != 0) {
        failures = -1;
        if (fd >= 0) close(fd);
        return 0;
    }
    const auto start = std::chrono::steady_clock::now();
    for (const std::uint32_t lba : lbas)
        failures += pread(fd, buffer, 512, static_cast<off_t>(lba) * 512) != 512;
    const double seconds = SecondsSince(start);
    free(buffer);
    close(fd);
    return seconds;
}

void Row(const char* what, std::size_t reads, double seconds) {
    std::printf("%-44s %9zu reads %8.2f s %8.1f us/read\n", what, reads, seconds,
                reads ? seconds * 1e6 / static_cast<double>(reads) : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    std::string simFuse = SIM_FUSE_PATH;
    if (argc == 3 && std::string(argv[1]) == "--sim-fuse") simFuse = argv[2];
    if (const std::string missing = SimMount::MissingPrerequisites(); !missing.empty()) {
        std::fprintf(stderr, "flash_loop_bench: cannot run: %s\n", missing.c_str());
        return 1;
    }
    SimMount mount;
    if (const std::string error = mount.Start(simFuse, {"--scenario", "raid1"}); !error.empty()) {
        std::fprintf(stderr, "flash_loop_bench: %s\n", error.c_str());
        return 1;
    }
    const std::string device = mount.LoopDevice();
    raid::platform::LinuxDiskSystem disks;
    raid::platform::SystemClock clock;
    raid::device::CommandChannel ch(disks, clock);
    raid::AppState state;
    raid::discovery::DiscoverOnce(state, ch);
    const int number = disks.DiskNumberOfPath(device);
    int index = 0;
    while (index < state.discovery.deviceCount && state.discovery.DiskOf(index) != number) ++index;
    if (number < 0 || index == state.discovery.deviceCount) {
        std::fprintf(stderr, "flash_loop_bench: no enclosure found on %s\n", device.c_str());
        return 1;
    }
    const auto part = raid::firmware::WholeFlashLength(state, index);
    if (!part) {
        std::fprintf(stderr, "flash_loop_bench: unknown flash type\n");
        return 1;
    }
    raid::firmware::FirmwareState fw;
    raid::firmware::QuietUpgradeHost host;

    // The whole part, read.
    mount.ClearTrace();
    auto start = std::chrono::steady_clock::now();
    const auto read = raid::firmware::ReadFlash(state, fw, ch, host, index, 0, *part);
    const double readSeconds = SecondsSince(start);
    const std::vector<std::uint32_t> readLbas = mount.Trace();
    if (!read.ok) {
        std::fprintf(stderr, "flash_loop_bench: %s\n", read.failureText.c_str());
        return 1;
    }

    // The largest image the part takes (its erase ends at the part's end),
    // made of what the flash holds with the rest filled in.
    fw.image.bytes.assign(read.bytes.begin(), read.bytes.begin() + (*part - 0x2000));
    for (std::size_t i = 0x1000; i < fw.image.bytes.size(); ++i)
        fw.image.bytes[i] = static_cast<std::uint8_t>(i * 31 + (i >> 9));
    mount.ClearTrace();
    start = std::chrono::steady_clock::now();
    const auto upgrade = raid::firmware::RunUpgrade(state, fw, ch, host, index);
    const double upgradeSeconds = SecondsSince(start);
    const std::vector<std::uint32_t> upgradeLbas = mount.Trace();
    if (!upgrade.Succeeded()) {
        std::fprintf(stderr, "flash_loop_bench: %s\n", upgrade.finalText.c_str());
        return 1;
    }

    int failures = 0;
    const double rawRead = Replay(device, readLbas, failures);
    const double rawUpgrade = Replay(device, upgradeLbas, failures);
    std::printf("loop device %s (direct I/O), part of %u bytes\n", device.c_str(), *part);
    Row("read whole flash via channel", readLbas.size(), readSeconds);
    Row("  same LBAs, raw O_DIRECT preads", readLbas.size(), rawRead);
    char what[64];
    std::snprintf(what, sizeof what, "upgrade, %zu-byte image, via channel", fw.image.bytes.size());
    Row(what, upgradeLbas.size(), upgradeSeconds);
    Row("  same LBAs, raw O_DIRECT preads", upgradeLbas.size(), rawUpgrade);
    if (failures) std::printf("raw read failures: %d\n", failures);
    return 0;
}
