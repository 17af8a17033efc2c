#pragma once
// raidctl monitor run in-process against simulated enclosures on a manual
// clock, with a temporary log folder.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/raidctl_args.h"
#include "cli/raidctl_monitor.h"
#include "cli/raidctl_sim.h"
#include "common/text.h"
#include "eventlog/event_lines.h"
#include "eventlog/log_file.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"
#include "tests/unit/test_files_and_time.h"

namespace raid::cli::monitor_test {

using raid::test_support::Local;

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

inline const std::string kSep(eventlog::kSeparator);
inline constexpr const char* kPattern = "%d/%m/%Y %H:%M:%S";

inline Lines SplitLines(const std::string& text) {
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

inline bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

inline std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

class RaidctlMonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string dir = (fs::temp_directory_path() / "raidctl_monitor.XXXXXX").string();
        ASSERT_NE(mkdtemp(dir.data()), nullptr);
        logDir_ = dir;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(logDir_, ec);
    }

    // Simulated enclosures of `scenario` on the test's clock.
    void Plug(const std::string& scenario) {
        std::string error;
        disks_ = MakeSimulatedDisks(scenario, clock_, error);
        ASSERT_TRUE(disks_) << error;
    }
    // A control line for the enclosure on simulated disk `disk`.
    void Control(int disk, const std::string& line) {
        auto emulator = dynamic_cast<sim::SimDiskSystem&>(*disks_).Emulator(disk);
        ASSERT_TRUE(emulator);
        EXPECT_EQ(emulator->Control(line), "") << line;
    }

    // Runs `raidctl monitor WORDS`; `between(n)` runs after poll n (1, 2, ...)
    // and before the wait for the next.
    int Monitor(std::vector<std::string_view> words,
                std::function<void(std::uint32_t)> between = {},
                std::function<bool(std::uint32_t)> stop = {}) {
        words.insert(words.begin(), "monitor");
        const ParseResult parsed = ParseArguments(words);
        EXPECT_TRUE(parsed.ok()) << parsed.error;
        std::ostringstream out, err;
        Context ctx{*disks_, clock_, {}, out, err};
        MonitorOptions options;
        options.logDir = logDir_;
        options.timeStamp = text::PatternDateTimeFormatter(kPattern);
        if (configure_) configure_(options);
        std::uint32_t seen = 0;
        options.stop = [&](std::uint32_t done) {
            stopCalls_[done].push_back(clock_.NowMs());
            if (done > seen) {
                seen = done;
                if (between) between(done);
            }
            return stop && stop(done);
        };
        const int code = RunMonitor(ctx, parsed.args, options);
        out_ = out.str();
        err_ = err.str();
        return code;
    }

    fs::path DayFile() { return logDir_ / (text::FileDateText(clock_.WallNow()) + ".log"); }
    Lines FileLines() {
        Lines lines;
        std::string error;
        EXPECT_TRUE(eventlog::ReadLogFile(DayFile(), lines, error)) << error;
        return lines;
    }

    platform::ManualClock clock_{Local(2024, 3, 15, 12, 0, 0)};
    std::unique_ptr<platform::DiskSystem> disks_;
    fs::path logDir_;
    std::string out_;
    std::string err_;
    std::map<std::uint32_t, std::vector<std::uint64_t>> stopCalls_;
    // Adds to the options of the next Monitor() runs.
    std::function<void(MonitorOptions&)> configure_;
};

}  // namespace raid::cli::monitor_test
