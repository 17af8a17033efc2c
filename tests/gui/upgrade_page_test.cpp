// The Upgrade page against an emulated enclosure: loading a file, the
// upgrade with its progress, phase panel and final messages, what the
// window refuses while it runs, and the "Make Bin" window.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QShortcut>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <iostream>
#include <sstream>

#include "app/image_builder_window.h"
#include "app/termination_watch.h"
#include "app/upgrade_controller.h"
#include "cli/raidctl_make_bin.h"
#include "firmware/firmware_image.h"
#include "main_window_fixture.h"
#include "tests/unit/firmware_files.h"

namespace raid::app::test {
namespace {

const QString kUpgrading = "Firmware is upgrading, please wait a moment.";
const QString kSuccess =
    "Firmware Upgrade 3/3 completed!\n\nPlease power off this device or the system,\nand power "
    "on it to enable the new firmware!";

std::vector<std::uint8_t> FirmwareBytes(std::size_t size, std::uint8_t typeByte = 0x5A) {
    return raid::test_support::FirmwareFile({.size = size, .typeByte = typeByte});
}

constexpr auto Write = raid::test_support::WriteFileBytes;
constexpr auto Read = raid::test_support::ReadFileBytes;

class UpgradePageTest : public MainWindowTest {
protected:
    void SetUp() override {
        AddEnclosure("raid1");
        configureOptions = [this](MainWindowOptions& o) {
            o.chooseFirmwareFile = [this](const QString&) {
                ++dialogs;
                return chosen;
            };
            o.imageBuilderHooks.chooseFiles = [this](const QString&) { return builderFiles; };
            o.imageBuilderHooks.chooseSaveName = [](const QString&) { return QString(); };
            o.imageBuilderHooks.showMessage = [this](const firmware::Message& m) {
                builderMessages.push_back(m);
            };
        };
        MakeWindow();
        RunDiscovery();
        ServeRequests();
        window->upgradeController().setPumpIntervalMs(0);
        Click("upgradePageButton");
    }
    void Click(const char* button) { QTest::mouseClick(Button(button), Qt::LeftButton); }
    QString File(const char* name, const std::vector<std::uint8_t>& bytes) {
        Write(logFolder.path / name, bytes);
        return QString::fromStdString((logFolder.path / name).string());
    }
    QString Panel(int i) {
        return Find<QLabel>(QString("statusPanel%1").arg(i).toLatin1().constData())->text();
    }
    std::vector<std::uint8_t> Flash(int disk = 0) {
        return disks->Emulator(disk)->WithModel([](const sim::Enclosure& m) { return m.spiFlash; });
    }
    std::shared_ptr<sim::ControllerEmulator> emulator() { return disks->Emulator(0); }
    std::vector<QString> Texts() const {
        std::vector<QString> texts;
        for (const auto& b : sink.boxes) texts.push_back(b.text);
        return texts;
    }

