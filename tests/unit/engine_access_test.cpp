// The engine inside this process reached through the seam, as the window
// reaches it when no service runs: requests wait their turn in the engine's
// loop and come back answered, and a flash runs as the engine's job.
#include "service/engine_access.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <memory>
#include <vector>

#include "sim/emulator.h"
#include "sim/sim_disks.h"
#include "tests/unit/firmware_files.h"
#include "tests/unit/scratch_folder.h"

namespace raid::service {
namespace {

using namespace std::chrono_literals;

TEST(InProcessEngineTest, AnswersThroughTheSeamAndFlashesAsItsJob) {
    platform::ManualClock clock;
    sim::SimDiskSystem disks;
    auto emulator =
        std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure("raid1"), &clock);
    disks.AddEnclosure(emulator);
    test_support::ScratchFolder folder;
    InProcessEngine engine({disks, clock, folder.path(), {}, {}, {}, 5000, nullptr});
    ASSERT_TRUE(engine.AwaitServing(60s));
    client::EnclosureAccess& access = *engine.Access();

    const client::StatusAnswer status = access.Status("");
    ASSERT_EQ(status.outcome, client::kDone);
    ASSERT_EQ(status.devices.size(), 1u);
    EXPECT_TRUE(status.devices[0].pollOk);
    EXPECT_EQ(access.Status("7").outcome, client::kCannotOpen);

    const client::SettingAnswer muted = access.SetBuzzer("0", true, {});
    ASSERT_EQ(muted.outcome, client::kDone);
    ASSERT_EQ(muted.devices.size(), 1u);
    EXPECT_TRUE(muted.devices[0].buzzerMuted);

    const auto before = emulator->WithModel([](const sim::Enclosure& m) { return m.spiFlash; });
    const auto image = test_support::FirmwareFile({.size = 0x2040});
    std::vector<firmware::FlashStepKind> kinds;
    std::vector<std::uint8_t> backup;
    client::FlashHandlers handlers;
    handlers.step = [&kinds](const firmware::FlashStep& step) { kinds.push_back(step.kind); };
    handlers.keepBackup = [&backup](const std::vector<std::uint8_t>& bytes) {
        backup = bytes;
        return true;
    };
    const client::FlashAnswer flashed = access.Flash("0", image, true, handlers, {});
    ASSERT_EQ(flashed.outcome, client::kDone) << (flashed.notes.empty() ? "" : flashed.notes[0]);
    EXPECT_EQ(backup, std::vector<std::uint8_t>(before.begin(), before.begin() + 0x8000));
    ASSERT_FALSE(kinds.empty());
    // The progress ended, then the closing message, before the answer came.
    EXPECT_NE(std::find(kinds.begin(), kinds.end(), firmware::FlashStepKind::ProgressEnds),
              kinds.end());
    EXPECT_EQ(kinds.back(), firmware::FlashStepKind::Message);
    const client::JobsAnswer jobs = access.Jobs();
    ASSERT_EQ(jobs.jobs.size(), 1u);
    EXPECT_TRUE(jobs.jobs[0].finished);
    EXPECT_EQ(jobs.jobs[0].outcome, client::kDone);

    // Polled again after the job, and read back equal.
    EXPECT_EQ(access.ReadFlash("0", static_cast<std::uint32_t>(image.size()), {}).bytes, image);
}

// Stepped by hand, as the window's tests step it: the detection and the
// poll's status-bar texts come with the status, and a selector unticked
// stops the polls.
TEST(InProcessEngineTest, ManualTurnsTellThePollsTextsAndFollowTheSelectors) {
    int argc = 0;
    QCoreApplication application(argc, nullptr);  // the watch is told through its events
    platform::ManualClock clock;
    sim::SimDiskSystem disks;
    disks.AddEnclosure(
        std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure("raid1"), &clock));
    test_support::ScratchFolder folder;
    InProcessSetup setup{disks, clock, folder.path(), {}, {}, {}, 5000, nullptr};
    setup.manual = true;
    setup.discoverInTurns = true;
    InProcessEngine engine(setup);
    client::EnclosureAccess& access = *engine.Access();
    // Served from the start, before the first discovery: it runs at the
    // first turn, and the next device-change tick applies it.
    client::StatusAnswer status = access.Status("");
    EXPECT_TRUE(status.noneFound);
    EXPECT_TRUE(status.texts.detecting);
    EXPECT_EQ(status.texts.notice, "Drive detecting");
    EXPECT_TRUE(status.texts.noticeVisible);
    ASSERT_TRUE(engine.AwaitServing(0s));
    clock.Advance(500);
    EXPECT_TRUE(engine.Turn());
    status = access.Status("");
    ASSERT_EQ(status.devices.size(), 1u);
    EXPECT_FALSE(status.texts.detecting);
    EXPECT_FALSE(status.texts.noticeVisible);
    EXPECT_EQ(status.texts.panels[1], "Detected OK");
    // The watch keeps what the engine published, as the bus watch does.
    QCoreApplication::processEvents();
    EXPECT_EQ(engine.Watch().standing(), client::EnclosureWatch::Standing::Serving);
    EXPECT_EQ(engine.Watch().devices().size(), 1u);
    EXPECT_EQ(engine.Watch().texts(), status.texts);
    clock.Advance(5000);
    EXPECT_TRUE(engine.Turn());
    status = access.Status("");
    ASSERT_EQ(status.outcome, client::kDone);
    EXPECT_EQ(status.texts.panels[1], "y3,01");
    EXPECT_EQ(status.texts.panels[3].rfind("G = 2x, ", 0), 0u) << status.texts.panels[3];
    EXPECT_NE(status.texts.panelsSet & (1u << 3), 0u);

    // Answered on this thread: the call turns the engine while it waits.
    ASSERT_EQ(access.SetPolled("0", false).outcome, client::kDone);
    clock.Advance(5000);
    EXPECT_TRUE(engine.Turn());
    status = access.Status("");
    ASSERT_EQ(status.devices.size(), 1u);
    EXPECT_FALSE(status.devices[0].polled);
    EXPECT_EQ(status.outcome, client::kDone);

    ASSERT_EQ(access.SetPolled("0", true).outcome, client::kDone);
    clock.Advance(5000);
    EXPECT_TRUE(engine.Turn());
    status = access.Status("");
    EXPECT_TRUE(status.devices[0].polled);
    EXPECT_TRUE(status.devices[0].pollOk);
}

}  // namespace
}  // namespace raid::service
