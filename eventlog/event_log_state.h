#pragma once
// What event detection remembers between polls: the day's lines, the states
// and rebuild progress last logged per device, and the day file's bookkeeping.
// Owned by the main window next to AppState; main thread only.
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/state.h"
#include "eventlog/log_file.h"

namespace raid::eventlog {

inline constexpr std::uint8_t kNoneLogged = 0xFF;

struct EventLogState {
    // The current day's log, as shown by the viewer. Only appended to during a
    // day; cleared (or reloaded) when a new day's file begins.
    std::vector<std::string> eventLogLines;

    // Per device index: the DiskStateFlags last accounted for (0xFF before the
    // first snapshot, compared as 0), the percent of the last rebuild progress
    // line (0xFF = none) and its direction (0 = HDD1 was being rebuilt).
    std::array<std::uint8_t, kDeviceSlots> loggedDiskState{kNoneLogged, kNoneLogged, kNoneLogged,
                                                           kNoneLogged};
    std::array<std::uint8_t, kDeviceSlots> lastLoggedPercent{kNoneLogged, kNoneLogged, kNoneLogged,
                                                             kNoneLogged};
    std::array<std::uint8_t, kDeviceSlots> rebuildDirection{};

    // The day file the lines belong to (empty before the first call).
    std::filesystem::path logPath;
    // The day's file exists but could not be read: its lines are merged in
    // before the next save, and until then it is not overwritten.
    bool loadPending = false;
    // The file lacks lines that are in memory (the last save failed).
    bool saveOwed = false;
    // A read or write failure was reported and no save has succeeded since.
    bool errorReported = false;
    // The start header went into the log. The first full status refresh may
    // come late (no device ticked, another page shown); the header must not
    // repeat at every poll meanwhile.
    bool startLogged = false;
    LogFileWriter writer;
};

}  // namespace raid::eventlog
