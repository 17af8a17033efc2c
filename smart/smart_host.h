#pragma once
// What ReadSmart needs from the main window. The window implements it with
// its widgets, headless tools and tests with QuietSmartHost or a fake. Every
// call is made on the main thread from inside ReadSmart and returns promptly
// (no device I/O, no modal dialogs).
namespace raid::smart {

class SmartHost {
public:
    virtual ~SmartHost() = default;

    // True while the status page is being redrawn for a newly selected
    // device; no SMART read starts meanwhile.
    virtual bool DeviceSwitchInProgress() const = 0;
    // Device selector `index` (0 "Device1", 1 "Device2") is ticked.
    virtual bool IsSelectorChecked(int index) const = 0;
    // The device the status page shows (0 or 1): the current device again
    // once the read is done.
    virtual int SelectedDevice() const = 0;
    // The SMART page is the page shown.
    virtual bool SmartPageShown() const = 0;
    // Redraws the SMART page from the tables (after a data read).
    virtual void ShowSmartPage() = 0;
};

// A host without a window: both selectors ticked, device 0 selected, no
// page shown.
class QuietSmartHost final : public SmartHost {
public:
    bool DeviceSwitchInProgress() const override { return false; }
    bool IsSelectorChecked(int) const override { return true; }
    int SelectedDevice() const override { return 0; }
    bool SmartPageShown() const override { return false; }
    void ShowSmartPage() override {}
};

}  // namespace raid::smart
