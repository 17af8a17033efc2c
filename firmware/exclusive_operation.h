#pragma once
// The exclusive-operation flag: while a flash operation holds a device, the
// status poll, discovery, SMART reads, the settings pages and the load and
// upgrade buttons leave the controller alone, and the device selectors take
// no clicks.
#include <cstdint>
#include <string>

#include "common/state.h"
#include "device/channel.h"
#include "discovery/notices.h"
#include "firmware/upgrade_host.h"

namespace raid::firmware {

// Sets the flag and disables the device selectors. False, and nothing done,
// when the flag was already set.
bool BeginExclusiveOperation(ShellFlags& shell, UpgradeHost& host);
// Operation device index := none; enables the selectors; clears the flag.
void EndExclusiveOperation(ShellFlags& shell, UpgradeHost& host);

// One flash operation from BeginExclusiveOperation to its end (at the
// latest when this object goes). While held, the channel pumps through the
// host, and the status texts this operation sets are remembered, so the
// operation can tell what panel 4 says.
class ExclusiveOperation {
public:
    ExclusiveOperation(AppState& state, device::CommandChannel& ch, UpgradeHost& host);
    ~ExclusiveOperation();
    ExclusiveOperation(const ExclusiveOperation&) = delete;
    ExclusiveOperation& operator=(const ExclusiveOperation&) = delete;

    // False when another operation held the flag: nothing may be done then.
    bool Held() const { return held_; }
    void End();

    // The device the range loops address (the operation device index).
    void SelectDevice(int deviceIndex);

    void SetStatus(const std::string& text);
    const std::string& Status() const { return status_; }
    // The range loops' texts and messages, through SetStatus and the host.
    const discovery::Notices& Notices() const { return notices_; }

private:
    AppState& state_;
    device::CommandChannel& ch_;
    UpgradeHost& host_;
    platform::PumpHook previousPump_;
    discovery::Notices notices_;
    std::string status_;
    bool held_ = false;
};

}  // namespace raid::firmware
