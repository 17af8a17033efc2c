// flash_loop_bench: a firmware upgrade and a whole-flash read through the
// kernel path (loop device with direct I/O over raid-sim-fuse), each next to
// a raw replay of the same reads: the LBAs the emulator recorded of the
// program's run, read one sector each with pread on a descriptor opened as
// the program's disk handle opens its read descriptor (O_RDONLY | O_DIRECT |
// O_CLOEXEC, a 4096-aligned buffer), with nothing else in the timed loop.
// The replay is the floor the program's run can reach.
//
// Program runs and replays alternate (ABBA: program first in even rounds,
// replay first in odd ones) so that neither side always runs on a warmer or
// a quieter machine; every timed run starts from a cleared emulator trace.
// The bench and the daemon run at the highest nice level it may set, so
// other load on the machine slows both sides alike rather than one run.
// Each program run's trace must equal the first one's, and the reads of both
// operations are checked against the counts and digests of the program's
// reads as they stand (a change of the program's read path must keep them).
// Measures only; needs root.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
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

constexpr std::size_t kBlock = 128;  // bytes of flash one command moves

// The program's reads as they stand: their number and FNV-1a digest for the
// whole-flash read of the emulated 512 KiB part and for the upgrade with the
// image built below.
struct KnownTrace {
    std::size_t reads;
    std::uint64_t digest;
};
constexpr KnownTrace kKnownRead{74048, 0x6f7cf75f88e7558dull};
constexpr KnownTrace kKnownUpgrade{664204, 0x3e2600ad3b2bd1caull};

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::uint64_t Digest(const std::vector<std::uint32_t>& lbas) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (const std::uint32_t lba : lbas) {
        for (int shift = 0; shift < 32; shift += 8) {
            h ^= (lba >> shift) & 0xFFu;
            h *= 0x100000001b3ull;
        }
    }
    return h;
}

// The descriptor and buffer of a replay, made before its timed loop.
class RawReader {
public:
    explicit RawReader(const std::string& device)
        : fd_(open(device.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC)) {
        if (posix_memalign(&buffer_, 4096, 4096) != 0) buffer_ = nullptr;
    }
    ~RawReader() {
        free(buffer_);
        if (fd_ >= 0) close(fd_);
    }
    RawReader(const RawReader&) = delete;
    RawReader& operator=(const RawReader&) = delete;
    bool Ok() const { return fd_ >= 0 && buffer_ != nullptr; }

    // The reads of `lbas`, one sector each; seconds taken. Short or failed
    // reads are counted into `failures`.
    double Replay(const std::vector<std::uint32_t>& lbas, int& failures) {
        int failed = 0;
        const auto start = std::chrono::steady_clock::now();
        for (const std::uint32_t lba : lbas)
            failed += pread(fd_, buffer_, 512, static_cast<off_t>(lba) * 512) != 512;
        const double seconds = SecondsSince(start);
        failures += failed;
        return seconds;
    }

private:
    int fd_;
    void* buffer_ = nullptr;
};

struct Series {
    std::vector<double> program;
    std::vector<double> replay;
};

struct Summary {
    double median = 0, min = 0, max = 0;
};

Summary Summarize(std::vector<double> v) {
    Summary s;
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    s.median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    s.min = v.front();
    s.max = v.back();
    return s;
}

void Row(const char* what, std::size_t reads, const Summary& s) {
    std::printf("  %-9s %8.2f s  (%6.2f - %6.2f)  %6.1f us/read\n", what, s.median, s.min, s.max,
                reads ? s.median * 1e6 / static_cast<double>(reads) : 0.0);
}

void Report(const char* what, std::size_t reads, std::size_t blocks, const Series& series,
            const KnownTrace& known, std::uint64_t digest) {
    const Summary program = Summarize(series.program);
    const Summary replay = Summarize(series.replay);
    std::printf("%s: %zu reads, %.2f per %zu-byte block; %s the program's reads as they stand\n",
                what, reads, static_cast<double>(reads) / static_cast<double>(blocks), kBlock,
                reads == known.reads && digest == known.digest ? "the same as" : "DIFFERENT from");
    std::printf("  %-9s %8s    %-17s\n", "", "median", "(min - max)");
    Row("program", reads, program);
    Row("replay", reads, replay);
    std::printf("  program / replay (medians) %.3f\n",
                replay.median > 0 ? program.median / replay.median : 0.0);
}

// The highest priority this process may give itself and `daemon`; the nice
// level reached.
int RaisePriority(pid_t daemon) {
    for (int level = -20; level < 0; ++level) {
        if (setpriority(PRIO_PROCESS, 0, level) != 0) continue;
        if (daemon > 0) setpriority(PRIO_PROCESS, static_cast<id_t>(daemon), level);
        return level;
    }
    return getpriority(PRIO_PROCESS, 0);
}

