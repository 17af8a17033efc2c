#include "tests/soak/soak_script.h"

#include <gtest/gtest.h>
#include <malloc.h>
#if defined(__SANITIZE_ADDRESS__)
#define RAID_SOAK_ASAN 1
// AddressSanitizer's own count of the bytes allocated and not yet freed.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>

#include "common/text.h"
#include "eventlog/event_lines.h"
#include "eventlog/log_file.h"

namespace raid::soak {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kSecond = 1000;
constexpr std::uint64_t kMinute = 60 * kSecond;
constexpr std::uint64_t kHour = 60 * kMinute;
// Long enough for a poll to follow, and for one skipped after a failure.
constexpr std::uint64_t kSettle = 25 * kSecond;
// The device-change debounce, the discovery and the poll after it.
constexpr std::uint64_t kPlugSettle = 40 * kSecond;
constexpr std::size_t kStampLength = 19;

// Member state codes the emulator takes, and the event each one's class logs.
struct MemberChange {
    std::uint8_t code;
    const char* control;
    const char* event;
};
constexpr MemberChange kChanges[] = {
    {0x00, "present", "initialized"},
    {0x04, "pull", "removed"},
    {0x06, "insert", "inserted"},
    {0x09, "fail", "failed"},
};

// The class of a raw state code, as the array status is read: 1 (being
// rebuilt) counts as present.
int ClassOf(std::uint8_t code) {
    switch (code) {
        case 0:
        case 1:
            return 0;
        case 6:
            return 2;
        case 9:
            return 3;
        default:
            return 1;
    }
}

std::string Hex2(std::uint8_t v) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(v));
    return buf;
}

std::string MemberText(int position, int member, const char* event, std::uint8_t code) {
    return "D" + std::to_string(position + 1) + " HDD" + std::to_string(member + 1) + " was " +
           event + " " + Hex2(code);
}

// A stamped line's text as ExpectedEvent keeps it.
std::string Canonical(const std::string& text) {
    static const std::regex kMember(R"(^D\d HDD\d was (removed|initialized|failed|inserted))");
    static const std::string kStarted = " has started from ";
    std::smatch m;
    if (std::regex_search(text, m, kMember) && text.size() >= 2)
        return m.str(0) + " " + text.substr(text.size() - 2);
    if (text.size() >= kStarted.size() &&
        text.compare(text.size() - kStarted.size(), kStarted.size(), kStarted) == 0)
        return "has started from";
    return text;
}

