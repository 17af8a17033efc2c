#include "app/mail_thread.h"

namespace raid::app {

MailThread::MailThread(std::shared_ptr<ShellContext> context, std::shared_ptr<HandOverGate> gate,
                       MainThreadWork work, mail::SmtpOptions options)
    : context_(std::move(context)),
      gate_(std::move(gate)),
      work_(std::move(work)),
      options_(std::move(options)) {}

std::optional<mail::SendReport> MailThread::Pass(const ShellFlags& flags, HandOverGate& gate,
                                                 const MainThreadWork& work,
                                                 const mail::SmtpOptions& options) {
    const auto runPass = [&] {
        std::optional<mail::MailJob> job;
        gate.Run([&] { job = work.mailPass(); });
        return job;
    };
    const mail::SmtpEvents events = [&](mail::SmtpEvent event) {
        if (const auto text = mail::StatusBarText(event)) {
            gate.Run([&] { work.statusText(text->panel, text->text); });
        }
    };
    auto report = mail::ServeMailRequests(flags, runPass, options, events);
    if (report) gate.Run([&] { work.sendEnded(*report); });
    return report;
}

void MailThread::Start() {
    // Everything the loop touches is its own or held by shared pointer, so a
    // thread let go at exit (a host name lookup that hangs) finds it alive;
    // the window itself is reached only through the gate.
    thread_.Start([context = context_, gate = gate_, work = work_,
                   options = options_](const std::atomic<bool>& stop) mutable {
        options.stop = &stop;
        while (!stop.load()) {
            Pass(context->state.shell, *gate, work, options);
            context->clock->SleepMs(200);
        }
    });
}

}  // namespace raid::app
