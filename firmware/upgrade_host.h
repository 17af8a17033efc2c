#pragma once
// What a flash operation needs from whoever runs it: the window (through
// UpgradeController), raidctl, or a test: what it shows (FlashStepSink) and
// more. Every call is made on the thread that runs the operation, from
// inside it.
#include <cstdint>
#include <string>

#include "discovery/notices.h"
#include "firmware/flash_step.h"
#include "firmware/message.h"

namespace raid::firmware {

class UpgradeHost : public FlashStepSink {
public:
    // The device selectors ("Device1", "Device2") take clicks or not.
    virtual void SetSelectorsEnabled(bool enabled) = 0;

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
