// The poll tick and the monitoring worker's dispatcher: which request bits they set,
// keep and clear, in which order requests are served, and re-entry through
// the message pump.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "monitor/dispatcher.h"
#include "monitor/poll_timer.h"

namespace raid::monitor {
namespace {

AppState& Idle(AppState& s) {
    s.shell.detecting = false;
    s.shell.detectBusy = false;
    s.shell.detectRequest = false;
    return s;
}

TEST(PollTick, ArmsThenRequestsAndDropsUnservedRequestsWhenUnarmed) {
    AppState s;
    Idle(s);
    OnPollTick(s);
    EXPECT_EQ(s.shell.pollRequestFlags.load(), 0x10);
    OnPollTick(s);
    EXPECT_EQ(s.shell.pollRequestFlags.load(), 0x11);

    // Unarmed: exactly 0x10, a queued command request that was not served
    // yet is dropped.
    s.shell.pollRequestFlags = 0x02;
    OnPollTick(s);
    EXPECT_EQ(s.shell.pollRequestFlags.load(), 0x10);
    // Armed: other requests stay.
    s.shell.pollRequestFlags = 0x3A;
    OnPollTick(s);
    EXPECT_EQ(s.shell.pollRequestFlags.load(), 0x3B);
}

TEST(PollTick, BlockersLeaveTheRequestsAndAnUpgradeDisarms) {
    struct Blocker {
        const char* name;
        void (*set)(AppState&, bool);
    };
    const Blocker blockers[] = {
        {"countdown", [](AppState& s, bool on) { s.shell.deviceChangeCountdown = on ? 16 : 0; }},
        {"Detecting", [](AppState& s, bool on) { s.shell.detecting = on; }},
        {"StatusPollActive", [](AppState& s, bool on) { s.shell.statusPollActive = on; }},
        {"Closing", [](AppState& s, bool on) { s.shell.closing = on; }},
    };
    for (const auto& b : blockers) {
        AppState s;
        Idle(s);
        s.shell.pollRequestFlags = 0x12;
        b.set(s, true);
        OnPollTick(s);
        EXPECT_EQ(s.shell.pollRequestFlags.load(), 0x12) << b.name;
        s.shell.pollRequestFlags = 0x02;
        OnPollTick(s);
        EXPECT_EQ(s.shell.pollRequestFlags.load(), 0x02) << b.name;
    }
    AppState s;
    Idle(s);
    s.shell.pollRequestFlags = 0x13;
    s.shell.exclusiveOperation = true;
    OnPollTick(s);
    EXPECT_EQ(s.shell.pollRequestFlags.load(), 0x03);
    // After the upgrade: arm, then poll.
    s.shell.exclusiveOperation = false;
    s.shell.pollRequestFlags = 0;
    OnPollTick(s);
    OnPollTick(s);
    EXPECT_EQ(s.shell.pollRequestFlags.load(), 0x11);
}

struct Calls {
    std::vector<std::string> log;
    MonitorHandlers Handlers() {
        MonitorHandlers h;
        h.StatusPoll = [this] { log.push_back("poll"); };
        h.ApplyPendingCommand = [this] {
            log.push_back("command");
            return true;
        };
        h.SmartThresholds = [this] { log.push_back("thresholds"); };
        h.SmartData = [this] { log.push_back("data"); };
        return h;
    }
};

TEST(Dispatcher, ServesOneRequestPerCallInBitOrder) {
    AppState s;
    Idle(s);
    Calls calls;
    auto h = calls.Handlers();
    s.shell.pollRequestFlags = 0x3F;
    for (int i = 0; i < 5; ++i) DispatchOnce(s, h);
    EXPECT_EQ(calls.log, (std::vector<std::string>{"poll", "command", "thresholds", "data"}));
    EXPECT_EQ(s.shell.pollRequestFlags.load(), 0x14);  // the armed bit and bit 2 stay
    EXPECT_EQ(s.monitor.requestInProgress, 0);
}

TEST(Dispatcher, ReentryFromThePumpIsTurnedAway) {
    AppState s;
    Idle(s);
    Calls calls;
    MonitorHandlers h = calls.Handlers();
    h.StatusPoll = [&] {
        calls.log.push_back("poll");
        EXPECT_EQ(s.monitor.requestInProgress, poll::kStatusPoll);
        // The worker hands the dispatcher over again while the poll pumps.
        DispatchOnce(s, h);
        EXPECT_TRUE(WorkerShouldDispatch(s));
    };
    s.shell.pollRequestFlags = poll::kStatusPoll | poll::kPendingCommand | poll::kSmartData;
    DispatchOnce(s, h);
    EXPECT_EQ(calls.log, std::vector<std::string>{"poll"});
    EXPECT_EQ(s.shell.pollRequestFlags.load(), poll::kPendingCommand | poll::kSmartData);

    // A command request re-entered while its handler runs waits as well.
    s.monitor.requestInProgress = poll::kPendingCommand;
    DispatchOnce(s, h);
    EXPECT_EQ(calls.log.size(), 1u);
    s.monitor.requestInProgress = 0;
    DispatchOnce(s, h);
    EXPECT_EQ(calls.log.back(), "command");
}

TEST(Dispatcher, RequestsWithoutHandlersAreCleared) {
    AppState s;
    Idle(s);
    MonitorHandlers none;
    s.shell.pollRequestFlags = 0x2B;
    for (int i = 0; i < 4; ++i) DispatchOnce(s, none);
    EXPECT_EQ(s.shell.pollRequestFlags.load(), 0);
    EXPECT_FALSE(WorkerShouldDispatch(s));
}

TEST(Dispatcher, WorkerWakesOnlyForRequestsAndNotDuringDiscovery) {
    AppState s;
    Idle(s);
    for (std::uint8_t bit : {0x01, 0x02, 0x08, 0x20}) {
        s.shell.pollRequestFlags = bit;
        EXPECT_TRUE(WorkerShouldDispatch(s)) << int{bit};
    }
    for (std::uint8_t bit : {0x04, 0x10, 0x40, 0x80}) {
        s.shell.pollRequestFlags = bit;
        EXPECT_FALSE(WorkerShouldDispatch(s)) << int{bit};
    }
    s.shell.pollRequestFlags = 0x01;
    s.shell.detectBusy = true;
    EXPECT_FALSE(WorkerShouldDispatch(s));
}

}  // namespace
}  // namespace raid::monitor
