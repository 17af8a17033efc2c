#pragma once
// What a flash operation needs from whoever runs it: the window (through
// UpgradeController), raidctl, or a test. Every call is made on the thread
// that runs the operation, from inside it.
#include <cstdint>
#include <string>

#include "discovery/notices.h"
#include "firmware/message.h"

namespace raid::firmware {

class UpgradeHost {
public:
    virtual ~UpgradeHost() = default;

    // Status bar panel 4, the last-result line.
    virtual void SetStatusText(const std::string& text) = 0;
    // A modal message; returns once it has been seen (at once, headless).
    virtual void ShowMessage(const Message& message) = 0;
    // The device selectors ("Device1", "Device2") take clicks or not.
    virtual void SetSelectorsEnabled(bool enabled) = 0;

    // The progress display: BeginProgress shows `label`, sets the bar to
    // 0 of `maximum` and starts the once-a-second refresh from the
    // progress counter; ShowPhase shows the phase panel with `caption`
    // ("Process 1 / 3"); SetProgress moves the bar; EndProgress stops the
    // refresh and hides the phase panel.
    virtual void BeginProgress(const std::string& label, std::uint32_t maximum) = 0;
    virtual void ShowPhase(const std::string& caption) = 0;
    virtual void SetProgress(std::uint32_t position) = 0;
    virtual void EndProgress() = 0;

    // Lets the window breathe; called before every single-sector read.
    virtual void Pump() = 0;
    // The program is ending: an operation that has not touched the flash
    // yet does not start.
    virtual bool IsClosing() const = 0;
};

// A host that shows nothing: for tools that only want the result.
class QuietUpgradeHost : public UpgradeHost {
public:
    void SetStatusText(const std::string&) override {}
    void ShowMessage(const Message&) override {}
    void SetSelectorsEnabled(bool) override {}
    void BeginProgress(const std::string&, std::uint32_t) override {}
    void ShowPhase(const std::string&) override {}
    void SetProgress(std::uint32_t) override {}
    void EndProgress() override {}
    void Pump() override {}
    bool IsClosing() const override { return false; }
};

// The range loops' status texts and messages, routed to `host`.
discovery::Notices NoticesFor(UpgradeHost& host);

}  // namespace raid::firmware
