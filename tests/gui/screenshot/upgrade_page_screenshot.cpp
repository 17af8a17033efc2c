// Saves two pictures for the documentation: the main window's Upgrade page
// in the middle of an upgrade of an emulated enclosure, and the "Make Bin"
// window with a boot loader and two sub-codes:
//   upgrade_page_screenshot UPGRADE.png MAKEBIN.png
// Runs on Qt's offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include <QApplication>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <vector>

#include "app/upgrade_controller.h"
#include "firmware/firmware_image.h"
#include "platform/clock.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"
#include "tests/gui/emulated_window.h"

namespace {

void Write(const QString& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path.toStdString(), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

// A 64 KiB firmware file for the emulated enclosure's part.
std::vector<std::uint8_t> FirmwareFile() {
    using namespace raid::firmware;
    std::vector<std::uint8_t> f(0x10000);
    for (std::size_t i = 0; i < f.size(); ++i) f[i] = static_cast<std::uint8_t>(i * 7 + (i >> 9));
    std::copy(kMetadataSignature.begin(), kMetadataSignature.end(), f.begin() + kSignatureOffset);
    std::copy(kFormatGuid.begin(), kFormatGuid.end(), f.begin() + kGuidOffset);
    f[kTypeByteOffset] = 0x5A;
    // The configuration block at 0x8000, inside the file.
    f[kConfigOffsetField] = 0x00;
    f[kConfigOffsetField + 1] = 0x80;
    f[kConfigOffsetField + 2] = 0x00;
    return f;
}

// The boxes would wait for a click.
class NoBoxes final : public raid::app::MessageSink {
public:
    void Show(QWidget*, const QString&, const QString&) override {}
};

}  // namespace

int main(int argc, char** argv) {
    using namespace raid;
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s UPGRADE.png MAKEBIN.png\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication application(qtArgc, argv);

    QTemporaryDir files;
    const QString firmwarePath = files.filePath("RAID1_FW_100201.bin");
    Write(firmwarePath, FirmwareFile());
    std::vector<std::uint8_t> boot(0x6000, 0x11);
    boot[17] = 0x80;
    boot[18] = 0x07;  // configuration block at 0x78000
    Write(files.filePath("SPIHEAD.BIN"), boot);
    Write(files.filePath("SUB_01.BIN"), std::vector<std::uint8_t>(0x8000, 0x22));
    Write(files.filePath("SUB_1A.BIN"), std::vector<std::uint8_t>(0x9000, 0x33));

    NoBoxes noBoxes;
    auto clock = std::make_shared<platform::ManualClock>(std::chrono::system_clock::now());
    auto disks = std::make_shared<sim::SimDiskSystem>();
    disks->AddEnclosure(
        std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure("raid1"), clock.get()));
    app::test_support::EmulatedWindow emulated(clock, disks, [&](app::MainWindowOptions& o) {
        o.messages = &noBoxes;
        o.chooseFirmwareFile = [&](const QString&) { return firmwarePath; };
        o.imageBuilderHooks.chooseFiles = [&](const QString&) {
            return QStringList{files.filePath("SPIHEAD.BIN"), files.filePath("SUB_01.BIN"),
                               files.filePath("SUB_1A.BIN")};
        };
    });
    app::MainWindow& window = emulated.window();
    emulated.DiscoverAndServe();
    window.show();
    window.openUpgradePage();
    window.loadFirmware();

    // The picture is taken from inside the upgrade, once programming is
    // well under way.
    bool saved = false;
    QTimer shooter;
    shooter.setInterval(0);
    QObject::connect(&shooter, &QTimer::timeout, [&] {
        if (saved || window.context().firmware.progressCounter < 400) return;
        window.onProgressTick();
        saved = window.grab().save(QString::fromLocal8Bit(argv[1]));
        shooter.stop();
    });
    shooter.start();
    window.upgradeController().setPumpIntervalMs(0);
    window.startUpgrade();
    if (!saved) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }

    window.openImageBuilder();
    window.imageBuilder().addSubCodes();
    QApplication::processEvents();
    if (!window.imageBuilder().grab().save(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