int Usage() {
    std::fprintf(stderr,
                 "Usage: flash_loop_bench [--runs N] [--sim-fuse PATH]\n"
                 "Times a whole-flash read and a firmware upgrade through a loop device over\n"
                 "raid-sim-fuse, N times each (default 5), alternating with raw replays of the\n"
                 "same reads. Needs root, /dev/fuse and loop devices.\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
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
    if (const std::string missing = SimMount::MissingPrerequisites(); !missing.empty()) {
        std::fprintf(stderr, "flash_loop_bench: cannot run: %s\n", missing.c_str());
        return 1;
    }
    SimMount mount;
    if (const std::string error = mount.Start(simFuse, {"--scenario", "raid1"}); !error.empty()) {
        std::fprintf(stderr, "flash_loop_bench: %s\n", error.c_str());
        return 1;
    }
    const int nice = RaisePriority(mount.DaemonPid());
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
    RawReader raw(device);
    if (!raw.Ok()) {
        std::fprintf(stderr, "flash_loop_bench: cannot open %s for direct reads\n", device.c_str());
        return 1;
    }

    // The program's run of an operation, timed; its trace is the replay's
    // reads (first run) or must equal them. False after a failure.
    std::vector<std::uint32_t> readLbas;
    std::vector<std::uint32_t> upgradeLbas;
    std::vector<std::uint8_t> flash;
    auto readFlash = [&](double& seconds) {
        mount.ClearTrace();
        const auto start = std::chrono::steady_clock::now();
        auto read = raid::firmware::ReadFlash(state, fw, ch, host, index, 0, *part);
        seconds = SecondsSince(start);
        if (!read.ok) {
            std::fprintf(stderr, "flash_loop_bench: %s\n", read.failureText.c_str());
            return false;
        }
        if (flash.empty()) flash = std::move(read.bytes);
        return true;
    };
    auto upgrade = [&](double& seconds) {
        mount.ClearTrace();
        const auto start = std::chrono::steady_clock::now();
        const auto result = raid::firmware::RunUpgrade(state, fw, ch, host, index);
        seconds = SecondsSince(start);
        if (!result.Succeeded()) {
            std::fprintf(stderr, "flash_loop_bench: %s\n", result.finalText.c_str());
            return false;
        }
        return true;
    };
    auto sameTrace = [&](std::vector<std::uint32_t>& reference, const char* what) {
        std::vector<std::uint32_t> lbas = mount.Trace();
        if (reference.empty()) {
            reference = std::move(lbas);
            return true;
        }
        if (lbas == reference) return true;
        std::fprintf(stderr, "flash_loop_bench: the reads of one %s differ from the first's\n",
                     what);
        return false;
    };
    auto replay = [&](const std::vector<std::uint32_t>& lbas, int& failures) {
        mount.ClearTrace();
        return raw.Replay(lbas, failures);
    };

    Series reads;
    Series upgrades;
    int failures = 0;
    // Round 0 must start with the program: its reads are the replay's.
    for (int round = 0; round < runs; ++round) {
        const bool programFirst = round % 2 == 0;
        double seconds = 0;
        if (!programFirst) reads.replay.push_back(replay(readLbas, failures));
        if (!readFlash(seconds) || !sameTrace(readLbas, "whole-flash read")) return 1;
        reads.program.push_back(seconds);
        if (programFirst) reads.replay.push_back(replay(readLbas, failures));

        if (fw.image.bytes.empty()) {
            // The largest image the part takes (its erase ends at the part's
            // end), made of what the flash holds with the rest filled in.
            fw.image.bytes.assign(flash.begin(), flash.begin() + (*part - 0x2000));
            for (std::size_t i = 0x1000; i < fw.image.bytes.size(); ++i)
                fw.image.bytes[i] = static_cast<std::uint8_t>(i * 31 + (i >> 9));
        }
        if (!programFirst) upgrades.replay.push_back(replay(upgradeLbas, failures));
        if (!upgrade(seconds) || !sameTrace(upgradeLbas, "upgrade")) return 1;
        upgrades.program.push_back(seconds);
        if (programFirst) upgrades.replay.push_back(replay(upgradeLbas, failures));
        std::fprintf(stderr, "round %d/%d: read %.2f / %.2f s, upgrade %.2f / %.2f s\n", round + 1,
                     runs, reads.program.back(), reads.replay.back(), upgrades.program.back(),
                     upgrades.replay.back());
    }

    std::printf("loop device %s (direct I/O), part of %u bytes, %d runs each, nice %d\n",
                device.c_str(), *part, runs, nice);
    Report("read whole flash", readLbas.size(), *part / kBlock, reads, kKnownRead,
           Digest(readLbas));
    char what[64];
    std::snprintf(what, sizeof what, "upgrade, %zu-byte image", fw.image.bytes.size());
    Report(what, upgradeLbas.size(), fw.image.bytes.size() / kBlock, upgrades, kKnownUpgrade,
           Digest(upgradeLbas));
    std::printf("  (digests %016llx, %016llx)\n", static_cast<unsigned long long>(Digest(readLbas)),
                static_cast<unsigned long long>(Digest(upgradeLbas)));
    if (failures) std::printf("raw read failures: %d\n", failures);
    return 0;
}
