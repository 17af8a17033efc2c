// The worker threads' protocol: when the monitoring worker hands over, the
// hand-over gate at close, and letting a stuck worker go. (The dispatcher's
// order and re-entry guard are tested with the monitor.)
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include "app/hand_over.h"
#include "app/monitor_thread.h"
#include "app/worker_thread.h"
#include "main_window_fixture.h"
#include "thread_turn.h"

namespace raid::app::test {
namespace {

TEST(MonitorThreadPass, WaitsForDiscoveryAndForAWakingBit) {
    QObject receiver;
    HandOverGate gate(&receiver);
    AppState state;
    ShellFlags& flags = state.shell;
    int runs = 0;
    const std::function<void()> dispatcher = [&] { ++runs; };
    flags.detectBusy = true;
    flags.pollRequestFlags = poll::kStatusPoll;
    EXPECT_FALSE(MonitorThread::Pass(state, gate, dispatcher));
    flags.detectBusy = false;
    flags.pollRequestFlags = poll::kTimerArmed;  // armed is not a request
    EXPECT_FALSE(MonitorThread::Pass(state, gate, dispatcher));
    flags.pollRequestFlags = poll::kSmartThresholds;
    EXPECT_TRUE(MonitorThread::Pass(state, gate, dispatcher));
    EXPECT_EQ(runs, 1);
}

TEST(HandOverGate, RunsWorkOnTheMainThread) {
    QObject receiver;
    HandOverGate gate(&receiver);
    std::thread::id ranOn;
    ThreadTurn<bool> worker([&] { return gate.Run([&] { ranOn = std::this_thread::get_id(); }); });
    while (!worker.Ended()) {
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(worker.Get());
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(HandOverGate, CloseReleasesAWaitingWorkerWithoutRunningItsWork) {
    QObject receiver;
    HandOverGate gate(&receiver);
    std::atomic<bool> ran{false};
    std::promise<void> entering;
    ThreadTurn<bool> worker([&] {
        entering.set_value();
        return gate.Run([&] { ran = true; });
    });
    entering.get_future().wait();
    // The main thread never serves its event loop here: Close alone must
    // free the worker, whether or not its hand-over was posted yet.
    EXPECT_TRUE(gate.Close(std::chrono::seconds(10)));
    worker.Get();
    EXPECT_FALSE(ran);
    EXPECT_FALSE(gate.Run([&] { ran = true; }));
    EXPECT_FALSE(ran);
}

TEST(HandOverGate, CloseFromInsideARunningHandOverReturnsAtOnce) {
    // The window is closed from a pump inside a status poll: the poll's
    // hand-over is below on this stack and cannot end first.
    QObject receiver;
    HandOverGate gate(&receiver);
    std::optional<bool> closed;
    std::chrono::steady_clock::duration took{};
    ThreadTurn<bool> worker([&] {
        return gate.Run([&] {
            const auto start = std::chrono::steady_clock::now();
            closed = gate.Close(std::chrono::seconds(30));
            took = std::chrono::steady_clock::now() - start;
        });
    });
    while (!worker.Ended()) {
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(worker.Get());
    ASSERT_TRUE(closed.has_value());
    EXPECT_FALSE(*closed);  // the receiver must be kept alive
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_FALSE(gate.IsOpen());
}

TEST(WorkerThread, AStuckThreadIsLetGoInsteadOfWaitedFor) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> exited;
    auto exitedFuture = exited.get_future();
    {
        WorkerThread thread;
        auto keep = std::make_shared<int>(1);  // what the body holds stays alive
        thread.Start(
            [released, keep, done = std::make_shared<std::promise<void>>(std::move(exited))](
                const std::atomic<bool>&) {
                released.wait();  // a discovery whose disk stopped answering
                done->set_value();
            });
        EXPECT_FALSE(thread.Finish(std::chrono::milliseconds(0)));
    }
    release.set_value();
    exitedFuture.wait();
}

TEST(WorkerThread, AHaltedLoopEnds) {
    WorkerThread thread;
    std::atomic<int> turns{0};
    thread.Start([&](const std::atomic<bool>& stop) {
        while (!stop) turns.fetch_add(1);
    });
    EXPECT_TRUE(thread.Finish(std::chrono::seconds(10)));
}

class RunningMainWindowTest : public MainWindowTest {};

TEST_F(RunningMainWindowTest, ClosingWithLiveWorkersDoesNotHang) {
    AddEnclosure("raid1");
    AddEnclosure("raid0");
    MainWindowOptions options;
    options.context = std::make_shared<ShellContext>(clock, disks);
    options.messages = &sink;
    options.watchDevices = false;
    options.hostSources = FixedHost();
    window = std::make_unique<MainWindow>(std::move(options));
    window->show();
    // Let the workers hand over a few times, with the discovery maybe still
    // under way, then close in the middle of it.
    window->state().shell.pollRequestFlags = 0x29;
    for (int i = 0; i < 50; ++i) QCoreApplication::processEvents();
    EXPECT_TRUE(window->close());
    window.reset();
}

}  // namespace
}  // namespace raid::app::test
