#include "service/daemon.h"

#include <iostream>
#include <memory>
#include <ostream>
#include <system_error>

#include "platform/device_watch.h"
#include "platform/journal.h"
#include "platform/program_folder.h"
#include "platform/service_notify.h"
#include "service/bus_front.h"
#include "service/journal_entries.h"

namespace raid::service {

void NoteFromBus(const std::string& text) {
    if (platform::StandardErrorIsJournal())
        platform::SendJournalEntry(4, text, {});
    else
        std::cerr << "raidctl: " + text + "\n" << std::flush;
}

int RunDaemon(RunContext& ctx, const RunPlan& plan, const DaemonSetup& setup, BusFront& bus) {
    MonitorOptions options;
    std::unique_ptr<JournalNotes> journalNotes;
    std::unique_ptr<std::ostream> notesStream;
    if (!plan.once && platform::StandardErrorIsJournal()) {
        const auto send = [](const JournalEntry& entry) {
            platform::SendJournalEntry(entry.priority, entry.message, entry.fields);
        };
        options.journal = send;
        journalNotes = std::make_unique<JournalNotes>(send);
        notesStream = std::make_unique<std::ostream>(journalNotes.get());
    }
    RunContext run{ctx.disks, ctx.clock, ctx.out, notesStream ? *notesStream : ctx.err};
    if (!setup.logDir.empty()) {
        options.logDir = setup.logDir;
    } else {
        // The installed copy's log folder, which the window program of an
        // installed copy shares; never beside the executable.
        options.logDir = platform::ServiceFolder("LOGS_DIRECTORY", platform::InstalledLogFolder());
        std::error_code ec;
        std::filesystem::create_directories(options.logDir, ec);
    }
    options.stop = [&setup](std::uint32_t) { return setup.stopRequested && setup.stopRequested(); };
    options.interrupted = setup.stopRequested;
    options.reloadRequested = setup.reloadRequested;
    options.notify = platform::NotifyServiceManager;
    options.metricsFile = setup.metricsFile;
    options.mail = MonitorOptions::Mail{setup.settingsFile, {}};
    // One owner per machine: clients reach the enclosures through this
    // process once it owns the service's name, which it takes once its first
    // poll has asked the enclosures, so that no client is told of polls that
    // have not run (systemd hears READY=1 after discovery, as before).
    if (setup.serveClients) {
        options.front = &bus;
        options.serveClients = [&bus, &run] {
            std::string noBus;
            if (bus.Running() || bus.Start(noBus, NoteFromBus))
                bus.SetState("serving", true);
            else
                run.err << "raidctl: serving no clients: " << noBus << "\n";
        };
    }
    std::unique_ptr<platform::DeviceWatch> watch;
    if (setup.followDevices) {
        watch = std::make_unique<platform::DeviceWatch>();
        if (watch->Active()) {
            options.deviceEvents = [w = watch.get()] { return w->Drain(); };
        } else {
            run.err << "raidctl: udev cannot be reached: enclosures plugged in or removed "
                       "later are not noticed\n";
        }
    }
    return RunMonitor(run, plan, options);
}

}  // namespace raid::service
