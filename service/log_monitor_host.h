#pragma once
// The MonitorHost of `raidctl monitor`: no window, but event detection runs
// after every poll as in the window program, and each line it adds to the
// day's log is handed on as it comes (raidctl prints them).
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>

#include "eventlog/detect_events.h"
#include "eventlog/event_log_state.h"
#include "monitor/quiet_host.h"

namespace raid::service {

class LogMonitorHost final : public monitor::QuietMonitorHost {
public:
    using LineSink = std::function<void(const std::string& line)>;
    // Called once when the poll gives up on a device (its selector is
    // unticked after repeated failures).
    using DroppedHook = std::function<void(int deviceIndex)>;

    // `context.app` is the state the polls work on; `sink` receives each new
    // log line. The status page counts as shown, so that the first poll's
    // refresh ends FirstStatusPending as the window's does.
    LogMonitorHost(eventlog::EventLogContext context, LineSink sink, DroppedHook dropped = {});

    // Takes up today's log before the first poll: lines already in the file
    // are kept in it but not handed on again.
    void OpenToday();

    // Receives what the poll would show in the window's status bar, step by
    // step; empty: nothing.
    std::function<void(const std::string& text)> trace;
    // Receives every panel text as it is set; empty: none.
    std::function<void(int panel, const std::string& text)> showPanel;
    // Receives each message box's text and caption; empty: none.
    std::function<void(const std::string& text, const std::string& caption)> showMessage;

    void SetStatusPanel(int panel, const std::string& text) override;
    void DetectEvents(std::uint8_t mask) override;
    void RefreshStatusPage(bool full) override;
    void UncheckSelector(int index) override;
    void Message(const std::string& text, const std::string& caption) override;
    std::string TimeStampText(TimePoint when) override;

    const eventlog::EventLogState& Log() const { return log_; }

private:
    void HandOnNewLines();

    eventlog::EventLogContext context_;
    LineSink sink_;
    DroppedHook dropped_;
    eventlog::EventLogState log_;
    // How many lines of which day's list were handed on.
    std::size_t handedOn_ = 0;
    std::filesystem::path handedOnPath_;
};

}  // namespace raid::service
