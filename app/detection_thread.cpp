#include "app/detection_thread.h"

#include "discovery/probe.h"

namespace raid::app {

DetectionThread::DetectionThread(std::shared_ptr<ShellContext> context, discovery::Notices notices)
    : context_(std::move(context)), notices_(std::move(notices)) {}

void DetectionThread::Start() {
    thread_.Start([context = context_, notices = notices_](const std::atomic<bool>& stop) {
        while (!stop.load()) {
            // A discovery checks Closing before every disk, so a halted
            // thread leaves it soon unless a disk itself stops answering.
            if (!discovery::ServeDetectRequest(context->state, context->detectionChannel,
                                               notices)) {
                context->clock->SleepMs(100);
            }
        }
    });
}

}  // namespace raid::app