    QString chosen;
    int dialogs = 0;
    QStringList builderFiles;
    std::vector<firmware::Message> builderMessages;
};

TEST_F(UpgradePageTest, LoadShowsTheFileAndItsTextsAndKeepsOnlyAnAcceptedImage) {
    ASSERT_EQ(window->CurrentPage(), kPageUpgrade);
    EXPECT_EQ(Find<QLabel>("upgradeFirmwareLabel")->text(), "100126.1");
    chosen = File("fw.bin", FirmwareBytes(0x200));
    Click("loadFirmwareButton");
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(Find<QLabel>("firmwareFileLabel")->text(), chosen);
    EXPECT_EQ(Panel(4), "File:" + chosen);
    EXPECT_TRUE(Panel(0).startsWith("Chksum:"));
    EXPECT_EQ(Panel(2), "F:10012601");
    EXPECT_TRUE(sink.boxes.empty());
    EXPECT_TRUE(window->context().firmware.image.Loaded());

    // A refused file leaves no image; a cancelled dialog changes nothing.
    auto bad = FirmwareBytes(0x200);
    bad[firmware::kGuidOffset] ^= 1;
    chosen = File("bad.bin", bad);
    Click("loadFirmwareButton");
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, "Threr are GUID error in the firmware file.\nPlease check it.");
    EXPECT_EQ(sink.boxes[0].caption, "Error");
    EXPECT_FALSE(window->context().firmware.image.Loaded());
    chosen.clear();
    Click("loadFirmwareButton");
    EXPECT_EQ(Find<QLabel>("firmwareFileLabel")->text(), File("bad.bin", bad));
}

TEST_F(UpgradePageTest, AnUpgradeRefusesEverythingElseUntilItEndsAndSaysDone) {
    chosen = File("fw.bin", FirmwareBytes(0x2000));
    Click("loadFirmwareButton");
    ASSERT_TRUE(window->context().firmware.image.Loaded());
    std::vector<std::uint8_t> boot(0x4000, 0);
    boot[18] = 0x01;  // configuration block at 0x10000
    builderFiles = {File("spihead.bin", boot)};
    window->imageBuilder().addSubCodes();
    const auto image = window->context().firmware.image.bytes;

    struct During {
        int maximum = 0;
        bool timerActive = false, stepShown = false, selectorsEnabled = true;
        QString step;
        int page = -1;
        bool closed = true, loggedOff = true;
    } during;
    // Runs from the event loop once the erase has begun (the device is read
    // again before it).
    QTimer erasing;
    bool seen = false;
    QObject::connect(&erasing, &QTimer::timeout, window.get(), [&] {
        if (seen || !Find<QFrame>("upgradeStepPanel")->isVisible()) return;
        seen = true;
        const auto* bar = Find<QProgressBar>("upgradeProgressBar");
        during.maximum = bar->maximum();
        during.timerActive = window->findChild<QTimer*>("progressTimer")->isActive();
        during.stepShown = Find<QFrame>("upgradeStepPanel")->isVisible();
        during.step = Find<QLabel>("upgradeStepLabel")->text();
        during.selectorsEnabled = Find<QCheckBox>("device1Box")->isEnabled();
        during.closed = window->close();
        during.loggedOff = window->queryEndSession();
        Click("startUpgradeButton");
        Click("loadFirmwareButton");
        Click("statusPageButton");
        during.page = window->CurrentPage();
        window->imageBuilder().saveBin();
    });
    erasing.start(0);
    window->show();
    Click("startUpgradeButton");
    erasing.stop();

    ASSERT_TRUE(seen);
    EXPECT_EQ(during.maximum, 290);
    EXPECT_TRUE(during.timerActive);
    EXPECT_TRUE(during.stepShown);
    EXPECT_EQ(during.step, "Process 1 / 3");
    EXPECT_FALSE(during.selectorsEnabled);
    EXPECT_FALSE(during.closed);
    EXPECT_FALSE(during.loggedOff);
    EXPECT_EQ(during.page, kPageUpgrade);
    EXPECT_EQ(dialogs, 1);  // the load during the upgrade opened nothing
    ASSERT_EQ(builderMessages.size(), 1u);
    EXPECT_EQ(builderMessages[0].text, kUpgrading.toStdString());
    EXPECT_EQ(window->context().firmware.image.bytes, image);

    EXPECT_EQ(Texts(), (std::vector<QString>{kUpgrading, kUpgrading, kSuccess}));
    EXPECT_EQ(sink.boxes.back().caption, "Firmware Upgrade Message");
    EXPECT_TRUE(sink.boxes.back().warning);
    EXPECT_EQ(Panel(4), "SPI Verify OK");
    // One run only: 8 erase steps, 64 chunks written and read.
    EXPECT_EQ(Find<QProgressBar>("upgradeProgressBar")->value(), 136);
    const auto flash = Flash();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    EXPECT_FALSE(window->findChild<QTimer*>("progressTimer")->isActive());
    EXPECT_FALSE(Find<QFrame>("upgradeStepPanel")->isVisible());
    EXPECT_TRUE(Find<QCheckBox>("device1Box")->isEnabled());
    EXPECT_TRUE(window->isVisible());
    // Afterwards the window closes again.
    EXPECT_TRUE(window->prepareToClose());
}

TEST_F(UpgradePageTest, FailuresEndWithTheirMessage) {
    Click("startUpgradeButton");
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, "Please Load Firmware File First ");
    EXPECT_EQ(sink.boxes[0].caption, "Message");

    chosen = File("fw11.bin", FirmwareBytes(0x2000, 0x11));
    Click("loadFirmwareButton");
    Click("startUpgradeButton");
    EXPECT_EQ(sink.boxes.back().text, "Incorrect Firmware Type! SPI = 5A, BIN = 11");

