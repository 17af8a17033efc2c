#pragma once
// A week in the life of two emulated enclosures, compressed onto a manual
// clock: member disks pulled, inserted, failed and brought back, rebuilds,
// controllers that stop answering or answer wrongly for a while, and
// enclosures unplugged and plugged in again, all drawn from one seed. The
// script spools the event-log lines that what it did must leave to a file of
// its own, and the helpers below read the day files back and measure the
// process.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"

namespace raid::soak {

// The time stamp of the log lines in both soaks.
inline constexpr const char* kStampPattern = "%d/%m/%Y %H:%M:%S";

// The simulated span: RAID_SOAK_DAYS (fractions allowed), 7 by default and 1
// under AddressSanitizer.
double SoakDays();
// RAID_SOAK_SEED, or a fixed seed so that a failure can be replayed.
std::uint32_t SoakSeed();

// Monday 10 June 2024, 09:17 local time: no clock change in the week after,
// and a start in the morning gives eight day files for seven days.
std::chrono::system_clock::time_point StartOfSoak();

// A temporary folder for the day files, removed with everything in it.
struct SoakFolder {
    SoakFolder();
    ~SoakFolder();
    SoakFolder(const SoakFolder&) = delete;
    SoakFolder& operator=(const SoakFolder&) = delete;
    std::filesystem::path path;
};

// A line the event log must hold once: its text without the time stamp (a
// member line cut to "Dn HDDm was <event>" and its state code), and the span
// of the clock (NowMs) in which it must have been stamped.
struct ExpectedEvent {
    std::string text;
    std::uint64_t fromMs = 0;
    std::uint64_t toMs = 0;
};

// The process: resident memory, heap in use (malloc's count, or
// AddressSanitizer's under it) and open descriptors.
struct ProcessUse {
    std::size_t residentBytes = 0;
    std::size_t heapBytes = 0;
    int descriptors = 0;
};
ProcessUse MeasureProcess();

class SoakScript {
public:
    // Plugs enclosure A ("raid1") and B ("raid0") into `disks`, which must be
    // empty. Time stamps relate to the clock as wallStart + NowMs.
    SoakScript(platform::ManualClock& clock, sim::SimDiskSystem& disks, std::uint32_t seed,
               std::uint64_t spanMs, std::chrono::system_clock::time_point wallStart);

    // Does what is due by now. Called by the driver between the program's
    // ticks, never in the middle of device work.
    void Act();
    // The span is over and the last episode has ended.
    bool Finished() const { return finished_; }
    // True once after each plug or unplug: the device-change notification.
    bool TakeDeviceChange();
    // Called once when the clock passes one simulated hour, and once as it
    // passes each whole simulated day (1, 2, ...).
    std::function<void()> atFirstHour;
    std::function<void(int day)> atDay;

    // The process with the emulators' records let go first: what is left to
    // grow is the program's.
    ProcessUse MeasureProgram();

    // Every line expected so far, read back from the spool.
    std::vector<ExpectedEvent> Expected();
    // How many times each kind of step ran.
    const std::map<std::string, int>& Counts() const { return counts_; }
    std::chrono::system_clock::time_point WallStart() const { return wallStart_; }

private:
    struct Enclosure {
        std::string name;
        // The same box each time it is plugged in.
        std::shared_ptr<sim::ControllerEmulator> emulator;
        // Raw member state codes as the emulator holds them.
        std::uint8_t state[2] = {0, 0};
    };
    struct Step {
        std::uint64_t atMs;
        // False: not yet; asked again a little later.
        std::function<bool()> run;
    };

    void PlanEpisode(std::uint64_t now);
    void PlanMemberChange(std::uint64_t now);
    void PlanFault(std::uint64_t now);
    void PlanRebuild(std::uint64_t now);
    void PlanPlug(std::uint64_t now);
    // Ends the episode at `atMs`: its lines must be stamped by then, and the
    // next one starts after a quiet spell.
    void EndEpisode(std::uint64_t atMs);

    // Sets member `m` of `e` to `code` and expects its line.
    void ChangeMember(Enclosure& e, int m, std::uint8_t code);
    void Control(Enclosure& e, const std::string& line);
    void Expect(std::string text);
    int Position(const Enclosure& e) const;
    Enclosure& PickPlugged();
    std::uint64_t Uniform(std::uint64_t lo, std::uint64_t hi);

    platform::ManualClock& clock_;
    sim::SimDiskSystem& disks_;
    std::mt19937 random_;
    std::uint64_t spanMs_;
    std::chrono::system_clock::time_point wallStart_;
    Enclosure enclosures_[2];
    // Enclosure indexes in disk order: a device's position is its number.
    std::vector<int> order_;
    std::deque<Step> steps_;
    // The episode's lines until it ends; then they go to the spool file, so
    // that a week of them does not count as the program's memory.
    std::vector<ExpectedEvent> episode_;
    SoakFolder spoolFolder_;
    std::ofstream spool_;
    std::map<std::string, int> counts_;
    bool deviceChanged_ = false;
    bool hourPassed_ = false;
    int daysPassed_ = 0;
    bool finished_ = false;
    std::uint64_t nextRecordRelease_ = 0;
};

// A stamped line of a day file.
struct LoggedEvent {
    std::string text;  // as ExpectedEvent::text
    std::uint64_t atMs = 0;
    std::string file;
};

// Reads every "yymmdd.log" in `folder` in date order and checks each file:
// there is one for every day from `from` to `to`, each begins with the
// header the program writes on a new day (the first with the start line),
// and every stamp in it is of its day. Returns the stamped lines, the header
// lines left out. Failures are reported to GoogleTest.
std::vector<LoggedEvent> ReadDayFiles(const std::filesystem::path& folder,
                                      std::chrono::system_clock::time_point from,
                                      std::chrono::system_clock::time_point to,
                                      std::size_t& fileCount);

// Every expected line once, in order, stamped within its span.
void CompareEvents(const std::vector<ExpectedEvent>& expected,
                   const std::vector<LoggedEvent>& logged);

// One soak: the clock, the enclosures and the script for SoakDays(), and
// what the driver tells of its run.
struct SoakRig {
    explicit SoakRig(const std::filesystem::path& logFolder);
    std::filesystem::path folder;
    std::shared_ptr<platform::ManualClock> clock;
    std::shared_ptr<sim::SimDiskSystem> disks;
    SoakScript script;
    // Set by the driver: the process once the script has finished (the
    // program still running), and the polls it counted.
    ProcessUse end;
    std::uint32_t polls = 0;
};

// Runs `drive`, which runs the program against `rig` with its day files in
// rig.folder until rig.script.Finished() and fills in the rest of the rig;
// then reads the day files back, compares the events, checks memory (flat
// from the first hour on: measured then, at each simulated day and at the
// end) and descriptors (as many before as after) and prints
// the numbers.
void RunSoak(const char* what, const std::function<void(SoakRig& rig)>& drive);

}  // namespace raid::soak
