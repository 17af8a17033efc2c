#pragma once
// The process-wide state that more than one subsystem reads: the shell's
// flags, the device tables of discovery and the status records of the
// monitor. The main window owns one AppState; subsystem functions take the
// parts they need by reference. Flags that two threads touch are atomic.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "common/version.h"
#include "platform/disk.h"

namespace raid {

inline constexpr int kMaxDisks = 10;        // physical disks 0..9 are probed
inline constexpr int kDeviceTableSize = 8;  // entries of DeviceTable
inline constexpr int kDeviceSlots = 4;      // per-device result tables
inline constexpr int kShownDevices = 2;     // "Device1", "Device2"
inline constexpr std::uint32_t kNoOperationDevice = 256;

inline constexpr std::uint32_t kDeviceEntryRecognised = 0x40;
inline constexpr std::uint32_t kDeviceEntryDiskMask = 0x0F;

using Record512 = std::array<std::uint8_t, 512>;
using TimePoint = std::chrono::system_clock::time_point;

// Flags and values of the application shell.
struct ShellFlags {
    std::atomic<bool> detectRequest{true};
    std::atomic<bool> detectBusy{true};
    std::atomic<bool> detectDone{false};
    std::atomic<bool> detecting{true};
    std::atomic<std::uint8_t> deviceChangeCountdown{0};
    std::atomic<bool> closing{false};
    std::atomic<bool> statusPollActive{false};
    std::atomic<bool> firstStatusPending{true};
    std::atomic<std::uint8_t> smartCountdown{60};
    std::atomic<std::uint8_t> pollRequestFlags{0};
    std::atomic<std::uint8_t> mailRequestFlags{0};
    std::atomic<bool> exclusiveOperation{false};
    std::atomic<std::uint32_t> operationDeviceIndex{kNoOperationDevice};
    TimePoint startTime{};
    TimePoint nowTime{};
    std::string versionText = kVersionText;
};

// PollRequestFlags bits.
namespace poll {
inline constexpr std::uint8_t kStatusPoll = 0x01;
inline constexpr std::uint8_t kPendingCommand = 0x02;
inline constexpr std::uint8_t kSmartThresholds = 0x08;
inline constexpr std::uint8_t kTimerArmed = 0x10;
inline constexpr std::uint8_t kSmartData = 0x20;
inline constexpr std::uint8_t kWakeMask = 0x2B;  // bits that wake the worker
}  // namespace poll

// One record of VolumeTable: a "drive letter" (a partition) and where it lies.
struct VolumeRecord {
    std::uint8_t letterIndex = 0;  // position in the drive list
    std::uint8_t driveType = 0;    // platform::DriveType
    std::uint8_t diskNumber = 0;   // low byte of the disk number
    std::uint64_t startBytes = 0;
    std::uint64_t lengthBytes = 0;
    std::string label;  // mount point or partition name
};

// DeviceSlot::optionCapability bit 0: the controller has a buzzer (its
// information reply says so), whose mute setting it reports and takes.
inline constexpr std::uint8_t kBuzzerCapability = 0x01;

// Results of discovery, per device index.
struct DeviceSlot {
    std::uint8_t optionCapability = 0;
    std::uint8_t featureMask = 0x3D;
    std::uint8_t portMultiplier = 0;
    std::uint8_t spiTypeByte = 0;
    std::uint8_t spiTypeRead =
        0;  // 1 when spiTypeByte came from the flash, 0 when that read failed
    std::uint8_t modelFromController = 0;
    std::uint8_t memberOrder = 0;  // 0 when identify byte 49 bit 4 is set
    std::uint8_t hasSensors = 0;
    std::uint8_t rebuildTracking = 0;
    std::uint8_t scheduleKind = 0;
    std::uint8_t scheduleBytes[3] = {0, 0, 0};
    std::uint8_t pageSelector = 0;
    // Poll bookkeeping.
    std::uint8_t optionChangePending = 0;
    std::uint8_t failureCount = 0;
};

struct DiscoveryState {
    std::vector<platform::VolumeInfo> driveLetterList;  // up to 24 "letters"
    int logicalDriveCount = 0;
    int physicalDiskCount = 0;
    std::vector<VolumeRecord> volumeTable;  // at most 20
    std::array<std::uint32_t, kDeviceTableSize> deviceTable{};
    int deviceCount = 0;
    std::array<std::uint32_t, kDeviceTableSize> newDeviceTable{};
    int newDeviceCount = 0;
    std::atomic<int> probeEntry{0};
    std::array<Record512, kMaxDisks> identifyRecord{};
    std::array<Record512, kMaxDisks> previousIdentifyRecord{};
    std::array<TimePoint, 16> identityChangedAt{};
    std::array<DeviceSlot, kDeviceSlots> deviceSlots{};
    bool deviceChangeRedraw = false;
    std::vector<std::string> deviceChangeLines;
    bool deviceChangeLinesPending = false;
    int currentDevice = 0;  // the current device index

