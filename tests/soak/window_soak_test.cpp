// The window for a simulated week against two emulated enclosures with
// faults, member changes, rebuilds and plugging (soak_script.h). Its four
// timers' handlers run at their intervals on the manual clock, the
// detection thread's and the monitoring thread's work in turn between them,
// as the threads would hand it over: every event logged once in the right
// day's file, memory flat after the first hour, no descriptor left open.
#include <gtest/gtest.h>

#include <QTimer>
#include <algorithm>

#include "app/main_window.h"
#include "discovery/device_change_debounce.h"
#include "discovery/probe.h"
#include "monitor/dispatcher.h"
#include "tests/gui/main_window_fixture.h"
#include "tests/soak/soak_script.h"

namespace raid::soak {
namespace {

// The window's timer intervals.
constexpr std::uint64_t kPollTickMs = 5000;
constexpr std::uint64_t kSecondTickMs = 1000;

// The next time a tick of `interval` is due after one at `due`; a tick that
// came late (device work took the time) is not repeated.
std::uint64_t NextTick(std::uint64_t due, std::uint64_t interval, std::uint64_t now) {
    return std::max(due + interval, now + 1);
}

TEST(WindowSoak, AWeekOfPollsKeepsEveryEventOnceAndStaysFlat) {
    app::test::RecordingSink sink;
    RunSoak("window", [&](SoakRig& rig) {
        app::MainWindowOptions options;
        options.context = std::make_shared<app::ShellContext>(rig.clock, rig.disks);
        options.context->programFolder = rig.folder;
        options.messages = &sink;
        options.startThreads = false;
        options.watchDevices = false;
        options.hostSources = app::test::FixedHost();
        options.settingsFile = rig.folder / "settings" / "settings.reg";
        options.timeStamp = text::PatternDateTimeFormatter(kStampPattern);
        options.runModal = [](QDialog&) { return 0; };
        app::MainWindow window(std::move(options));
        AppState& state = window.state();
        // The ticks come from this loop on the manual clock; the real timers
        // would add some of their own whenever device work lets events run.
        std::vector<QTimer*> timers;
        for (const char* name :
             {"progressTimer", "pollTimer", "smartCountdownTimer", "deviceChangeTimer"})
            timers.push_back(window.findChild<QTimer*>(name));
        ASSERT_EQ(std::count(timers.begin(), timers.end(), nullptr), 0);

        platform::ManualClock& clock = *rig.clock;
        std::uint64_t nextChange = discovery::kDeviceChangeTickMs;
        std::uint64_t nextSecond = kSecondTickMs;
        std::uint64_t nextPoll = kPollTickMs;
        while (!rig.script.Finished()) {
            rig.script.Act();
            if (rig.script.TakeDeviceChange()) window.onDeviceChangeMessage();
            std::uint64_t now = clock.NowMs();
            if (now >= nextChange) {
                window.onDeviceChangeTick();
                nextChange = NextTick(nextChange, discovery::kDeviceChangeTickMs, now);
            }
            // The detection thread.
            if (state.shell.detectRequest.load())
                discovery::ServeDetectRequest(state, window.context().detectionChannel);
            if (now >= nextSecond) {
                window.onSmartCountdownTick();
                nextSecond = NextTick(nextSecond, kSecondTickMs, now);
            }
            if (now >= nextPoll) {
                window.onPollTick();
                nextPoll = NextTick(nextPoll, kPollTickMs, now);
            }
            // The monitoring thread hands its requests to the window.
            for (int i = 0; i < 16 && monitor::WorkerShouldDispatch(state); ++i)
                window.serveMonitorRequest();
            for (QTimer* t : timers) t->stop();
            now = clock.NowMs();
            const std::uint64_t next = std::min({nextChange, nextSecond, nextPoll});
            if (next > now) clock.Advance(next - now);
        }
        rig.end = rig.script.MeasureProgram();
        rig.polls = state.monitor.pollCounter;
        EXPECT_TRUE(window.prepareToClose());
    });
    // No message box: nothing went wrong that the user would be told of.
    std::string boxes;
    for (const auto& box : sink.boxes)
        boxes += box.caption.toStdString() + ": " + box.text.toStdString() + "\n";
    EXPECT_TRUE(sink.boxes.empty()) << boxes;
}

}  // namespace
}  // namespace raid::soak
