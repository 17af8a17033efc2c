#pragma once
// What Timer4Tick needs from the main window and the rest of the program.
// The window implements it with its widgets; tests implement it with a fake
// that records the calls. Every call is made on the main thread, from inside
// Timer4Tick, and must return promptly (no modal dialogs, no device I/O).
#include <string>

#include "common/state.h"

namespace raid::discovery {

class DiscoveryHost {
public:
    virtual ~DiscoveryHost() = default;

    // --- Status bar ---
    // StatusBar1 panel `panel` (0..4) shows `text`.
    virtual void SetStatusPanel(int panel, const std::string& text) = 0;

    // --- Device selectors ---
    // Selector `index` (0: CheckBox1 "Device1" with Image0_D1 and Image2_D1;
    // 1: CheckBox3 "Device2" with Image0_D2 and Image2_D2). present = true:
    // the check box is shown and ticked and both images shown; false: the
    // check box is hidden and unticked and both images hidden.
    virtual void SetDeviceSelector(int index, bool present) = 0;

    // --- StaticText1 (the "Drive detecting" / "No Drive found! " line) ---
    virtual std::string StaticText1Text() const = 0;
    virtual bool StaticText1Visible() const = 0;
    virtual void SetStaticText1Text(const std::string& text) = 0;
    virtual void SetStaticText1Visible(bool visible) = 0;

    // --- Page buttons and pages ---
    // The eight page images: Image_Sts, Image_Setup, Image_FWUpg,
    // Image_Email, Image_SMART, Image_About, Image2_Load, Image2_Upgrade.
    virtual void SetPageImagesEnabled(bool enabled) = 0;
    // Image2_Upgrade alone (kept disabled while a discovery runs).
    virtual void SetUpgradeImageEnabled(bool enabled) = 0;
    // Image0_Log becomes visible.
    virtual void ShowLogImage() = 0;
    // Redraws the device summary of the status page from the records.
    virtual void RefreshDeviceSummary() = 0;
    // Switches to the status page.
    virtual void ShowStatusPage() = 0;
    // The status page's time reference for the first status (the time the
    // first device's identification last changed).
    virtual void SetStatusTimeReference(TimePoint when) = 0;

    // --- Timers ---
    // Timer2 (status poll) and Timer3 (clock and SMART countdown) start.
    virtual void EnablePollTimers() = 0;
    // Timer3 stops (no device left to show).
    virtual void DisableTimer3() = 0;

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
