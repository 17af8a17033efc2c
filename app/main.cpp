// raidgui: the window program. It manages the enclosures among the
// machine's disks, or emulated ones with --simulate. Where the monitor
// service runs, or for a user other than root, the window is a client of
// the service (one copy per user); otherwise it runs the service's engine in
// this process on the disks (one copy per machine) and is its client alike.
#include <unistd.h>

#include <QApplication>
#include <QDBusConnection>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "app/desktop_notice.h"
#include "app/main_window.h"
#include "app/termination_watch.h"
#include "client/bus_access.h"
#include "client/bus_names.h"
#include "client/enclosure_watch.h"
#include "common/version.h"
#include "platform/device_watch.h"
#include "platform/instance_lock.h"
#include "platform/linux_disks.h"
#include "platform/program_folder.h"
#include "platform/system_bus.h"
#include "service/engine_access.h"
#include "sim/sim_disks.h"

namespace {

using namespace raid;

// A client of the service lists the disks, for the mount points it shows,
// but never opens one: the service alone talks to the enclosures.
class ListOnlyDisks final : public platform::DiskSystem {
public:
    std::vector<platform::DiskInfo> ListDisks() override { return disks_.ListDisks(); }
    std::vector<platform::VolumeInfo> ListVolumes() override { return disks_.ListVolumes(); }
    platform::OpenResult OpenDisk(int) override {
        platform::OpenResult refused;
        refused.error = platform::OpenError::PermissionDenied;
        refused.message = "a client of the monitor service opens no disk";
        return refused;
    }

private:
    platform::LinuxDiskSystem disks_;
};

// Where a client's window notes the service's upgrade it left running: the
// user's state folder, which outlives the session.
std::filesystem::path LeftUpgradeFile() {
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    std::filesystem::path folder;
    if (state != nullptr && state[0] == '/')
        folder = state;
    else if (home != nullptr && home[0] == '/')
        folder = std::filesystem::path(home) / ".local" / "state";
    return folder.empty() ? folder : folder / "raidgui" / "left-upgrade";
}

// One line on standard error for a lock not taken; 3 when another copy holds it.
int LockRefused(const platform::InstanceLock::Result& taken, const platform::LockFolder& folder) {
    std::fprintf(
        stderr, "raidgui: %s\n",
        platform::RefusalText(taken, folder.path + "/" + platform::kInstanceLockName).c_str());
    return taken.outcome == platform::InstanceLock::Outcome::HeldElsewhere ? 3 : 1;
}

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

// The window's own connection to the system bus: Qt holds back the signals
// of its shared one, made before the event loop runs, and then lets newer
// ones overtake them, which would leave an older status in the watch.
QDBusConnection WindowBus() {
    return QDBusConnection::connectToBus(QDBusConnection::SystemBus, "raidgui");
}

// The engine's notes, named for this program: it words them for raidctl.
class WindowNotes final : public std::streambuf {
protected:
    int overflow(int c) override {
        if (c == traits_type::eof()) return traits_type::not_eof(c);
        line_.push_back(static_cast<char>(c));
        if (c == '\n') {
            constexpr std::string_view kTheirs = "raidctl: ";
            if (line_.starts_with(kTheirs)) line_.replace(0, kTheirs.size(), "raidgui: ");
            std::fputs(line_.c_str(), stderr);
            line_.clear();
        }
        return c;
    }

private:
    std::string line_;
};

// The engine in this process, as the service runs it: every poll, log line,
// mail and flash is its work; the window is its client. Its notes go to
// standard error, for the session's journal.
std::function<std::unique_ptr<service::InProcessEngine>()> EngineOpener(
    std::shared_ptr<platform::DiskSystem> disks, std::shared_ptr<platform::Clock> clock,
    std::filesystem::path logFolder, std::filesystem::path settingsFile, bool followDevices) {
    return [=]() {
        service::InProcessSetup setup{
            .disks = *disks,
            .clock = *clock,
            .logDir = logFolder,
            .timeStamp = text::LocaleDateTimeFormatter(),
            .mail = service::MonitorOptions::Mail{settingsFile.string(), {}},
            .deviceEvents = {},
        };
        static WindowNotes notes;
        static std::ostream noteStream(&notes);
        setup.notes = &noteStream;
        setup.discoverInTurns = true;
        // logind holds shutdown off during a flash, as for the service.
        setup.systemBus = WindowBus();
        if (followDevices) {
            // Drained on the engine's thread between its turns.
            auto watch = std::make_shared<platform::DeviceWatch>();
            if (watch->Active())
                setup.deviceEvents = [watch] { return watch->Drain(); };
            else
                std::fputs("raidgui: udev cannot be reached: enclosures plugged in or removed "
                           "later are not noticed\n",
                           stderr);
        }
        // The disks and the clock outlive every engine: the window's context holds them.
        return std::make_unique<service::InProcessEngine>(std::move(setup));
    };
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
            std::printf("raidgui %s\n", kVersionText);
            return 0;
        case app::CommandLine::Action::Error:
            std::fprintf(stderr, "raidgui: %s\nTry '%s --help'.\n", line.error.c_str(),
                         program.c_str());
            return 2;
        case app::CommandLine::Action::Run:
            break;
    }

