// raidctl monitor for a simulated week against two emulated enclosures with
// faults, member changes, rebuilds and plugging (soak_script.h): every event
// logged once in the right day's file, memory flat after the first hour, no
// descriptor left open.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ostream>
#include <streambuf>
#include <string_view>

#include "cli/raidctl_args.h"
#include "cli/raidctl_monitor.h"
#include "common/text.h"
#include "tests/soak/soak_script.h"

namespace raid::soak {
namespace {

// Counts lines and keeps those `keep` picks (at most a few): a week of
// output held in memory would be the soak's own growth.
class LineTally final : public std::streambuf {
public:
    explicit LineTally(std::function<bool(const std::string&)> keep) : keep_(std::move(keep)) {}
    std::size_t lines = 0;
    std::vector<std::string> kept;

protected:
    int_type overflow(int_type c) override {
        if (c != traits_type::eof()) Put(static_cast<char>(c));
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        for (std::streamsize i = 0; i < n; ++i) Put(s[i]);
        return n;
    }

private:
    void Put(char c) {
        if (c != '\n') {
            if (line_.size() < 512) line_.push_back(c);
            return;
        }
        ++lines;
        if (kept.size() < 20 && keep_(line_)) kept.push_back(line_);
        line_.clear();
    }
    std::function<bool(const std::string&)> keep_;
    std::string line_;
};

TEST(MonitorSoak, AWeekOfPollsKeepsEveryEventOnceAndStaysFlat) {
    LineTally out([](const std::string&) { return false; });
    // A device given up or a log file that could not be written would be
    // worth seeing.
    LineTally err([](const std::string& line) {
        return line.find("no longer monitored") != std::string::npos ||
               line.find("log file") != std::string::npos;
    });
    RunSoak("monitor", [&](SoakRig& rig) {
        std::ostream outStream(&out), errStream(&err);
        cli::Context ctx{*rig.disks, *rig.clock, {}, outStream, errStream};
        const std::string_view words[] = {"monitor"};
        const cli::ParseResult parsed = cli::ParseArguments(words);
        ASSERT_TRUE(parsed.ok()) << parsed.error;
        cli::MonitorOptions options;
        options.logDir = rig.folder;
        options.timeStamp = text::PatternDateTimeFormatter(kStampPattern);
        options.deviceEvents = [&] { return rig.script.TakeDeviceChange(); };
        options.stop = [&](std::uint32_t done) {
            rig.polls = done;
            rig.script.Act();
            if (!rig.script.Finished()) return false;
            rig.end = rig.script.MeasureProgram();
            return true;
        };
        EXPECT_EQ(cli::RunMonitor(ctx, parsed.args, options), cli::kExitOk);
    });
    EXPECT_TRUE(err.kept.empty()) << err.kept.front();
    std::printf("[soak] monitor: %zu log lines printed\n", out.lines);
}

}  // namespace
}  // namespace raid::soak
