#pragma once
// The mail thread. When MailRequestFlags asks for anything it hands the mail
// pass (settings reload, composing the next waiting notification) to the main
// thread, then sends the composed notification itself: the window never
// waits on the network, and sees only the send's stages and its end.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/hand_over.h"
#include "app/shell_context.h"
#include "app/worker_thread.h"
#include "mail/mail_pass.h"
#include "mail/smtp_client.h"

namespace raid::app {

class MailThread {
public:
    // What the thread hands to the main thread; each runs there, through the
    // gate, and only while the gate is open.
    struct MainThreadWork {
        // MailPass: the job it composed, if any.
        std::function<std::optional<mail::MailJob>()> mailPass;
        // A status-bar text of a stage of the send.
        std::function<void(int panel, const std::string& text)> statusText;
        // The end of a send.
        std::function<void(const mail::SendReport& report)> sendEnded;
    };

    // `options` configure every send; their stop flag is the thread's own.
    MailThread(std::shared_ptr<ShellContext> context, std::shared_ptr<HandOverGate> gate,
               MainThreadWork work, mail::SmtpOptions options);

    void Start();
    // A send under way ends at its next look at the stop flag (100 ms).
    void Halt() { thread_.Halt(); }
    bool Finish(std::chrono::milliseconds limit) { return thread_.Finish(limit); }
    bool Ended() const { return thread_.Ended(); }

    // One turn of the loop before its 200 ms sleep, on the calling thread
    // (the mail thread; tests use one of their own): the report of the
    // notification it sent, or nullopt when it sent none.
    static std::optional<mail::SendReport> Pass(const ShellFlags& flags, HandOverGate& gate,
                                                const MainThreadWork& work,
                                                const mail::SmtpOptions& options);

private:
    std::shared_ptr<ShellContext> context_;
    std::shared_ptr<HandOverGate> gate_;
    MainThreadWork work_;
    mail::SmtpOptions options_;
    WorkerThread thread_;
};

}  // namespace raid::app
