#pragma once
// What the program tells of an enclosure, as plain values: the same records
// whether the enclosure was read in this process or by the service.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "smart/attributes.h"

namespace raid::client {

// One member disk as the status record describes it.
struct MemberStatus {
    std::string name;  // "HDD1", "HDD2"
    std::uint8_t stateCode = 0;
    std::string stateClass;  // "present", "inserted", "absent", "failed" or "none"
    // The class bits of the record (common/state.h diskstate, in HDD1's place).
    std::uint8_t stateFlags = 0;
    bool rebuilding = false;
    std::string model;  // trimmed, for lists and scripts
    // The model as the disk reports it, not trimmed: what the Status page shows.
    std::string reportedModel;
    std::string serial;
    // The record keeps a serial text (a bay whose disk left keeps showing it).
    bool serialKept = false;
    std::uint64_t capacity = 0;  // sectors

    bool operator==(const MemberStatus&) const = default;
};

// One device: identification from discovery, state from its status record.
struct DeviceStatus {
    int index = 0;
    int disk = 0;
    std::string path;
    std::string model;
    std::string firmware;
    // The name it keeps across replugging (service/enclosure_status.h); the
    // service binds an authorization to it.
    std::string identity;
    bool polled = false;  // Device1/Device2 selected for this run
    bool pollOk = false;  // every query of the poll succeeded
    std::uint8_t arrayMode = 0;
    std::uint64_t configuredCapacity = 0;
    MemberStatus members[2];
    std::uint8_t rebuildPercent = 0;
    // The controller reports fan and temperature: discovery found sensors, or
    // its firmware has them.
    bool sensorsKnown = false;
    bool sensorsRead = false;  // the record holds a reading of them
    bool sensors = false;      // both: the reading is worth showing
    std::uint32_t fanRpm = 0;
    std::uint8_t temperature = 0;
    bool fanFailure = false;
    bool overTemperature = false;
    bool buzzerKnown = false;  // the controller reports its buzzer
    bool buzzerMuted = false;
    bool buzzerChangePending = false;  // asked, not read back yet
    // "<controller model> [<volume labels>]", as the window's tooltips and
    // title name the enclosure.
    std::string hint;
    std::uint8_t pages = 0;         // the page buttons the controller offers
    bool backupKnown = false;       // the enclosure has schedule backup
    std::uint8_t backupPeriod = 0;  // in period units; 0 = off
    std::uint8_t backupUnitHours = 0;
    std::vector<std::uint8_t> backupPresets;  // 4: off, then presets 1..3, in units
    bool userPeriodKnown = false;             // periods other than the presets
    std::uint32_t backupWaitMinutes = 0;      // to the next backup
    bool backingUp = false;
    // The records the above is read from, for a window that draws them as it
    // does in this process (client/status_wire.h packs the slot).
    std::uint32_t tableEntry = 0;              // the device table's entry
    std::vector<std::uint8_t> identifyRecord;  // 512 bytes
    std::vector<std::uint8_t> statusRecord;    // 512 bytes
    std::vector<std::uint8_t> discoverySlot;   // what discovery learnt of the device

    bool operator==(const DeviceStatus&) const = default;
};

// What a poll and discovery show beside the enclosures, as the window
// shows it: the status bar's panels and the detection notice. Only the
// engine in the window's own process tells it; the service does not.
struct PollTexts {
    std::array<std::string, 5> panels;
    std::uint8_t panelsSet = 0;  // bit n: panel n was set at least once
    std::string notice;          // "Drive detecting", or empty
    bool noticeVisible = false;
    bool detecting = false;  // a discovery is under way: the notice blinks

    bool operator==(const PollTexts&) const = default;
};

// One member disk's SMART: the sectors as the controller sent them, and the
// attribute rows and verdict the engine decoded from them.
struct SmartMemberSectors {
    std::string name;  // "HDD1", "HDD2"
    bool present = false;
    std::string model;
    std::uint32_t word106Code = 0;
    std::vector<std::uint8_t> data;        // the 512-byte data sector
    std::vector<std::uint8_t> thresholds;  // the 512-byte threshold sector
    smart::SmartView view;
};

struct SmartSectors {
    int index = 0;  // as discovery numbered the enclosures: 0 = Device1
    int disk = 0;
    std::string path;
    std::string model;
    bool thresholdsRead = false;  // each read reached every present member
    bool dataRead = false;
    std::array<SmartMemberSectors, 2> members;
};

// A firmware job of the service, as its object tells it.
struct JobRecord {
    std::string path;
    int index = -1;  // the enclosure: 0 = Device1
    bool finished = false;
    int outcome = 0;  // raidctl flash's exit code, once finished
    std::vector<std::string> notes;
    std::uint32_t progress = 0;
    std::uint32_t total = 0;
};

}  // namespace raid::client
