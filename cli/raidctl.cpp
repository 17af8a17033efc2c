// raidctl: headless access to the enclosures, for scripts and diagnostics.
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <atomic>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string_view>
#include <vector>

#include "cli/raidctl_args.h"
#include "cli/raidctl_commands.h"
#include "cli/raidctl_firmware.h"
#include "cli/raidctl_lock.h"
#include "cli/raidctl_mail.h"
#include "cli/raidctl_make_bin.h"
#include "cli/raidctl_monitor.h"
#include "cli/raidctl_settings.h"
#include "cli/raidctl_sim.h"
#include "cli/raidctl_smart.h"
#include "cli/raidctl_status.h"
#include "platform/clock.h"
#include "platform/device_watch.h"
#include "platform/instance_lock.h"
#include "platform/linux_disks.h"
#include "platform/program_folder.h"
#include "platform/service_notify.h"

namespace {

// Set by SIGINT and SIGTERM: `monitor` ends at the next step of the device
// work that is running.
std::atomic<bool> stopSignal{false};
// Set by SIGHUP: `monitor` reads its settings again.
std::atomic<bool> reloadSignal{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnStopSignal(int) { stopSignal.store(true); }
void OnReloadSignal(int) { reloadSignal.store(true); }

void CatchMonitorSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    // A second signal ends the program at once, as without the handler.
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    struct sigaction reload {};
    reload.sa_handler = OnReloadSignal;
    sigemptyset(&reload.sa_mask);
    sigaction(SIGHUP, &reload, nullptr);
}

int RunMonitorCommand(raid::cli::Context& ctx, const raid::cli::Arguments& args) {
    using namespace raid;
    cli::MonitorOptions options;
    if (!args.logDir.empty()) {
        options.logDir = args.logDir;
    } else {
        // Beside the executable as the window program keeps its logs, or the
        // installed copy's log folder.
        options.logDir = platform::ProgramDataFolder(platform::ExecutableFolder());
        if (options.logDir.empty()) {
            ctx.err << "raidctl: cannot find the folder of the raidctl executable; give "
                       "--log-dir\n";
            return cli::kExitConfig;
        }
        std::error_code ec;
        if (options.logDir == platform::InstalledLogFolder())
            std::filesystem::create_directories(options.logDir, ec);
    }

    options.stop = [](std::uint32_t) { return stopSignal.load(); };
    options.interrupted = [] { return stopSignal.load(); };
    options.reloadRequested = [] { return reloadSignal.exchange(false); };
    options.notify = platform::NotifyServiceManager;
    options.metricsFile = args.metricsFile;
    options.mail = cli::MonitorOptions::Mail{args.settingsFile, {}};
    // The SMTP client's sockets need an application object; nothing else of
    // Qt runs here.
    static int qtArgc = 1;
    static char qtName[] = "raidctl";
    static char* qtArgv[] = {qtName, nullptr};
    QCoreApplication application(qtArgc, qtArgv);
    std::unique_ptr<platform::DeviceWatch> watch;
    if (!args.simulate) {
        watch = std::make_unique<platform::DeviceWatch>();
        if (watch->Active()) {
            options.deviceEvents = [w = watch.get()] { return w->Drain(); };
        } else {
            ctx.err << "raidctl: udev cannot be reached: enclosures plugged in or removed "
                       "later are not noticed\n";
        }
    }
    return cli::RunMonitor(ctx, args, options);
}

// flash: a signal is told and, once the flash is being changed, refused
// (see RunFlash); none of them ends the program there.
void HoldStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace raid;
    const std::vector<std::string_view> words(argv + 1, argv + argc);
    const cli::ParseResult parsed = cli::ParseArguments(words);
    if (const auto code = cli::AnswerCommandLine(parsed, std::cout, std::cerr)) return *code;
    const cli::Arguments& args = parsed.args;

    // Before any disk work, so that a signal during discovery is not lost.
    if (args.command == cli::Command::Monitor) CatchMonitorSignals();
    if (args.command == cli::Command::Flash) HoldStopSignals();

    try {
        // The e-mail commands touch no disk.
        if (args.command == cli::Command::MailTest)
            return cli::RunMailTest(args, std::cout, std::cerr);
        if (args.command == cli::Command::MailSettings)
            return cli::RunMailSettings(args, std::cout, std::cerr);
        platform::SystemClock clock;
        std::unique_ptr<platform::DiskSystem> disks;
        std::function<int(const std::string&)> numberOfPath;
        if (args.simulate) {
            std::string error;
            disks = cli::MakeSimulatedDisks(args.scenario, clock, error);
            if (!disks) {
                std::cerr << "raidctl: " << error << "\n";
                return cli::UsageExitCode(args.command);
            }
        } else {
            auto linux = std::make_unique<platform::LinuxDiskSystem>();
            numberOfPath = [sys = linux.get()](const std::string& path) {
                return sys->DiskNumberOfPath(path);
            };
            disks = std::move(linux);
        }
        cli::Context ctx{*disks, clock, numberOfPath, std::cout, std::cerr};
        // One program per machine drives the enclosures, as the window
        // program: held until the command ends.
        platform::InstanceLock lock;
        if (cli::HoldsMachineLock(args)) {
            const cli::LockWait wait{clock, [] { return stopSignal.load(); },
                                     platform::NotifyServiceManager};
            if (const auto code = cli::TakeMachineLock(lock, platform::MachineLockFolder(), args,
                                                       std::cerr, wait))
                return *code;
        }
        switch (args.command) {
            case cli::Command::Disks:
                return cli::RunDisks(ctx, args);
            case cli::Command::List:
                return cli::RunList(ctx, args);
            case cli::Command::Status:
                return cli::RunStatus(ctx, args);
            case cli::Command::Smart:
                return cli::RunSmart(ctx, args);
            case cli::Command::Monitor:
                return RunMonitorCommand(ctx, args);
            case cli::Command::Query:
                return cli::RunQuery(ctx, args);
            case cli::Command::Buzzer:
                return cli::RunBuzzer(ctx, args);
            case cli::Command::BackupPeriod:
                return cli::RunBackupPeriod(ctx, args);
            case cli::Command::CheckFirmware:
                return cli::RunCheckFirmware(ctx, args);
            case cli::Command::Flash: {
                cli::FlashOptions options;
                options.terminal = isatty(STDIN_FILENO) != 0 && isatty(STDOUT_FILENO) != 0;
                options.readAnswer = []() -> std::optional<std::string> {
                    std::string line;
                    if (!std::getline(std::cin, line)) return std::nullopt;
                    return line;
                };
                options.interrupted = [] { return stopSignal.load(); };
                return cli::RunFlash(ctx, args, options);
            }
            case cli::Command::ReadFlash:
                return cli::RunReadFlash(ctx, args);
            case cli::Command::MakeBin:
                return cli::RunMakeBin(ctx, args);
            case cli::Command::MailTest:
            case cli::Command::MailSettings:
            case cli::Command::None:
                break;
        }
    } catch (const std::exception& e) {
        std::cerr << "raidctl: " << e.what() << "\n";
        return cli::InternalErrorExitCode(args.command);
    }
    return cli::kExitUsage;  // a valid command line always names a command
}
