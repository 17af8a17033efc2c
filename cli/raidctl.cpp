// raidctl: headless access to the enclosures, for scripts and diagnostics.
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <atomic>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string_view>
#include <vector>

#include "cli/local_access.h"
#include "cli/raidctl_args.h"
#include "cli/raidctl_commands.h"
#include "cli/raidctl_firmware.h"
#include "cli/raidctl_jobs.h"
#include "cli/raidctl_lock.h"
#include "cli/raidctl_mail.h"
#include "cli/raidctl_make_bin.h"
#include "cli/raidctl_monitor.h"
#include "cli/raidctl_settings.h"
#include "cli/raidctl_sim.h"
#include "cli/raidctl_smart.h"
#include "cli/raidctl_status.h"
#include "cli/terminal_agent.h"
#include "client/bus_access.h"
#include "client/bus_names.h"
#include "platform/clock.h"
#include "platform/instance_lock.h"
#include "platform/linux_disks.h"
#include "platform/program_folder.h"
#include "platform/service_notify.h"
#include "service/bus_front.h"
#include "service/daemon.h"

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

// raidctl's own connection to the system bus. Qt holds back the signals of
// its shared one, made in the main thread, until that thread's event loop
// first runs (here only once a flash is followed) and then lets signals that
// come meanwhile overtake the held ones: a job's first step came out late.
QDBusConnection SystemBus() {
    return QDBusConnection::connectToBus(QDBusConnection::SystemBus, "raidctl");
}

// `monitor --once` while the service runs: the service's own health bits.
int AskServiceHealth(raid::cli::Context& ctx, const QDBusConnection& connection) {
    using namespace raid;
    QDBusMessage call =
        QDBusMessage::createMethodCall(client::bus::kServiceName, client::bus::kManagerPath,
                                       client::bus::kManagerInterface, "GetHealth");
    call << QVariantMap();
    const QDBusMessage reply = connection.call(call);
    const auto values = reply.arguments();
    if (reply.type() != QDBusMessage::ReplyMessage || values.size() != 2 ||
        values[0].metaType() != QMetaType::fromType<uint>() || values[0].toUInt() > 31) {
        ctx.err << "raidctl: the service " << client::bus::kServiceName
                << " did not tell its health: " << reply.errorMessage().toStdString() << "\n";
        return client::kUnavailable;
    }
    for (const QString& text : values[1].toStringList())
        ctx.err << "raidctl: " << cli::OneLine(text.toStdString()) << "\n";
    return static_cast<int>(values[0].toUInt());
}

int RunMonitorCommand(raid::cli::Context& ctx, const raid::cli::Arguments& args,
                      raid::service::BusFront& bus) {
    using namespace raid;
    if (args.once && !args.simulate && !args.direct) {
        const QDBusConnection system = SystemBus();
        if (client::BusAccess::ServiceRuns(system)) return AskServiceHealth(ctx, system);
    }
    service::DaemonSetup setup;
    setup.logDir = args.logDir;
    setup.metricsFile = args.metricsFile;
    setup.settingsFile = args.settingsFile;
    setup.serveClients = !args.once;
    setup.followDevices = !args.simulate;
    setup.stopRequested = [] { return stopSignal.load(); };
    setup.reloadRequested = [] { return reloadSignal.exchange(false); };
    service::RunContext run{ctx.disks, ctx.clock, ctx.out, ctx.err};
    return service::RunDaemon(run, cli::MonitorPlan(ctx, args), setup, bus);
}

// The commands the service serves to its clients.
bool ServedCommand(raid::cli::Command command) {
    using raid::cli::Command;
    return command == Command::Status || command == Command::Smart || command == Command::Buzzer ||
           command == Command::CheckFirmware || command == Command::Flash ||
           command == Command::ReadFlash || command == Command::Jobs ||
           command == Command::BackupPeriod;
}