    int DiskOf(int deviceIndex) const {
        return static_cast<int>(deviceTable[static_cast<std::size_t>(deviceIndex)] &
                                kDeviceEntryDiskMask);
    }
};

// DiskStateFlags bits.
namespace diskstate {
inline constexpr std::uint8_t kHdd1Inserted = 0x01;
inline constexpr std::uint8_t kHdd1Present = 0x02;
inline constexpr std::uint8_t kHdd1Absent = 0x04;
inline constexpr std::uint8_t kHdd1Failed = 0x08;
inline constexpr std::uint8_t kHdd2Inserted = 0x10;
inline constexpr std::uint8_t kHdd2Present = 0x20;
inline constexpr std::uint8_t kHdd2Absent = 0x40;
inline constexpr std::uint8_t kHdd2Failed = 0x80;
}  // namespace diskstate

// DeviceStatusRecord byte offsets.
namespace rec {
inline constexpr std::size_t kDiskNumber = 0;
inline constexpr std::size_t kFilledMark = 1;
inline constexpr std::size_t kHdd1State = 30;
inline constexpr std::size_t kHdd2State = 31;
inline constexpr std::size_t kOptionBits = 56;
inline constexpr std::size_t kArrayMode = 57;
inline constexpr std::size_t kHdd1Serial = 58;
inline constexpr std::size_t kHdd2Serial = 78;
inline constexpr std::size_t kConfiguredCapacity = 98;
inline constexpr std::size_t kDiskStateFlags = 104;
inline constexpr std::size_t kRebuildFlags = 105;
inline constexpr std::size_t kRebuildPercent = 106;
inline constexpr std::size_t kFamilyCode = 108;
inline constexpr std::size_t kSchedule = 190;
inline constexpr std::size_t kHdd1Model = 256;
inline constexpr std::size_t kHdd1Capacity = 296;
inline constexpr std::size_t kHdd2Model = 302;
inline constexpr std::size_t kHdd2Capacity = 342;
inline constexpr std::size_t kEnvironment = 348;
inline constexpr std::size_t kFanLow = 349;
inline constexpr std::size_t kFanHigh = 350;
inline constexpr std::size_t kTemperature = 351;
inline constexpr std::size_t kSataSpeed = 357;
inline constexpr std::size_t kBadSectorCount = 471;
}  // namespace rec

// Bits of DeviceStatusRecord bytes.
namespace recbits {
inline constexpr std::uint8_t kBuzzerSounding = 0x01;  // kOptionBits: set when not muted
inline constexpr std::uint8_t kFanFailure = 0x01;      // kEnvironment
inline constexpr std::uint8_t kOverTemperature = 0x04;
inline constexpr std::uint8_t kSensorsMask = 0xF0;
inline constexpr std::uint8_t kSensors = 0xA0;  // discovery found fan and temperature
inline constexpr std::uint8_t kNotAReading = 0xAA;
inline constexpr std::uint8_t kHdd1Rebuilding = 0x01;  // kRebuildFlags
inline constexpr std::uint8_t kHdd2Rebuilding = 0x02;
}  // namespace recbits

// A settings command (buzzer mute, backup period) waiting for the worker.
struct QueuedSetting {
    std::uint32_t ticket = 0;
    std::uint8_t code = 0;
    std::array<std::uint8_t, 3> params{0xCF, 0xDF, 0xEF};  // codes 0x76..0x78 use them
    int device = -1;      // device index; -1: the selected device when it is sent
    bool report = false;  // its result is filed for the sender to take
};

// What became of a queued settings command.
struct SettingResult {
    bool sent = false;        // it reached the controller
    std::uint8_t answer = 0;  // the controller's result code when sent
};

struct MonitorState {
    std::array<Record512, kMaxDisks> deviceStatusRecord{};
    std::uint8_t requestInProgress = 0;
    // A monitoring request (poll, settings command, SMART read) is being
    // served; its device work pumps window events, and a discovery must not
    // be started or applied meanwhile.
    std::atomic<bool> serving{false};
    std::uint8_t changedDeviceMask = 0;
    std::uint32_t pollCounter = 0;
    // The settings commands queued by the pages, sent in order by the worker.
    // Each keeps its parameter bytes: a discovery that sends its own
    // parameterised query meanwhile cannot change them.
    std::deque<QueuedSetting> settingQueue;
    // How each sent command whose sender waits for it went, by ticket.
    std::vector<std::pair<std::uint32_t, SettingResult>> settingResults;
    std::uint32_t lastSettingTicket = 0;
    std::vector<std::string> settingsLogLines;
};

struct AppState {
    ShellFlags shell;
    DiscoveryState discovery;
    MonitorState monitor;
};

}  // namespace raid