    // Emulated enclosures are this program's own: no service, no lock.
    // Otherwise the service serves them where it runs; a user other than
    // root may not open the disks, so such a window is its client anyway
    // and waits for it, saying so. Decided, and the lock taken, before Qt
    // starts: a second copy goes at once, with or without a display.
    bool clientMode = false;
    platform::InstanceLock lock;
    // The user's lock folder, chosen once; what was refused for it is told
    // the first time it is used, not at each hand-over.
    const platform::UserLockChoice userLock = platform::ChooseUserLockFolder(::geteuid());
    bool userLockTold = false;
    const auto takeUserLock = [&lock, &userLock, &userLockTold] {
        if (!userLock.warning.empty() && !userLockTold) {
            std::fprintf(stderr, "raidgui: warning: %s\n", userLock.warning.c_str());
            userLockTold = true;
        }
        return lock.Acquire(userLock.folder, platform::kInstanceLockName);
    };
    if (!line.simulate) {
        std::string unreachable;
        const auto serviceRuns =
            platform::SystemBusNameHasOwner(client::bus::kServiceName, unreachable);
        clientMode = ::geteuid() != 0 || serviceRuns.value_or(false);
        // One window per user as a client; one per machine with the disks.
        const platform::LockFolder folder =
            clientMode ? userLock.folder : platform::MachineLockFolder();
        const auto taken =
            clientMode ? takeUserLock() : lock.Acquire(folder, platform::kInstanceLockName);
        if (taken.outcome != platform::InstanceLock::Outcome::Acquired)
            return LockRefused(taken, folder);
    }

    // Qt reads nothing of the command line: only the program name is passed.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication application(qtArgc, qtArgv);
    // In this process too: the service, started later, gets the enclosures.
    std::unique_ptr<client::BusWatch> watch;
    if (!line.simulate) watch = std::make_unique<client::BusWatch>(WindowBus());

    auto clock = std::make_shared<platform::SystemClock>();
    // Root's client window may drive the disks again if the service stops.
    std::shared_ptr<platform::DiskSystem> disks;
    if (clientMode && ::geteuid() != 0)
        disks = std::make_shared<ListOnlyDisks>();
    else
        disks = MakeDisks(line, clock);
    auto context = std::make_shared<app::ShellContext>(clock, disks);
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
        options.watch = watch.get();
        options.reachService = [] {
            return std::make_shared<client::BusAccess>(WindowBus());
        };
        if (clientMode) options.service = options.reachService();
        if (!clientMode || ::geteuid() == 0)
            options.openEngine = EngineOpener(disks, clock, context->programFolder,
                                              options.settingsFile, !line.simulate);
        // Where a client notes an upgrade the service goes on with after it closed.
        options.leftUpgradeFile = LeftUpgradeFile();
        // A lost disk is seen even while the window is minimised.
        auto* notice =
            new app::DesktopNotice(QDBusConnection::sessionBus(), "RAID GUI", &application);
        options.desktopNotice = [notice](const QString& line) { notice->Show(line); };
        // Handed over to the service: the lock of one copy per user instead.
        options.releaseMachineLock = [&lock, &takeUserLock] {
            lock.Release();
            takeUserLock();
        };
        if (::geteuid() == 0 && !line.simulate)
            options.takeMachineLock = [&lock, &takeUserLock] {
                lock.Release();
                const bool taken =
                    lock.Acquire(platform::MachineLockFolder(), platform::kInstanceLockName)
                        .outcome == platform::InstanceLock::Outcome::Acquired;
                if (!taken) takeUserLock();
                return taken;
            };
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
