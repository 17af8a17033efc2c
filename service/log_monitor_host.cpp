#include "service/log_monitor_host.h"

#include <utility>

#include "eventlog/day_log.h"

namespace raid::service {

LogMonitorHost::LogMonitorHost(eventlog::EventLogContext context, LineSink sink,
                               DroppedHook dropped)
    : context_(std::move(context)), sink_(std::move(sink)), dropped_(std::move(dropped)) {
    page = monitor::kPageStatus;
}

void LogMonitorHost::OpenToday() {
    const auto path = eventlog::DayLogPath(context_.programFolder, context_.clock.WallNow());
    eventlog::OpenDay(log_, path, context_.app.shell.firstStatusPending.load(),
                      context_.reportLogError);
    handedOn_ = log_.eventLogLines.size();
    handedOnPath_ = log_.logPath;
}

void LogMonitorHost::SetStatusPanel(int panel, const std::string& text) {
    if (showPanel) showPanel(panel, text);
    // Blank texts only clear a panel in the window.
    if (trace && text.find_first_not_of(' ') != std::string::npos)
        trace("[" + std::to_string(panel) + "] " + text);
}

void LogMonitorHost::DetectEvents(std::uint8_t mask) {
    eventlog::DetectEvents(log_, context_, mask);
    HandOnNewLines();
}

void LogMonitorHost::HandOnNewLines() {
    const auto& lines = log_.eventLogLines;
    // A new day's list (fresh, or loaded from a file another program began)
    // is handed on from its start.
    if (log_.logPath != handedOnPath_ || lines.size() < handedOn_) {
        handedOn_ = 0;
        handedOnPath_ = log_.logPath;
    }
    for (std::size_t i = handedOn_; i < lines.size(); ++i) {
        if (sink_) sink_(lines[i]);
    }
    handedOn_ = lines.size();
}

void LogMonitorHost::RefreshStatusPage(bool) {
    // Nothing to draw: the first status has been "shown" once a poll reported
    // a device, so the next poll queries.
    context_.app.shell.firstStatusPending = false;
}

void LogMonitorHost::Message(const std::string& text, const std::string& caption) {
    if (showMessage) showMessage(text, caption);
}

void LogMonitorHost::UncheckSelector(int index) {
    const bool wasChecked = IsSelectorChecked(index);
    QuietMonitorHost::UncheckSelector(index);
    if (wasChecked && dropped_) dropped_(index);
}

std::string LogMonitorHost::TimeStampText(TimePoint when) {
    const text::DateTimeFormatter& format =
        context_.timeStamp ? context_.timeStamp : text::LocaleDateTimeFormatter();
    return format(when);
}

}  // namespace raid::service
