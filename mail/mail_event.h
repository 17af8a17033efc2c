#pragma once
// Raising a notification: the device block that tells what happened to which
// enclosure, the queue of notifications waiting to be mailed, and the request
// bit that the e-mail thread acts on.
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "common/state.h"

namespace raid::mail {

// MailRequestFlags bits (ShellFlags::MailRequestFlags).
inline constexpr std::uint8_t kRequestReload = 0x01;  // reload the settings
inline constexpr std::uint8_t kRequestSend = 0x02;    // send the waiting notifications

// Notification kinds; they select the templates.
inline constexpr std::uint8_t kKindDiskFail = 1;       // "Hard Disks Fail"
inline constexpr std::uint8_t kKindDeviceRemoved = 2;  // "Device Removed"
inline constexpr std::uint8_t kKindOverHeat = 3;       // "Over Heat"
inline constexpr std::uint8_t kKindFanFail = 4;        // "Fan Fail"

// Bit of a device's feature mask that stands for the E-mail page button.
inline constexpr std::uint8_t kFeatureEmail = 0x08;

// A notification raised and not yet mailed.
struct PendingNotification {
    std::uint8_t kind = kKindDiskFail;
    std::vector<std::string> eventInfoBlock;
};

// Notifications that may wait at once. Two enclosures losing everything
// raise six; far more come only from a member that keeps dropping out while
// a slow mail host holds the send, and then the first failures matter most:
// beyond the bound the newest are dropped and counted, and the next mail
// pass tells the count.
inline constexpr std::size_t kMaxPendingNotifications = 32;

// The mail subsystem's own part of the process-wide state.
struct MailState {
    std::vector<std::string> eventInfoBlock;     // the block RaiseMailEvent wrote last
    std::uint8_t mailEventKind = kKindDiskFail;  // the kind raised last
    // Waiting to be mailed, oldest first; each is sent in turn.
    std::deque<PendingNotification> pending;
    std::size_t droppedNotifications = 0;      // dropped at the bound, not yet told
    std::vector<std::string> systemInfoBlock;  // built once at start-up
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
// record), queues it with its kind behind the notifications already waiting
// (or counts it as dropped when kMaxPendingNotifications wait) and sets
// kRequestSend in MailRequestFlags.
void RaiseMailEvent(AppState& app, MailState& mail, const NotificationSettings& settings,
                    std::uint8_t kind, std::uint8_t deviceIndex, std::uint8_t value);

}  // namespace raid::mail
