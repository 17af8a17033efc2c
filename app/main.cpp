// raidgui: the window program. One copy runs at a time; it manages the
// enclosures among the machine's disks, or emulated ones with --simulate.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/main_window.h"
#include "app/termination_watch.h"
#include "platform/instance_lock.h"
#include "platform/linux_disks.h"
#include "platform/program_folder.h"
#include "sim/sim_disks.h"

namespace {

using namespace raid;

std::shared_ptr<platform::DiskSystem> MakeDisks(const app::CommandLine& line,
                                                const std::shared_ptr<platform::Clock>& clock) {
    if (!line.simulate) return std::make_shared<platform::LinuxDiskSystem>();
    auto disks = std::make_shared<sim::SimDiskSystem>();
    for (const std::string& name : line.scenarios) {
        auto model = sim::ScenarioEnclosure(name);
        if (!model) continue;  // the command line has checked the names
        const int number =
            disks->AddEnclosure(std::make_shared<sim::ControllerEmulator>(*model, clock.get()));
        platform::VolumeInfo volume;
        volume.name = "sim" + std::to_string(number) + "p1";
        volume.devicePath = "/dev/" + volume.name;
        volume.diskNumber = number;
        volume.driveType = platform::kDriveFixed;
        disks->AddVolume(volume);
    }
    return disks;
}

int Run(int argc, char** argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const std::vector<std::string> known = sim::ScenarioNames();
    const app::CommandLine line = app::ParseCommandLine(args, known);
    const std::string program = argc > 0 ? argv[0] : "raidgui";
    switch (line.action) {
        case app::CommandLine::Action::Help:
            std::fputs(app::UsageText(program, known).c_str(), stdout);
            return 0;
        case app::CommandLine::Action::Version:
            std::printf("raidgui %s\n", "v0.50.11-5");
            return 0;
        case app::CommandLine::Action::Error:
            std::fprintf(stderr, "raidgui: %s\nTry '%s --help'.\n", line.error.c_str(),
                         program.c_str());
            return 2;
        case app::CommandLine::Action::Run:
            break;
    }

    // One program per machine drives the enclosures. A lock that cannot be
    // taken at all is an error with its reason, never "already running".
    // Emulated enclosures are this program's own: they need no lock.
    platform::InstanceLock lock;
    if (!line.simulate) {
        const platform::LockFolder folder = platform::MachineLockFolder();
        const auto taken = lock.Acquire(folder, platform::kInstanceLockName);
        if (taken.outcome != platform::InstanceLock::Outcome::Acquired) {
            std::fprintf(
                stderr, "raidgui: %s\n",
                platform::RefusalText(taken, folder.path + "/" + platform::kInstanceLockName)
                    .c_str());
            return taken.outcome == platform::InstanceLock::Outcome::HeldElsewhere ? 3 : 1;
        }
    }

    // Qt reads nothing of the command line: only the program name is passed.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication application(qtArgc, qtArgv);

    auto clock = std::make_shared<platform::SystemClock>();
    auto context = std::make_shared<app::ShellContext>(clock, MakeDisks(line, clock));
    // An installed copy keeps its logs in the machine's log folder, shared
    // with the monitor service; a copy in its build folder beside itself.
    context->programFolder = platform::ProgramDataFolder(platform::ExecutableFolder());
    if (context->programFolder == platform::InstalledLogFolder()) {
        std::error_code ignored;
        std::filesystem::create_directories(context->programFolder, ignored);
    }

    int result = 0;
    try {
        app::MainWindowOptions options;
        options.context = context;
        if (!line.settingsFile.empty()) options.settingsFile = line.settingsFile;
        app::MainWindow mainWindow(options);
        app::TerminationWatch termination;
        QObject::connect(&termination, &app::TerminationWatch::terminationRequested, &mainWindow,
                         &app::MainWindow::onTerminationSignal);
        mainWindow.show();
        result = application.exec();
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, QString(), QString::fromLocal8Bit(error.what()));
        result = 1;
    }
    return result;
}

}  // namespace

int main(int argc, char** argv) { return Run(argc, argv); }
