#pragma once
// What the status poll and the queued-command handler need from the main
// window. The window implements it with its widgets, raidctl with a quiet
// stand-in, tests with a fake that records the calls. Every call is made on
// the main thread from inside StatusPoll or ApplyPendingCommand.
#include <cstdint>
#include <string>

#include "common/state.h"

namespace raid::monitor {

// Pages of the main window's page stack, as CurrentPage() reports them.
inline constexpr int kPageStatus = 0;
inline constexpr int kPageSetup = 1;

class MonitorHost {
public:
    virtual ~MonitorHost() = default;

    // --- Status bar ---
    // Status bar panel `panel` (0..4) shows `text`.
    virtual void SetStatusPanel(int panel, const std::string& text) = 0;

    // --- Message pump ---
    // Lets pending window events run (timers, clicks); may be a no-op. A
    // handler run from here may set Closing or start an exclusive operation.
    virtual void Pump() = 0;

    // --- Device selectors (0: the "Device1" box, 1: the "Device2" box) ---
    virtual bool IsSelectorChecked(int index) const = 0;
    // Unticks selector `index`: monitoring of that device stops until the
    // user ticks it again.
    virtual void UncheckSelector(int index) = 0;

    // --- Pages ---
    // The page shown now (kPageStatus, kPageSetup or another page number).
    virtual int CurrentPage() const = 0;
    // The device shown on the status page (0 or 1).
    virtual int SelectedDevice() const = 0;
    // True while the status page is being redrawn for a newly selected
    // device; queued commands wait meanwhile.
    virtual bool DeviceSwitchInProgress() const = 0;

    // --- Calls out to other subsystems ---
    // Event detection with ChangedDeviceMask (also when it is 0).
    virtual void DetectEvents(std::uint8_t mask) = 0;
    // Redraws the status page; `full` redraws the members too.
    virtual void RefreshStatusPage(bool full) = 0;
    // Redraws the setup page's schedule-backup display.
    virtual void RefreshSetupPage() = 0;

    // --- Reporting ---
    // A modal message box with an OK button; `caption` may be empty (no
    // caption text).
    virtual void Message(const std::string& text, const std::string& caption) = 0;
    // `when` in the date-time format "c" (text::DateTimeFormatter).
    virtual std::string TimeStampText(TimePoint when) = 0;
};

}  // namespace raid::monitor
