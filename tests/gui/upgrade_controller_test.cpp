// The upgrade run from a window: the event loop keeps turning while the
// device work goes on, clicks that arrive meanwhile start nothing, and
// what the operation shows comes out as signals in order.
#include "app/upgrade_controller.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <fstream>
#include <memory>

#include "discovery/headless.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"

namespace raid::firmware {
namespace {

std::vector<std::uint8_t> Image(std::size_t size, std::uint8_t typeByte = 0x5A) {
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(i * 29 + 3);
    image[kTypeByteOffset] = typeByte;
    return image;
}

class UpgradeControllerTest : public ::testing::Test {
protected:
    UpgradeControllerTest() {
        emulator =
            std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure("raid1"), &clock);
        disks.AddEnclosure(emulator);
        discovery::DiscoverOnce(state, ch);
        controller.setPumpIntervalMs(0);
    }
    std::vector<std::uint8_t> Flash() {
        return emulator->WithModel([](const sim::Enclosure& m) { return m.spiFlash; });
    }

    platform::ManualClock clock;
    sim::SimDiskSystem disks;
    device::CommandChannel ch{disks, clock};
    std::shared_ptr<sim::ControllerEmulator> emulator;
    AppState state;
    FirmwareState fw;
    UpgradeController controller{state, fw, ch};
};

TEST_F(UpgradeControllerTest, TheEventLoopTurnsThroughoutAndASecondClickDoesNothing) {
    fw.image.bytes = Image(0x2000);
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(0);
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start();
    // Clicks on the upgrade button while it runs, delivered by the loop
    // once the progress shows.
    std::vector<UpgradeOutcome> clicks;
    bool timerActive = false;
    QObject::connect(&controller, &UpgradeController::progressStarted, [&] {
        QTimer::singleShot(0, [&] {
            clicks.push_back(controller.start(0).outcome);
            timerActive = controller.findChild<QTimer*>("progressTimer")->isActive();
        });
    });

    QSignalSpy messages(&controller, &UpgradeController::messageRequested);
    const UpgradeResult r = controller.start(0);
    EXPECT_EQ(r.outcome, UpgradeOutcome::Done);
    EXPECT_EQ(clicks, std::vector<UpgradeOutcome>{UpgradeOutcome::Busy});
    EXPECT_TRUE(timerActive);
    EXPECT_FALSE(controller.findChild<QTimer*>("progressTimer")->isActive());
    // At least one turn of the loop per chunk sent.
    EXPECT_GT(ticks, 8 + 64 + 64);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0][1].toString(), "Firmware Upgrade Message");
    EXPECT_TRUE(std::equal(fw.image.bytes.begin(), fw.image.bytes.end(), Flash().begin()));
    EXPECT_FALSE(controller.isRunning());
}

TEST_F(UpgradeControllerTest, SignalsInOrder) {
    fw.image.bytes = Image(0x1000);
    std::vector<QString> seen;
    QObject::connect(
        &controller, &UpgradeController::statusPanelChanged,
        [&](int panel, const QString& t) { seen.push_back(QString("%1 %2").arg(panel).arg(t)); });
    QObject::connect(&controller, &UpgradeController::selectorsEnabledChanged,
                     [&](bool on) { seen.push_back(on ? "selectors on" : "selectors off"); });
    QObject::connect(&controller, &UpgradeController::progressStarted,
                     [&](const QString& label, int max) {
                         seen.push_back(QString("%1 %2").arg(label).arg(max));
                     });
    QObject::connect(&controller, &UpgradeController::phaseShown,
                     [&](const QString& caption) { seen.push_back(caption); });
    QObject::connect(&controller, &UpgradeController::progressChanged,
                     [&](int position) { seen.push_back(QString::number(position)); });
    QObject::connect(&controller, &UpgradeController::progressEnded,
                     [&] { seen.push_back("end"); });
    QObject::connect(&controller, &UpgradeController::messageRequested,
                     [&](const QString& text, const QString&, MessageIcon icon) {
                         seen.push_back(text.left(24));
                         EXPECT_EQ(icon, MessageIcon::Exclamation);
                         // A modal box shows while the operation still holds the device.
                         EXPECT_TRUE(controller.isRunning());
                     });
    ASSERT_TRUE(controller.start(0).Succeeded());
    // 0x1000 bytes: E = 0x2000, erased twice over in 4 steps, 32 chunks.
    EXPECT_EQ(seen, (std::vector<QString>{
                        "selectors off", "4 SPI = 5A, BIN = 5A", "Firmware Update... 160",
                        "Process 1 / 3", "4", "4 SPI Erase OK", "Process 2 / 3", "36",
                        "4 SPI Program OK", "Process 3 / 3", "68", "4 SPI Verify OK", "end",
                        "Firmware Upgrade 3/3 com", "selectors on"}));
}

TEST_F(UpgradeControllerTest, LoadSetsThePanelsAndKeepsOnlyAnAcceptedImage) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("fw.bin");
    std::vector<std::uint8_t> file = Image(0x400);
    std::copy(kMetadataSignature.begin(), kMetadataSignature.end(),
              file.begin() + kSignatureOffset);
    std::copy(kFormatGuid.begin(), kFormatGuid.end(), file.begin() + kGuidOffset);
    std::fill_n(file.begin() + kFileCodeOffset, 4, 0x10);  // before product codes
    // The configuration block at 0x100, inside the file.
    file[kConfigOffsetField] = 0x00;
    file[kConfigOffsetField + 1] = 0x01;
    file[kConfigOffsetField + 2] = 0x00;
    std::ofstream(path.toStdString(), std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<long>(file.size()));

    QSignalSpy panels(&controller, &UpgradeController::statusPanelChanged);
    QSignalSpy images(&controller, &UpgradeController::imageChanged);
    LoadResult r = controller.load(path, 0);
    ASSERT_TRUE(r.image);
    EXPECT_EQ(fw.image.bytes, file);
    ASSERT_EQ(panels.size(), 4);
    EXPECT_EQ(panels[0][0].toInt(), 4);
    EXPECT_EQ(panels[0][1].toString(), "File:" + path);
    EXPECT_EQ(panels[2][1].toString(), "F:10012601");  // the emulated device's code
    EXPECT_EQ(images.takeLast()[0].toBool(), true);

    // A refused file releases the image that was loaded.
    QSignalSpy messages(&controller, &UpgradeController::messageRequested);
    r = controller.load(dir.filePath("missing.bin"), 0);
    EXPECT_FALSE(r.image);
    EXPECT_FALSE(fw.image.Loaded());
    EXPECT_EQ(messages.size(), 1);
    EXPECT_EQ(images.takeLast()[0].toBool(), false);

    // Nothing at all while an upgrade holds the device.
    fw.image.bytes = file;
    state.shell.exclusiveOperation = true;
    r = controller.load(path, 0);
    EXPECT_TRUE(r.texts.file.empty());
    EXPECT_TRUE(fw.image.Loaded());
    state.shell.exclusiveOperation = false;
}

}  // namespace
}  // namespace raid::firmware