int RunMailCommand(const raid::cli::Arguments& args) {
    using namespace raid;
    const bool test = args.command == cli::Command::MailTest;
    const QDBusConnection system = SystemBus();
    if (!args.settingsFile.empty() || !client::BusAccess::ServiceRuns(system))
        return test ? cli::RunMailTest(args, std::cout, std::cerr)
                    : cli::RunMailSettings(args, std::cout, std::cerr);
    client::BusAccess remote(system);
    // polkit asks the person only where one sits at a terminal.
    cli::AgentRetryAccess asking(remote, isatty(STDIN_FILENO) != 0 && isatty(STDERR_FILENO) != 0);
    return test ? cli::RunMailTestVia(args, asking, std::cout, std::cerr)
                : cli::RunMailSettingsVia(args, asking, std::cout, std::cerr);
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

    // The SMTP client's sockets and the system bus need an application
    // object; no event loop runs here except in their own threads.
    static int qtArgc = 1;
    static char qtName[] = "raidctl";
    static char* qtArgv[] = {qtName, nullptr};
    QCoreApplication application(qtArgc, qtArgv);

    try {
        // The e-mail commands touch no disk. Where the service runs they
        // show and use its settings, unless --settings names a file.
        if (args.command == cli::Command::MailTest || args.command == cli::Command::MailSettings)
            return RunMailCommand(args);
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
        // Where the service runs, it alone opens the enclosures.
        cli::LocalAccess local(ctx);
        std::unique_ptr<client::BusAccess> remote;
        std::unique_ptr<cli::AgentRetryAccess> asking;
        const bool askService =
            ServedCommand(args.command) || (args.command == cli::Command::Monitor && args.once);
        if (!args.simulate && askService) {
            const QDBusConnection system = SystemBus();
            if (client::BusAccess::ServiceRuns(system)) {
                if (args.direct) {
                    std::cerr << "raidctl: --direct is refused while the service "
                              << client::bus::kServiceName
                              << " runs (raid-monitor.service); leave out --direct to go "
                                 "through it\n";
                    return client::kBusy;
                }
                remote = std::make_unique<client::BusAccess>(system);
                // polkit asks the person only where one sits at a terminal.
                asking = std::make_unique<cli::AgentRetryAccess>(
                    *remote, isatty(STDIN_FILENO) != 0 && isatty(STDERR_FILENO) != 0);
            }
        }
        client::EnclosureAccess& access =
            asking ? static_cast<client::EnclosureAccess&>(*asking) : local;
        // In this process, one program per machine drives the enclosures, as
        // the window program: held until the command ends.
        platform::InstanceLock lock;
        // A service that waits for the lock owns its name meanwhile and
        // answers every call "busy", saying whom it waits for.
        service::BusFront monitorBus;
        const auto notify = [&monitorBus, &args](const std::string& what) {
            const std::string status = "STATUS=";
            if (args.command == cli::Command::Monitor && !args.once &&
                what.rfind(status + "waiting", 0) == 0) {
                std::string noBus;
                if (monitorBus.Running() || monitorBus.Start(noBus, service::NoteFromBus))
                    monitorBus.SetState(what.substr(status.size()), false);
            } else if (what == status && monitorBus.Running()) {
                monitorBus.SetState("starting", false);
            }
            platform::NotifyServiceManager(what);
        };
        if (!remote && cli::HoldsMachineLock(args)) {
            const cli::LockWait wait{clock, [] { return stopSignal.load(); }, notify};
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
                return cli::RunStatusVia(ctx, args, access);
            case cli::Command::Smart:
                return cli::RunSmartVia(ctx, args, access);
            case cli::Command::Monitor:
                return RunMonitorCommand(ctx, args, monitorBus);
            case cli::Command::Query:
                return cli::RunQuery(ctx, args);
            case cli::Command::Buzzer:
                return cli::RunBuzzerVia(ctx, args, access);
            case cli::Command::BackupPeriod:
                return cli::RunBackupPeriodVia(ctx, args, access);
            case cli::Command::CheckFirmware:
                return cli::RunCheckFirmwareVia(ctx, args, access);
            case cli::Command::Flash: {
                cli::FlashOptions options;
                options.terminal = isatty(STDIN_FILENO) != 0 && isatty(STDOUT_FILENO) != 0;
                options.readAnswer = []() -> std::optional<std::string> {
                    std::string line;
                    if (!std::getline(std::cin, line)) return std::nullopt;
                    return line;
                };
                options.interrupted = [] { return stopSignal.load(); };
                return cli::RunFlashVia(ctx, args, options, access);
            }
            case cli::Command::ReadFlash:
                return cli::RunReadFlashVia(ctx, args, access);
            case cli::Command::MakeBin:
                return cli::RunMakeBin(ctx, args);
            case cli::Command::Jobs:
                return cli::RunJobs(ctx, args, remote.get());
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
