#pragma once
// The mail thread: runs the settings reload and the notification send on the
// main thread when MailRequestFlags asks for them.
#include <functional>
#include <memory>

#include "app/hand_over.h"
#include "app/shell_context.h"
#include "app/worker_thread.h"

namespace raid::app {

class MailThread {
public:
    // `mailPass` is the e-mail handler, run on the main thread through
    // `gate`.
    MailThread(std::shared_ptr<ShellContext> context, std::shared_ptr<HandOverGate> gate,
               std::function<void()> mailPass);

    void Start();
    void Halt() { thread_.Halt(); }
    bool Finish(std::chrono::milliseconds limit) { return thread_.Finish(limit); }

    // One turn of the loop before its 200 ms sleep: true when the handler
    // was handed over.
    static bool Pass(const ShellFlags& flags, HandOverGate& gate,
                     const std::function<void()>& mailPass);

private:
    std::shared_ptr<ShellContext> context_;
    std::shared_ptr<HandOverGate> gate_;
    std::function<void()> mailPass_;
    WorkerThread thread_;
};

}  // namespace raid::app
