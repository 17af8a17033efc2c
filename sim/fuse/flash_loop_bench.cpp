// flash_loop_bench: a firmware upgrade and a whole-flash read through the
// kernel path (loop device with direct I/O over raid-sim-fuse), each next to
// a raw replay of the same reads: the LBAs the emulator recorded of the
// program's run, read one sector each with pread on a descriptor opened as
// the program's disk handle opens its read descriptor (O_RDONLY | O_DIRECT |
// O_CLOEXEC, a 4096-aligned buffer), with nothing else in the timed loop.
// The replay is the floor the program's run can reach.
//
// The two sides interleave finely: the program's disk handle is wrapped so
// that, every few hundred reads, at the start of a controller command, the
// program pauses while the replay reads the span of the reference trace the
// program has just read (whole commands, so the emulator ends in the state
// the program left it in; run again, erasing and programming the same data
// change nothing). The program's time is its run less those pauses. Both
// sides thus share the machine's state of the moment: on a machine with
// other work the load changes by the second, and one side timed after the
// other would mostly measure that. The bench and the daemon run at the
// highest priority the bench may set.
//
// A first, untimed run of each operation gives the reference trace. Every
// timed program run must read exactly those LBAs, and the trace is checked
// against the count and digest of the program's reads as they stand (a
// change of the program's read path must keep them). Measures only; needs
// root.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
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
// image built below. The upgrade's begin with the enclosure read again before
// the erase: its information reply (0x11) and the flash's first 256 bytes
// (two 0x20 reads, for the type byte).
struct KnownTrace {
    std::size_t reads;
    std::uint64_t digest;
};
constexpr KnownTrace kKnownRead{74048, 0x6f7cf75f88e7558dull};
constexpr KnownTrace kKnownUpgrade{664259, 0x18c0fac957934468ull};

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
    double Replay(std::span<const std::uint32_t> lbas, int& failures) {
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

constexpr std::uint32_t kFirstKnockLba = 0x43;  // every command's first read
constexpr std::size_t kSpanReads = 256;         // reads of the program between replays

// Splits a run of the program into spans and replays each after it.
class Interleaver {
public:
    explicit Interleaver(RawReader& raw) : raw_(raw) {}

    // Starts a run that must read `reference`; null: no replay (the
    // reference run itself).
    void Begin(const std::vector<std::uint32_t>* reference) {
        reference_ = reference;
        pos_ = spanStart_ = 0;
        paused_ = replay_ = 0;
        diverged_ = false;
    }
    // Before each read of the program.
    void Before(std::uint32_t lba) {
        if (reference_ == nullptr || diverged_) return;
        if (pos_ >= reference_->size() || (*reference_)[pos_] != lba) {
            diverged_ = true;
            return;
        }
        if (lba == kFirstKnockLba && pos_ - spanStart_ >= kSpanReads) {
            const auto start = std::chrono::steady_clock::now();
            ReplaySpan();
            paused_ += SecondsSince(start);
        }
        ++pos_;
    }
    // After the program's run: the last span. True when the program read
    // exactly the reference.
    bool End() {
        if (reference_ == nullptr) return true;
        const bool same = !diverged_ && pos_ == reference_->size();
        if (same) ReplaySpan();
        reference_ = nullptr;
        return same;
    }
    double PausedSeconds() const { return paused_; }
    double ReplaySeconds() const { return replay_; }
    int failures = 0;

private:
    void ReplaySpan() {
        replay_ +=
            raw_.Replay(std::span(reference_->data() + spanStart_, pos_ - spanStart_), failures);
        spanStart_ = pos_;
    }

    RawReader& raw_;
    const std::vector<std::uint32_t>* reference_ = nullptr;
    std::size_t pos_ = 0;
    std::size_t spanStart_ = 0;
    double paused_ = 0;
    double replay_ = 0;
    bool diverged_ = false;
};

// The program's own disk handle, with the interleaver told of each read.
class InterleavedHandle : public raid::platform::DiskHandle {
public:
    InterleavedHandle(std::unique_ptr<raid::platform::DiskHandle> inner, Interleaver& interleaver)
        : inner_(std::move(inner)), interleaver_(interleaver) {}
    bool ReadSectors(std::uint32_t lba, std::span<std::uint8_t> buffer,
                     std::uint8_t count) override {
        interleaver_.Before(lba);
        return inner_->ReadSectors(lba, buffer, count);
    }
    bool InquiryDevice(std::span<std::uint8_t> buffer) override {
        return inner_->InquiryDevice(buffer);
    }
    bool TryLockCommands() override { return inner_->TryLockCommands(); }
    void UnlockCommands() override { inner_->UnlockCommands(); }

private:
    std::unique_ptr<raid::platform::DiskHandle> inner_;
    Interleaver& interleaver_;
};

class InterleavedDisks : public raid::platform::DiskSystem {
public:
    InterleavedDisks(raid::platform::DiskSystem& inner, Interleaver& interleaver)
        : inner_(inner), interleaver_(interleaver) {}
    std::vector<raid::platform::DiskInfo> ListDisks() override { return inner_.ListDisks(); }
    raid::platform::OpenResult OpenDisk(int number) override {
        raid::platform::OpenResult r = inner_.OpenDisk(number);
        if (r.handle)
            r.handle = std::make_unique<InterleavedHandle>(std::move(r.handle), interleaver_);
        return r;
    }
    std::vector<raid::platform::VolumeInfo> ListVolumes() override { return inner_.ListVolumes(); }

private:
    raid::platform::DiskSystem& inner_;
    Interleaver& interleaver_;
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
    std::vector<double> ratios;
    for (std::size_t i = 0; i < series.program.size() && i < series.replay.size(); ++i)
        if (series.replay[i] > 0) ratios.push_back(series.program[i] / series.replay[i]);
    const Summary ratio = Summarize(ratios);
    std::printf("  program / replay: %.3f (medians); per run %.3f (%.3f - %.3f)\n",
                replay.median > 0 ? program.median / replay.median : 0.0, ratio.median, ratio.min,
                ratio.max);
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
                 "Usage: flash_loop_bench [--runs N] [--read-only] [--sim-fuse PATH]\n"
                 "Times a whole-flash read and a firmware upgrade (not with --read-only)\n"
                 "through a loop device over raid-sim-fuse, N times each (default 5) after a\n"
                 "reference run, interleaved with a raw replay of the same reads. Needs root,\n"
                 "/dev/fuse and loop devices.\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    bool upgrades = true;
    std::string simFuse = SIM_FUSE_PATH;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--read-only") {
            upgrades = false;
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
    RawReader raw(device);
    if (!raw.Ok()) {
        std::fprintf(stderr, "flash_loop_bench: cannot open %s for direct reads\n", device.c_str());
        return 1;
    }
    Interleaver interleaver(raw);
    raid::platform::LinuxDiskSystem linuxDisks;
    InterleavedDisks disks(linuxDisks, interleaver);
    raid::platform::SystemClock clock;
    raid::device::CommandChannel ch(disks, clock);
    raid::AppState state;
    raid::discovery::DiscoverOnce(state, ch);
    const int number = linuxDisks.DiskNumberOfPath(device);
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

    // One run of the program's operation `op`: untimed against `reference`
    // when it is empty (which it then becomes), else timed with the replay
    // interleaved. False after a failure.
    auto run = [&](const char* what, std::vector<std::uint32_t>& reference, Series& series,
                   auto op) {
        const bool first = reference.empty();
        mount.ClearTrace();
        interleaver.Begin(first ? nullptr : &reference);
        const auto start = std::chrono::steady_clock::now();
        const std::string failure = op();
        const double seconds = SecondsSince(start) - interleaver.PausedSeconds();
        const bool same = interleaver.End();
        if (!failure.empty()) {
            std::fprintf(stderr, "flash_loop_bench: %s\n", failure.c_str());
            return false;
        }
        if (first) {
            reference = mount.Trace();
            return true;
        }
        if (!same) {
            std::fprintf(stderr, "flash_loop_bench: the reads of one %s differ from the first's\n",
                         what);
            return false;
        }
        series.program.push_back(seconds);
        series.replay.push_back(interleaver.ReplaySeconds());
        return true;
    };
    std::vector<std::uint8_t> flash;
    auto readFlash = [&] {
        auto read = raid::firmware::ReadFlash(state, fw, ch, host, index, 0, *part);
        if (read.ok && flash.empty()) flash = std::move(read.bytes);
        return read.ok ? std::string() : read.failureText;
    };
    auto upgrade = [&] {
        const auto result = raid::firmware::RunUpgrade(state, fw, ch, host, index);
        return result.Succeeded() ? std::string() : result.finalText;
    };

    std::vector<std::uint32_t> readLbas;
    std::vector<std::uint32_t> upgradeLbas;
    Series reads;
    Series upgradeSeries;
    if (!run("whole-flash read", readLbas, reads, readFlash)) return 1;
    // The largest image the part takes (its erase ends at the part's end),
    // made of what the flash holds with the rest filled in.
    fw.image.bytes.assign(flash.begin(), flash.begin() + (*part - 0x2000));
    for (std::size_t i = 0x1000; i < fw.image.bytes.size(); ++i)
        fw.image.bytes[i] = static_cast<std::uint8_t>(i * 31 + (i >> 9));
    if (upgrades && !run("upgrade", upgradeLbas, upgradeSeries, upgrade)) return 1;
    for (int round = 0; round < runs; ++round) {
        if (!run("whole-flash read", readLbas, reads, readFlash)) return 1;
        std::fprintf(stderr, "round %d/%d: read %.2f / %.2f s", round + 1, runs,
                     reads.program.back(), reads.replay.back());
        if (upgrades) {
            if (!run("upgrade", upgradeLbas, upgradeSeries, upgrade)) return 1;
            std::fprintf(stderr, ", upgrade %.2f / %.2f s", upgradeSeries.program.back(),
                         upgradeSeries.replay.back());
        }
        std::fprintf(stderr, "\n");
    }

    std::printf(
        "loop device %s (direct I/O), part of %u bytes, %d runs each after a reference run, "
        "replay interleaved every %zu reads, nice %d\n",
        device.c_str(), *part, runs, kSpanReads, nice);
    Report("read whole flash", readLbas.size(), *part / kBlock, reads, kKnownRead,
           Digest(readLbas));
    if (upgrades) {
        char what[64];
        std::snprintf(what, sizeof what, "upgrade, %zu-byte image", fw.image.bytes.size());
        Report(what, upgradeLbas.size(), fw.image.bytes.size() / kBlock, upgradeSeries,
               kKnownUpgrade, Digest(upgradeLbas));
    }
    if (interleaver.failures) std::printf("raw read failures: %d\n", interleaver.failures);
    return 0;
}