// The stamp at the end of `line`, if it has one.
std::optional<std::time_t> StampOf(const std::string& line) {
    if (line.size() < kStampLength) return std::nullopt;
    const std::string stamp = line.substr(line.size() - kStampLength);
    static const std::regex kStamp(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d)");
    if (!std::regex_match(stamp, kStamp)) return std::nullopt;
    std::tm tm{};
    if (strptime(stamp.c_str(), kStampPattern, &tm) == nullptr) return std::nullopt;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

std::string EnvOr(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

}  // namespace

// Under AddressSanitizer a simulated day (about 16 s for the monitor and
// for the window there; the week takes minutes each) instead of the week.
#ifdef RAID_SOAK_ASAN
constexpr const char* kDefaultSoakDays = "1";
#else
constexpr const char* kDefaultSoakDays = "7";
#endif

double SoakDays() {
    return std::strtod(EnvOr("RAID_SOAK_DAYS", kDefaultSoakDays).c_str(), nullptr);
}

std::chrono::system_clock::time_point StartOfSoak() {
    std::tm tm{};
    tm.tm_year = 2024 - 1900;
    tm.tm_mon = 5;
    tm.tm_mday = 10;
    tm.tm_hour = 9;
    tm.tm_min = 17;
    tm.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

SoakFolder::SoakFolder() {
    std::string pattern = (fs::temp_directory_path() / "raid-soak-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path = pattern;
}

SoakFolder::~SoakFolder() {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
}

std::uint32_t SoakSeed() {
    return static_cast<std::uint32_t>(
        std::strtoul(EnvOr("RAID_SOAK_SEED", "20240610").c_str(), nullptr, 10));
}

SoakScript::SoakScript(platform::ManualClock& clock, sim::SimDiskSystem& disks, std::uint32_t seed,
                       std::uint64_t spanMs, std::chrono::system_clock::time_point wallStart)
    : clock_(clock),
      disks_(disks),
      random_(seed),
      spanMs_(spanMs),
      wallStart_(wallStart),
      spool_(spoolFolder_.path / "expected") {
    EXPECT_TRUE(spool_.is_open()) << spoolFolder_.path;
    const char* names[2] = {"raid1", "raid0"};
    for (int i = 0; i < 2; ++i) {
        Enclosure& e = enclosures_[i];
        e.name = names[i];
        auto model = sim::ScenarioEnclosure(e.name);
        e.emulator = std::make_shared<sim::ControllerEmulator>(*model, &clock_);
        disks_.AddEnclosure(e.emulator);
        order_.push_back(i);
    }
    Expect("has started from");
    EndEpisode(clock_.NowMs() + kMinute);
}

bool SoakScript::TakeDeviceChange() { return std::exchange(deviceChanged_, false); }

std::uint64_t SoakScript::Uniform(std::uint64_t lo, std::uint64_t hi) {
    return std::uniform_int_distribution<std::uint64_t>(lo, hi)(random_);
}

void SoakScript::Act() {
    const std::uint64_t now = clock_.NowMs();
    if (!hourPassed_ && now >= kHour) {
        hourPassed_ = true;
        if (atFirstHour) atFirstHour();
    }
    if (now >= static_cast<std::uint64_t>(daysPassed_ + 1) * 24 * kHour) {
        ++daysPassed_;
        if (atDay) atDay(daysPassed_);
    }
    // The emulators' records are a test aid, not the program's memory.
    if (now >= nextRecordRelease_) {
        nextRecordRelease_ = now + kHour;
        for (Enclosure& e : enclosures_) e.emulator->ReleaseRecords();
    }
    while (!steps_.empty() && steps_.front().atMs <= now) {
        const auto run = steps_.front().run;
        if (!run()) {
            steps_.front().atMs = now + 5 * kSecond;
            break;
        }
        steps_.pop_front();
    }
    if (steps_.empty() && !finished_) {
        if (now >= spanMs_) {
            finished_ = true;
        } else {
            PlanEpisode(now);
        }
    }
}

void SoakScript::Expect(std::string text) {
    episode_.push_back({std::move(text), clock_.NowMs(), 0});
}

ProcessUse SoakScript::MeasureProgram() {
    for (Enclosure& e : enclosures_) e.emulator->ReleaseRecords();
    return MeasureProcess();
}

std::vector<ExpectedEvent> SoakScript::Expected() {
    spool_.flush();
    std::vector<ExpectedEvent> events;
    std::ifstream in(spoolFolder_.path / "expected");
    std::string line;
    while (std::getline(in, line)) {
        // "<fromMs> <toMs> <text>"
        ExpectedEvent e;
        std::istringstream fields(line);
        fields >> e.fromMs >> e.toMs;
        fields.get();
        std::getline(fields, e.text);
        EXPECT_FALSE(fields.fail()) << line;
        events.push_back(std::move(e));
    }
    events.insert(events.end(), episode_.begin(), episode_.end());
    return events;
}

void SoakScript::Control(Enclosure& e, const std::string& line) {
    const std::string error = e.emulator->Control(line);
    EXPECT_EQ(error, "") << line;
    ++counts_[line.substr(0, line.find(' '))];
}

int SoakScript::Position(const Enclosure& e) const {
    for (std::size_t p = 0; p < order_.size(); ++p)
        if (&enclosures_[order_[p]] == &e) return static_cast<int>(p);
    return -1;
}

SoakScript::Enclosure& SoakScript::PickPlugged() {
    return enclosures_[order_[Uniform(0, order_.size() - 1)]];
}

void SoakScript::EndEpisode(std::uint64_t atMs) {
    steps_.push_back(
        {atMs, [this] {
             const std::uint64_t now = clock_.NowMs();
             for (const ExpectedEvent& e : episode_)
                 spool_ << e.fromMs << ' ' << now << ' ' << e.text << '\n';
             episode_.clear();
             // A quiet spell before the next episode.
             steps_.push_back({now + Uniform(30 * kSecond, 20 * kMinute), [] { return true; }});
             return true;
         }});
}

void SoakScript::PlanEpisode(std::uint64_t now) {
    const std::uint64_t dice = Uniform(0, 99);
    if (dice < 40) {
        PlanMemberChange(now);
    } else if (dice < 70) {
        PlanFault(now);
    } else if (dice < 82) {
        PlanRebuild(now);
    } else {
        PlanPlug(now);
    }
}

void SoakScript::ChangeMember(Enclosure& e, int m, std::uint8_t code) {
    const int before = ClassOf(e.state[m]);
    e.state[m] = code;
    for (const MemberChange& c : kChanges) {
        if (c.code != code) continue;
        Control(e, std::string(c.control) + " " + std::to_string(m + 1));
        if (ClassOf(code) != before) Expect(MemberText(Position(e), m, c.event, code));
    }
}

void SoakScript::PlanMemberChange(std::uint64_t now) {
    steps_.push_back({now, [this] {
                          Enclosure& e = PickPlugged();
                          const int m = static_cast<int>(Uniform(0, 1));
                          // Another class than the member's now: always a line.
                          std::vector<std::uint8_t> codes;
                          for (const MemberChange& c : kChanges)
                              if (ClassOf(c.code) != ClassOf(e.state[m])) codes.push_back(c.code);
                          ChangeMember(e, m, codes[Uniform(0, codes.size() - 1)]);
                          return true;
                      }});
    EndEpisode(now + Uniform(kSettle, 3 * kMinute));
}

void SoakScript::PlanFault(std::uint64_t now) {
    Enclosure& e = PickPlugged();
    const std::uint64_t length = Uniform(5 * kSecond, 40 * kSecond);
    const std::uint64_t kind = Uniform(0, 5);
    // Each fault and the line that takes it away again.
    static const char* const kFaults[][2] = {
        {"silent on", "silent off"}, {"noreply 2", "noreply 0"}, {"badsig 2", "badsig 0"},
        {"status 33", "status off"}, {"delay 1500", "delay 0"},  {"readfail 11 2", ""},
    };
    steps_.push_back({now, [this, &e, kind] {
                          Control(e, kFaults[kind][0]);
                          return true;
                      }});
    // A member that changes while its enclosure is silent is logged when it
    // answers again.
    if (kind == 0 && Uniform(0, 1) == 1) {
        const int m = static_cast<int>(Uniform(0, 1));
        steps_.push_back({now + Uniform(0, length), [this, &e, m] {
                              const std::uint8_t code = ClassOf(e.state[m]) == 1
                                                            ? std::uint8_t{0x00}
                                                            : std::uint8_t{0x04};
                              ChangeMember(e, m, code);
                              return true;
                          }});
    }
    if (*kFaults[kind][1] != '\0') {
        steps_.push_back({now + length, [this, &e, kind] {
                              Control(e, kFaults[kind][1]);
                              return true;
                          }});
    }
    EndEpisode(now + length + kSettle);
}

void SoakScript::PlanRebuild(std::uint64_t now) {
    Enclosure& e = PickPlugged();
    const int m = static_cast<int>(Uniform(0, 1));
    // "Done" needs both members present at the end.
    if (e.state[1 - m] != 0) return PlanMemberChange(now);
    const auto percent = static_cast<unsigned>(Uniform(60, 97));
    steps_.push_back({now, [this, &e, m, percent] {
                          const bool wasPresent = ClassOf(e.state[m]) == 0;
                          e.state[m] = 1;
                          Control(e, "rebuild " + std::to_string(m + 1) + " " +
                                         std::to_string(percent));
                          const std::string device = "D" + std::to_string(Position(e) + 1);
                          if (!wasPresent) Expect(MemberText(Position(e), m, "initialized", 1));
                          const std::string arrow = m == 0 ? " HDD2 --> HDD1 " : " HDD1 --> HDD2 ";
                          for (unsigned p = percent; p <= 99; ++p)
                              Expect(device + arrow + std::to_string(p) + "%, ");
                          Expect(device + arrow + "Done, ");
                          return true;
                      }});
    // Each poll moves the rebuild on by one percent.
    steps_.push_back({now + 5 * kSecond, [this, &e, m] {
                          if (e.emulator->WithModel([m](sim::Enclosure& model) {
                                  return model.members[m].state;
                              }) == 1)
                              return false;
                          e.state[m] = 0;
                          EndEpisode(clock_.NowMs() + kSettle);
                          return true;
                      }});
}

void SoakScript::PlanPlug(std::uint64_t now) {
    steps_.push_back({now, [this] {
                          if (order_.size() == 2) {
                              // One of the two goes; the other moves up when it was behind.
                              Enclosure& e = PickPlugged();
                              const int position = Position(e);
                              disks_.RemoveDisk(position);
                              order_.erase(order_.begin() + position);
                              Expect("D" + std::to_string(position + 1) + " Device was removed.");
                              ++counts_["unplug"];
                          } else {
                              const int index = order_[0] == 0 ? 1 : 0;
                              disks_.AddEnclosure(enclosures_[index].emulator);
                              order_.push_back(index);
                              Expect("D" + std::to_string(order_.size()) +
                                     " New Device was found.");
                              ++counts_["plug"];
                          }
                          Expect("    Device had changed.");
                          deviceChanged_ = true;
                          return true;
                      }});
    EndEpisode(now + kPlugSettle);
}

std::vector<LoggedEvent> ReadDayFiles(const fs::path& folder,
                                      std::chrono::system_clock::time_point from,
                                      std::chrono::system_clock::time_point to,
                                      std::size_t& fileCount) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".log") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    fileCount = files.size();

    // One file a day, from the first day to the last.
    std::vector<std::string> days;
    for (auto day = from; text::FileDateText(day) <= text::FileDateText(to);
         day += std::chrono::hours(24)) {
        const std::string name = text::FileDateText(day) + ".log";
        if (days.empty() || days.back() != name) days.push_back(name);
    }
    std::vector<std::string> names;
    for (const auto& f : files) names.push_back(f.filename().string());
    EXPECT_EQ(names, days);

    const std::time_t start = std::chrono::system_clock::to_time_t(from);
    const std::string separator(eventlog::kSeparator);
    std::vector<LoggedEvent> events;
    for (std::size_t f = 0; f < files.size(); ++f) {
        std::vector<std::string> lines;
        std::string error;
        EXPECT_TRUE(eventlog::ReadLogFile(files[f], lines, error)) << error;
        const std::string name = files[f].filename().string();
        // The header of a new day: a separator, then the start line (first
        // day) or the devices' information (or straight the closing
        // separator when none answered that poll).
        if (lines.size() < 2) {
            ADD_FAILURE() << name << " holds " << lines.size() << " lines";
            continue;
        }
        EXPECT_EQ(lines[0], separator) << name;
        if (f == 0) {
            EXPECT_NE(lines[1].find(" has started from "), std::string::npos) << name;
        } else {
            EXPECT_TRUE(lines[1] == separator ||
                        std::regex_match(lines[1], std::regex(R"(Device\d information :)")))
                << name << ": " << lines[1];
        }
        for (const std::string& line : lines) {
            const auto stamp = StampOf(line);
            if (!stamp) continue;
            const auto at = std::chrono::system_clock::from_time_t(*stamp);
            EXPECT_EQ(text::FileDateText(at) + ".log", name) << line;
            events.push_back({Canonical(line.substr(0, line.size() - kStampLength)),
                              static_cast<std::uint64_t>(*stamp - start) * kSecond, name});
        }
    }
    return events;
}

void CompareEvents(const std::vector<ExpectedEvent>& expected,
                   const std::vector<LoggedEvent>& logged) {
    const std::size_t n = std::min(expected.size(), logged.size());
    for (std::size_t i = 0; i < n; ++i) {
        const ExpectedEvent& e = expected[i];
        const LoggedEvent& l = logged[i];
        // Stamps are whole seconds.
        const bool inTime = l.atMs + kSecond > e.fromMs && l.atMs <= e.toMs;
        if (e.text == l.text && inTime) continue;
        std::string context;
        for (std::size_t k = i >= 3 ? i - 3 : 0; k < std::min(n, i + 4); ++k)
            context += "\n  expected \"" + expected[k].text + "\" in [" +
                       std::to_string(expected[k].fromMs / kSecond) + " s, " +
                       std::to_string(expected[k].toMs / kSecond) + " s]; logged \"" +
                       logged[k].text + "\" at " + std::to_string(logged[k].atMs / kSecond) +
                       " s in " + logged[k].file;
        ADD_FAILURE() << "event " << i << " differs:" << context;
        return;
    }
    EXPECT_EQ(logged.size(), expected.size())
        << (logged.size() > n     ? "more logged, first: " + logged[n].text
            : expected.size() > n ? "not logged: " + expected[n].text
                                  : std::string());
}

ProcessUse MeasureProcess() {
    ProcessUse use;
    std::ifstream statm("/proc/self/statm");
    std::size_t size = 0, resident = 0;
    statm >> size >> resident;
    use.residentBytes = resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
#ifdef RAID_SOAK_ASAN
    use.heapBytes = __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 heap = ::mallinfo2();
    use.heapBytes = heap.uordblks + heap.hblkhd;
#endif
    // The listing's own descriptor counts alike every time.
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
        ++use.descriptors;
    return use;
}

namespace {

// What the process used at hour 1, at each whole simulated day and at the end.
struct UseOverTime {
    ProcessUse before, hour, end, after;
    std::vector<ProcessUse> days;
};

// Heap growth allowed from hour 1 to any later measurement: allocator noise
// and the program's list of the current day's lines, which at a day's mark
// holds the hours since midnight where hour 1 held one (some 40 to 60 KiB
// with the default seed). A leak of one byte a poll over a week, some 120,000
// polls, goes past it.
constexpr std::size_t kHeapSinceHour = 128 * 1024;
// Growth allowed from day 1 to any later day (each measured at the same time
// of day): a byte a poll over days 2 to 7 adds some 100 KiB.
constexpr std::size_t kHeapSinceDay1 = 64 * 1024;

void ReportAndCheckUse(const char* what, const UseOverTime& use, double days, double wallSeconds,
                       std::size_t events, std::size_t files) {
    constexpr double kMiB = 1024.0 * 1024.0;
    constexpr double kKiB = 1024.0;
    std::printf(
        "[soak] %s: %.2f simulated days (%.0f five-second polls) in %.1f s wall\n"
        "[soak] %s: resident memory %.1f MiB at hour 1, %.1f MiB at the end; heap in use "
        "%.2f MiB at hour 1, %.2f MiB at the end\n",
        what, days, days * 86400 / 5, wallSeconds, what, use.hour.residentBytes / kMiB,
        use.end.residentBytes / kMiB, use.hour.heapBytes / kMiB, use.end.heapBytes / kMiB);
    std::printf("[soak] %s: heap in use (KiB) hour 1 %.1f", what, use.hour.heapBytes / kKiB);
    for (std::size_t d = 0; d < use.days.size(); ++d)
        std::printf(", day %zu %.1f", d + 1, use.days[d].heapBytes / kKiB);
    std::printf(", end %.1f\n[soak] %s: resident (MiB) hour 1 %.1f", use.end.heapBytes / kKiB, what,
                use.hour.residentBytes / kMiB);
    for (std::size_t d = 0; d < use.days.size(); ++d)
        std::printf(", day %zu %.1f", d + 1, use.days[d].residentBytes / kMiB);
    std::printf(
        ", end %.1f\n"
        "[soak] %s: open descriptors %d before, %d at hour 1, %d at the end, %d after\n"
        "[soak] %s: %zu event lines in %zu day files\n",
        use.end.residentBytes / kMiB, what, use.before.descriptors, use.hour.descriptors,
        use.end.descriptors, use.after.descriptors, what, events, files);
    std::fflush(stdout);
    EXPECT_EQ(use.after.descriptors, use.before.descriptors);
    EXPECT_EQ(use.end.descriptors, use.hour.descriptors);
#ifndef RAID_SOAK_ASAN
    // (AddressSanitizer holds freed blocks back for a while: its resident
    // memory grows without a leak.)
    EXPECT_LT(use.end.residentBytes, use.hour.residentBytes + static_cast<std::size_t>(4 * kMiB));
#endif
    if (use.hour.heapBytes == 0) return;
    std::vector<ProcessUse> later = use.days;
    later.push_back(use.end);
    for (std::size_t d = 0; d < later.size(); ++d) {
        const std::string when =
            d < use.days.size() ? "day " + std::to_string(d + 1) : std::string("end");
        EXPECT_LT(later[d].heapBytes, use.hour.heapBytes + kHeapSinceHour) << when;
        if (d > 0) {
            EXPECT_LT(later[d].heapBytes, later[0].heapBytes + kHeapSinceDay1) << when;
        }
    }
}

}  // namespace

SoakRig::SoakRig(const std::filesystem::path& logFolder)
    : folder(logFolder),
      clock(std::make_shared<platform::ManualClock>(StartOfSoak())),
      disks(std::make_shared<sim::SimDiskSystem>()),
      script(*clock, *disks, SoakSeed(), static_cast<std::uint64_t>(SoakDays() * 86'400'000),
             StartOfSoak()) {}

void RunSoak(const char* what, const std::function<void(SoakRig& rig)>& drive) {
    const double days = SoakDays();
    SoakFolder folder;
    std::vector<ExpectedEvent> expected;
    UseOverTime use;
    // Room for every day before the first measurement: the list's own growth
    // would count.
    use.days.reserve(static_cast<std::size_t>(days) + 1);
    std::uint32_t polls = 0;
    std::chrono::system_clock::time_point wallEnd;
    use.before = MeasureProcess();
    const auto started = std::chrono::steady_clock::now();
    {
        SoakRig rig(folder.path);
        rig.script.atFirstHour = [&] { use.hour = rig.script.MeasureProgram(); };
        rig.script.atDay = [&](int) {
            if (use.days.size() < use.days.capacity())
                use.days.push_back(rig.script.MeasureProgram());
        };
        drive(rig);
        wallEnd = rig.clock->WallNow();
        expected = rig.script.Expected();
        use.end = rig.end;
        polls = rig.polls;
        std::printf("[soak] %s: %u polls; steps:", what, polls);
        for (const auto& [step, n] : rig.script.Counts()) std::printf(" %s %d", step.c_str(), n);
        std::printf("\n");
    }
    const double wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    use.after = MeasureProcess();

    std::size_t files = 0;
    const auto logged = ReadDayFiles(folder.path, StartOfSoak(), wallEnd, files);
    CompareEvents(expected, logged);
    EXPECT_GE(polls, static_cast<std::uint32_t>(days * 86400 / 5 * 0.9));
    ReportAndCheckUse(what, use, days, wallSeconds, logged.size(), files);
}

}  // namespace raid::soak
