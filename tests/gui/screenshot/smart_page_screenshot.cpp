// Saves a picture of the main window on its SMART page, against emulated
// enclosures after their first status poll and SMART reads, for the
// documentation:
//   smart_page_screenshot OUTPUT.png [SCENARIO...]   (default: raid1 raid0)
// Runs on Qt's offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include <QApplication>
#include <QPixmap>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"
#include "tests/gui/emulated_window.h"

int main(int argc, char** argv) {
    using namespace raid;
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png [SCENARIO...]\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication application(qtArgc, argv);

    std::vector<std::string> scenarios(argv + 2, argv + argc);
    if (scenarios.empty()) scenarios = {"raid1", "raid0"};
    // A manual clock: the picture needs no real pauses between commands.
    auto clock = std::make_shared<platform::ManualClock>(std::chrono::system_clock::now());
    auto disks = std::make_shared<sim::SimDiskSystem>();
    for (const std::string& name : scenarios) {
        const auto model = sim::ScenarioEnclosure(name);
        if (!model) {
            std::fprintf(stderr, "unknown scenario %s\n", name.c_str());
            return 2;
        }
        disks->AddEnclosure(std::make_shared<sim::ControllerEmulator>(*model, clock.get()));
    }

    app::test_support::EmulatedWindow emulated(clock, disks);
    app::MainWindow& window = emulated.window();
    emulated.DiscoverAndServe();
    window.show();
    window.openSmartPage();
    window.onSmartCountdownTick();
    QApplication::processEvents();

    if (!window.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
