#pragma once
// Raising a notification: the device block that tells what happened to which
// enclosure, and the request bit that the e-mail thread acts on.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/state.h"

namespace raid::mail {

// MailRequestFlags bits (ShellFlags::MailRequestFlags).
inline constexpr std::uint8_t kRequestReload = 0x01;  // reload the settings
inline constexpr std::uint8_t kRequestSend = 0x02;    // send the pending notification

// Notification kinds; they select the templates.
inline constexpr std::uint8_t kKindDiskFail = 1;       // "Hard Disks Fail"
inline constexpr std::uint8_t kKindDeviceRemoved = 2;  // "Device Removed"
inline constexpr std::uint8_t kKindOverHeat = 3;       // "Over Heat"
inline constexpr std::uint8_t kKindFanFail = 4;        // "Fan Fail"

// Bit of a device's feature mask that stands for the E-mail page button.
inline constexpr std::uint8_t kFeatureEmail = 0x08;

// The mail subsystem's own part of the process-wide state.
struct MailState {
    std::vector<std::string> eventInfoBlock;     // written by RaiseMailEvent
    std::uint8_t mailEventKind = kKindDiskFail;  // kind of the pending notification
    std::vector<std::string> systemInfoBlock;    // built once at start-up
    // SendBusy: set while a mail is being sent. Shared, because the send
    // runs on the mail thread and may outlive a closing window.
    std::shared_ptr<std::atomic<bool>> sendBusy = std::make_shared<std::atomic<bool>>(false);
};

// What RaiseMailEvent needs from the e-mail settings.
struct NotificationSettings {
    // Bit (kind - 1) set: the user chose not to be mailed about that kind.
    std::uint32_t suppressMask = 0;
};

// Called on the main thread when a member disk is lost (kind 1, value 0 for
// HDD1 and 1 for HDD2) or a device is no longer found (kind 2).
//
// Does nothing when the device has no E-mail page (feature mask bit 3 clear,
// or no per-device slot for the index). Otherwise clears EventInfoBlock;
// for a suppressed kind stops there; else writes the device block (left
// empty when the index is not below the device count or names no disk
// record) and records the kind and kRequestSend in MailRequestFlags.
void RaiseMailEvent(AppState& app, MailState& mail, const NotificationSettings& settings,
                    std::uint8_t kind, std::uint8_t deviceIndex, std::uint8_t value);

}  // namespace raid::mail
