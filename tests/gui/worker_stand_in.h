#pragma once
// Stands in for the monitoring thread while code under test waits with the
// window's message pump: each sleep of the manual clock posts one hand-over
// of the dispatcher, which the next pump serves, as the thread's blocking
// hand-over would be served.
#include <QMetaObject>
#include <memory>

#include "app/main_window.h"
#include "monitor/dispatcher.h"
#include "platform/clock.h"

namespace raid::app::test {

class WorkerStandIn {
public:
    WorkerStandIn(MainWindow& window, platform::ManualClock& clock) : clock_(clock) {
        clock_.onSleep = [&window, alive = alive_](std::uint64_t) {
            QMetaObject::invokeMethod(
                &window,
                [&window, alive] {
                    if (*alive && monitor::WorkerShouldDispatch(window.state()))
                        window.serveMonitorRequest();
                },
                Qt::QueuedConnection);
        };
    }
    // Hand-overs still posted come to nothing: the thread has stopped.
    ~WorkerStandIn() {
        *alive_ = false;
        clock_.onSleep = nullptr;
    }
    WorkerStandIn(const WorkerStandIn&) = delete;
    WorkerStandIn& operator=(const WorkerStandIn&) = delete;

private:
    platform::ManualClock& clock_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace raid::app::test
