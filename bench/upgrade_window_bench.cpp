// How long the window's event loop goes without turning while it upgrades
// an emulated enclosure's firmware from the Upgrade page, in real time. A
// 1 ms timer marks the turns of the loop. Measures, never asserts.
//   upgrade_window_bench [IMAGE_KIB] [--read-delay-us N] [--engine]   (default 504, 0)
// --engine: the window reaches the enclosure through the engine in this
// process, on its own thread, as root's window does without the service;
// otherwise the window drives it itself.
// 504 KiB is the largest image whose erase fits the emulated 512 KiB part.
#include <QApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

#include "app/upgrade_controller.h"
#include "firmware/firmware_image.h"
#include "platform/clock.h"
#include "service/engine_access.h"
#include "sim/emulator.h"
#include "sim/sim_disks.h"
#include "tests/gui/emulated_window.h"

namespace {

using namespace raid;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

class NoBoxes final : public app::MessageSink {
public:
    void Show(QWidget*, const QString& text, const QString&) override { last = text.toStdString(); }
    std::string last;
};

}  // namespace

int main(int argc, char** argv) {
    std::size_t kib = 504;
    int delayUs = 0;
    bool engine = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--engine") == 0) {
            engine = true;
        } else if (std::strcmp(argv[i], "--read-delay-us") == 0 && i + 1 < argc) {
            delayUs = std::max(0, std::atoi(argv[++i]));
        } else {
            kib = static_cast<std::size_t>(std::max(8, std::atoi(argv[i])));
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication application(qtArgc, argv);

    QTemporaryDir files;
    const QString path = files.filePath("fw.bin");
    {
        std::vector<std::uint8_t> f(kib * 1024);
        for (std::size_t i = 0; i < f.size(); ++i)
            f[i] = static_cast<std::uint8_t>(i * 31 + (i >> 9));
        std::copy(firmware::kMetadataSignature.begin(), firmware::kMetadataSignature.end(),
                  f.begin() + firmware::kSignatureOffset);
        std::copy(firmware::kFormatGuid.begin(), firmware::kFormatGuid.end(),
                  f.begin() + firmware::kGuidOffset);
        f[firmware::kTypeByteOffset] = 0x5A;
        // The configuration block at 0x100, inside any size measured.
        f[firmware::kConfigOffsetField] = 0x00;
        f[firmware::kConfigOffsetField + 1] = 0x01;
        f[firmware::kConfigOffsetField + 2] = 0x00;
        std::ofstream(path.toStdString(), std::ios::binary)
            .write(reinterpret_cast<const char*>(f.data()), static_cast<long>(f.size()));
    }

    auto clock = std::make_shared<platform::SystemClock>();
    auto disks = std::make_shared<sim::SimDiskSystem>();
    auto emulator =
        std::make_shared<sim::ControllerEmulator>(*sim::ScenarioEnclosure("raid1"), clock.get());
    disks->AddEnclosure(emulator);
    NoBoxes boxes;
    app::test_support::EmulatedWindow emulated(clock, disks, [&](app::MainWindowOptions& o) {
        o.messages = &boxes;
        o.chooseFirmwareFile = [&](const QString&) { return path; };
        if (!engine) return;
        o.openEngine = [&files, disks, clock] {
            service::InProcessSetup setup{
                .disks = *disks,
                .clock = *clock,
                .logDir = files.path().toStdString(),
                .timeStamp = {},
                .mail = {},
                .deviceEvents = {},
            };
            setup.discoverInTurns = true;
            return std::make_unique<service::InProcessEngine>(std::move(setup));
        };
    });
    app::MainWindow& window = emulated.window();
    const auto upgrading = [&window] {
        return window.context().state.shell.exclusiveOperation.load();
    };
    // The engine's calls and news come through the event loop.
    const auto turnUntil = [](const std::function<bool()>& done) {
        while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    };
    if (engine) {
        turnUntil([&window] { return window.context().state.discovery.deviceCount > 0; });
    } else {
        emulated.DiscoverAndServe();
    }
    window.show();
    window.openUpgradePage();
    window.loadFirmware();
    if (engine) turnUntil([&window] { return window.context().firmware.image.Loaded(); });
    disks->SetReadDelay(std::chrono::microseconds(delayUs));

    std::vector<Clock::time_point> turns;
    QTimer marker;
    marker.setInterval(1);
    QObject::connect(&marker, &QTimer::timeout, [&] { turns.push_back(Clock::now()); });
    marker.start();
    emulator->ClearTrace();
    const auto start = Clock::now();
    window.startUpgrade();
    if (engine) turnUntil([&] { return !upgrading(); });
    const auto end = Clock::now();
    marker.stop();

    double longest = 0;
    auto previous = start;
    for (const auto& t : turns) {
        longest = std::max(longest, Ms(t - previous));
        previous = t;
    }
    longest = std::max(longest, Ms(end - previous));
    std::printf("upgrade of a %zu KiB image%s, %d us per sector read: %.2f s, %zu controller "
                "reads\n",
                kib, engine ? " through the engine in this process" : "", delayUs, Ms(end - start) / 1000, emulator->Trace().size());
    std::printf("event loop: %zu turns, longest gap %.1f ms\n", turns.size(), longest);
    std::printf("final text: %s\n", boxes.last.c_str());
    return 0;
}
