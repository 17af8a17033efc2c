#include "app/mail_thread.h"

namespace raid::app {

MailThread::MailThread(std::shared_ptr<ShellContext> context, std::shared_ptr<HandOverGate> gate,
                       std::function<void()> mailPass)
    : context_(std::move(context)), gate_(std::move(gate)), mailPass_(std::move(mailPass)) {}

bool MailThread::Pass(const ShellFlags& flags, HandOverGate& gate,
                      const std::function<void()>& mailPass) {
    if (flags.mailRequestFlags.load() == 0) return false;
    return gate.Run(mailPass);
}

void MailThread::Start() {
    thread_.Start(
        [context = context_, gate = gate_, mailPass = mailPass_](const std::atomic<bool>& stop) {
            while (!stop.load()) {
                Pass(context->state.shell, *gate, mailPass);
                context->clock->SleepMs(200);
            }
        });
}

}  // namespace raid::app
