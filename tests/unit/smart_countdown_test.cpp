// The SMART refresh countdown: its texts and what one timer tick does.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "smart/countdown.h"

namespace raid::smart {
namespace {

TEST(SmartCountdown, Texts) {
    EXPECT_EQ(CountdownText(false, 60), "Updates after 60 seconds.");
    EXPECT_EQ(CountdownText(false, 2), "Updates after 2 seconds.");
    EXPECT_EQ(CountdownText(false, 1), "Updates after 1 second.");
    EXPECT_EQ(CountdownText(false, 0), "Updating...");
    EXPECT_EQ(CountdownText(true, 30), "Updating...");
}

// A running window: discovery done, nothing held.
struct Ticks {
    ShellFlags shell;
    Ticks() { shell.detecting = false; }
    std::optional<std::string> Tick(bool pageShown = true, bool thresholdsRead = true) {
        return StepSmartCountdown(shell, pageShown, thresholdsRead);
    }
};

TEST(SmartCountdown, CountsDownThenRequestsTheReads) {
    Ticks t;
    t.shell.smartCountdown = 2;
    EXPECT_EQ(t.Tick(), "Updates after 2 seconds.");
    EXPECT_EQ(t.shell.smartCountdown.load(), 1);
    EXPECT_EQ(t.Tick(), "Updates after 1 second.");
    EXPECT_EQ(t.shell.smartCountdown.load(), 0);
    EXPECT_EQ(t.shell.pollRequestFlags.load(), 0);
    EXPECT_EQ(t.Tick(), "Updating...");
    EXPECT_EQ(t.shell.pollRequestFlags.load(), poll::kSmartData);
    EXPECT_EQ(t.shell.smartCountdown.load(), 60);

    // While the data read is pending the count stands still.
    EXPECT_EQ(t.Tick(), "Updating...");
    EXPECT_EQ(t.shell.smartCountdown.load(), 60);
    t.shell.pollRequestFlags = 0;
    EXPECT_EQ(t.Tick(), "Updates after 60 seconds.");
    EXPECT_EQ(t.shell.smartCountdown.load(), 59);
}

TEST(SmartCountdown, UnreadThresholdsAreRequestedWithTheData) {
    Ticks t;
    t.shell.smartCountdown = 0;
    t.shell.pollRequestFlags = poll::kStatusPoll;
    EXPECT_EQ(t.Tick(false, false), std::nullopt);  // page not shown: no text, still counts
    EXPECT_EQ(t.shell.pollRequestFlags.load(),
              poll::kStatusPoll | poll::kSmartThresholds | poll::kSmartData);
    EXPECT_EQ(t.shell.smartCountdown.load(), 60);
}

TEST(SmartCountdown, SkippedWhileTheDevicesAreBusy) {
    const std::pair<const char*, std::function<void(ShellFlags&)>> holds[] = {
        {"device change settling", [](ShellFlags& s) { s.deviceChangeCountdown = 3; }},
        {"discovery running", [](ShellFlags& s) { s.detecting = true; }},
        {"exclusive operation", [](ShellFlags& s) { s.exclusiveOperation = true; }},
        {"closing", [](ShellFlags& s) { s.closing = true; }},
    };
    for (const auto& [what, hold] : holds) {
        for (const std::uint8_t left : {0, 5}) {
            Ticks t;
            t.shell.smartCountdown = left;
            hold(t.shell);
            EXPECT_EQ(t.Tick(), std::nullopt) << what;
            EXPECT_EQ(t.shell.smartCountdown.load(), left) << what;
            EXPECT_EQ(t.shell.pollRequestFlags.load(), 0) << what;
        }
    }
}

}  // namespace
}  // namespace raid::smart