    chosen = File("fw.bin", FirmwareBytes(0x2000));
    Click("loadFirmwareButton");
    emulator()->InjectSpiFault(
        {sim::SpiOperation::Program, 0x80, sim::SpiFaultKind::FailStatus, -1});
    Click("startUpgradeButton");
    EXPECT_EQ(sink.boxes.back().text, "WriteSPI fail, Address = 0080");
    EXPECT_EQ(sink.boxes.back().caption, "Message");
    EXPECT_FALSE(window->context().state.shell.exclusiveOperation.load());
}

TEST_F(UpgradePageTest, TheProgressTickCopiesTheCounter) {
    window->context().firmware.progressCounter = 42;
    window->onProgressTick();
    EXPECT_EQ(Find<QProgressBar>("upgradeProgressBar")->value(), 42);
}

TEST_F(UpgradePageTest, CtrlShiftBOpensTheMakeBinWindowWhichBuildsWhatMakeBinBuilds) {
    auto* shortcut = Find<QShortcut>("imageBuilderShortcut");
    EXPECT_EQ(shortcut->key(), QKeySequence("Ctrl+Shift+B"));
    EXPECT_FALSE(window->imageBuilder().isVisible());
    window->show();
    Q_EMIT shortcut->activated();
    EXPECT_TRUE(window->imageBuilder().isVisible());
    EXPECT_EQ(window->imageBuilder().windowTitle(), "Make Bin");

    // The same files, settings and seed: the same bytes from the window and
    // from raidctl make-bin.
    std::vector<std::uint8_t> boot(0x4000, 0x11);
    boot[16] = 0x00;
    boot[17] = 0x80;
    boot[18] = 0x07;
    const QString bootPath = File("spihead.bin", boot);
    const QString sub1 = File("SUB_01.BIN", std::vector<std::uint8_t>(0x5000, 0x22));
    const QString sub2 = File("SUB_1A.BIN", std::vector<std::uint8_t>(0x6000, 0x33));
    firmware::FirmwareImage built;
    QString saveAs = QString::fromStdString((logFolder.path / "window.rom").string());
    tools::ImageBuilderHooks hooks;
    hooks.chooseFiles = [&](const QString&) { return QStringList{sub1, sub2, bootPath}; };
    hooks.chooseSaveName = [&](const QString&) { return saveAs; };
    hooks.showMessage = [](const firmware::Message& m) { ADD_FAILURE() << m.text; };
    tools::ImageBuilderWindow builder(built, "/opt/raid", hooks, 77);
    builder.addSubCodes();
    builder.findChild<QCheckBox*>("fastBackupBox")->setChecked(true);
    builder.saveBin();

    const std::string out = (logFolder.path / "cli.bin").string();
    const std::string subs[2] = {sub1.toStdString(), sub2.toStdString()};
    const std::vector<std::string> words = {
        "make-bin", "--boot",    bootPath.toStdString(), "--sub",  subs[0], "--sub",
        subs[1],    "--setting", "fast-backup=on",       "--seed", "77",    "--out",
        out};
    const std::vector<std::string_view> views(words.begin(), words.end());
    const cli::ParseResult parsed = cli::ParseArguments(views);
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    std::ostringstream o, e;
    cli::Context ctx{*disks, *clock, {}, o, e};
    ASSERT_EQ(cli::RunMakeBin(ctx, parsed.args), cli::kExitOk) << e.str();
    ASSERT_EQ(built.Size(), 0x80000u);
    EXPECT_EQ(Read(out), built.bytes);
    EXPECT_EQ(Read(logFolder.path / "window.bin"), built.bytes);
}

TEST_F(UpgradePageTest, SigintAndSighupDuringAnUpgradeWaitForItsEnd) {
    const auto image = FirmwareBytes(0x2000);
    chosen = File("fw.bin", image);
    Click("loadFirmwareButton");
    TerminationWatch watch;
    QObject::connect(&watch, &TerminationWatch::terminationRequested, window.get(),
                     &MainWindow::onTerminationSignal);
    std::ostringstream said;
    std::streambuf* const cerr = std::cerr.rdbuf(said.rdbuf());
    bool openAfterBoth = false;
    // From the event loop once the upgrade has begun: each signal is taken
    // in a later turn of the loop, while the upgrade goes on.
    QTimer::singleShot(0, window.get(), [&] {
        std::raise(SIGINT);
        QTimer::singleShot(0, window.get(), [&] {
            std::raise(SIGHUP);
            QTimer::singleShot(0, window.get(), [&] {
                openAfterBoth =
                    window->isVisible() && window->context().state.shell.exclusiveOperation.load();
            });
        });
    });
    window->show();
    Click("startUpgradeButton");
    for (int i = 0; i < 10 && window->isVisible(); ++i) QCoreApplication::processEvents();
    std::cerr.rdbuf(cerr);

    EXPECT_TRUE(openAfterBoth);
    EXPECT_FALSE(window->isVisible());
    const std::string text = said.str();
    EXPECT_NE(text.find("raidgui: SIGINT: a firmware upgrade is under way"), std::string::npos)
        << text;
    EXPECT_NE(text.find("raidgui: SIGHUP: a firmware upgrade is under way"), std::string::npos);
    // The last message goes where someone may read it, not into a box.
    EXPECT_NE(text.find("raidgui: Firmware Upgrade Message: Firmware Upgrade 3/3 completed!"),
              std::string::npos);
    EXPECT_TRUE(sink.boxes.empty());
    const auto flash = Flash();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
}

