#pragma once
// What the device-change tick (OnDeviceChangeTick) needs from the main window
// and the rest of the program. The window implements it with its widgets;
// tests implement it with a fake that records the calls. Every call is made on
// the main thread, from inside OnDeviceChangeTick, and must return promptly
// (no modal dialogs, no device I/O).
#include <string>

#include "common/state.h"

namespace raid::discovery {

class DiscoveryHost {
public:
    virtual ~DiscoveryHost() = default;

    // --- Status bar ---
    // Status bar panel `panel` (0..4) shows `text`.
    virtual void SetStatusPanel(int panel, const std::string& text) = 0;

    // --- Device selectors ---
    // Selector `index` (0: the "Device1" box with the device's pictures on
    // the Status and Upgrade pages; 1: the "Device2" box with its pictures).
    // present = true: the check box is shown and ticked and both pictures
    // shown; false: the check box is hidden and unticked and both pictures
    // hidden.
    virtual void SetDeviceSelector(int index, bool present) = 0;

    // --- The detection notice (the "Drive detecting" / "No Drive found! "
    // line of the Status page) ---
    virtual std::string DetectionNoticeText() const = 0;
    virtual bool DetectionNoticeVisible() const = 0;
    virtual void SetDetectionNoticeText(const std::string& text) = 0;
    virtual void SetDetectionNoticeVisible(bool visible) = 0;

    // --- Page buttons and pages ---
    // The eight page buttons: the six page buttons of the column (Status,
    // Setup, Upgrade, E-mail, SMART, About) and the Upgrade page's load and
    // start-upgrade buttons.
    virtual void SetPageButtonsEnabled(bool enabled) = 0;
    // The start-upgrade button alone (kept disabled while a discovery runs).
    virtual void SetUpgradeButtonEnabled(bool enabled) = 0;
    // The Status page's event log button becomes visible.
    virtual void ShowEventLogButton() = 0;
    // Redraws the device summary of the status page from the records.
    virtual void RefreshDeviceSummary() = 0;
    // Switches to the status page.
    virtual void ShowStatusPage() = 0;
    // The status page's time reference for the first status (the time the
    // first device's identification last changed).
    virtual void SetStatusTimeReference(TimePoint when) = 0;

    // --- Timers ---
    // The status-poll tick and the clock and SMART countdown tick start.
    virtual void EnablePollTimers() = 0;
    // The clock and SMART countdown tick stops (no device left to show).
    virtual void StopSmartCountdown() = 0;

    // --- Drive counts for change detection ---
    // ListLogicalDrives and CountPhysicalDisks of the running system. The
    // window's implementation calls the functions of drive_enum.h so that
    // DriveLetterList is refreshed too.
    virtual int CountLogicalDrives() = 0;
    virtual int CountPhysicalDisks() = 0;

    // --- The rest of the program ---
    // Wall-clock time for IdentityChangedAt.
    virtual TimePoint Now() = 0;
    // Queues a notification (kind 2 = device removed, for `device`, member
    // `member`); returns at once, the mail is sent later by its own thread.
    virtual void RaiseMailEvent(int kind, int device, int member) = 0;
    // Lets pending window events run; may be a no-op.
    virtual void Pump() = 0;
};

}  // namespace raid::discovery