TEST_F(UpgradePageTest, AMakeBinImageIsCheckedAsALoadedFileBeforeItIsLoaded) {
    // A boot loader that carries the firmware header, its configuration
    // block at 0x78000: a chip-sized image.
    std::vector<std::uint8_t> boot = FirmwareBytes(0x4000);
    boot[16] = 0x00;
    boot[17] = 0x80;
    boot[18] = 0x07;
    builderFiles = {File("spihead.bin", boot)};
    window->imageBuilder().addSubCodes();
    window->imageBuilder().saveBin();
    const auto& fw = window->context().firmware;
    ASSERT_TRUE(fw.image.Loaded());
    EXPECT_EQ(fw.image.Size(), 0x80000u);
    EXPECT_EQ(std::vector<std::uint8_t>(fw.image.bytes.begin(), fw.image.bytes.begin() + 0x4000),
              boot);
    EXPECT_EQ(Find<QLabel>("firmwareFileLabel")->text(), "(built by Make Bin, not saved)");
    EXPECT_EQ(Panel(4), "File:(built by Make Bin, not saved)");
    EXPECT_TRUE(Panel(0).startsWith("Chksum:"));
    EXPECT_TRUE(sink.boxes.empty());

    // A boot loader without the header: the built image is refused as a file
    // would be, and no image is left loaded.
    std::vector<std::uint8_t> bare(0x4000, 0x11);
    bare[16] = 0x00;
    bare[17] = 0x80;
    bare[18] = 0x07;
    builderFiles = {File("spihead.bin", bare)};
    window->imageBuilder().addSubCodes();
    window->imageBuilder().saveBin();
    ASSERT_EQ(sink.boxes.size(), 1u);
    EXPECT_EQ(sink.boxes[0].text, "Threr are GUID error in the firmware file.\nPlease check it.");
    EXPECT_FALSE(fw.image.Loaded());
}

// Device1 is an enclosure of another product, with a firmware code past the
// threshold; Device2 the usual one.
class TwoProductsUpgradeTest : public UpgradePageTest {
protected:
    void SetUp() override {
        AddEnclosure("raid0", [](sim::Enclosure& m) {
            m.firmwareCode[0] = 0x14;
            m.productCode[0] = 0x12;
            m.productCode[1] = 0x34;
        });
        UpgradePageTest::SetUp();
    }
};

TEST_F(TwoProductsUpgradeTest, SwitchingTheSelectionAfterLoadingRefusesTheOtherProduct) {
    window->selectUpgradeDevice(1);
    chosen = File("fw.bin", FirmwareBytes(0x2000));
    Click("loadFirmwareButton");
    ASSERT_TRUE(sink.boxes.empty());
    ASSERT_TRUE(window->context().firmware.image.Loaded());
    const auto before0 = Flash(0);
    const auto before1 = Flash(1);

    window->selectUpgradeDevice(0);
    Click("startUpgradeButton");
    ASSERT_FALSE(sink.boxes.empty());
    EXPECT_EQ(sink.boxes.back().text, "The firmware is not for this product.\nPlease check it.");
    EXPECT_EQ(sink.boxes.back().caption, "Error");
    for (int i = 0; i < 2; ++i)
        for (const auto& c : disks->Emulator(i)->ExecutedCommandBytes())
            EXPECT_NE(c[0], device::cmd::kEraseSpi) << "enclosure " << i;
    EXPECT_EQ(Flash(0), before0);
    EXPECT_EQ(Flash(1), before1);
}

}  // namespace
}  // namespace raid::app::test
