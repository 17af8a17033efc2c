#pragma once
// The three files raid-sim-fuse serves for one emulated enclosure, apart from
// FUSE itself: `disk` (sector reads go to the emulator one by one, in order),
// `control` (text commands) and `trace` (the read trace as text).
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "sim/emulator.h"

namespace raid::sim::fuse {

// 64 MiB: room for the separator block 0x5FFF and the low knock addresses.
inline constexpr std::uint64_t kDiskBytes = 64ull * 1024 * 1024;

class EnclosureFiles {
public:
    explicit EnclosureFiles(std::shared_ptr<ControllerEmulator> emulator);

    // Reads `out.size()` bytes of `disk` at `offset`. Every 512-byte sector
    // the range touches is read from the emulator once, in ascending order.
    // Returns the byte count (short at the end of the disk) or -errno.
    ssize_t ReadDisk(std::uint64_t offset, std::span<std::uint8_t> out);

    // One write to `control`: one or more lines, the last one may lack its
    // line end. Blank lines and lines starting with '#' are skipped; "clear"
    // clears the trace; every other line goes to ControllerEmulator::Control.
    // Stops at the first failing line and returns its error text, else "".
    std::string WriteControl(std::string_view text);

    // The read trace, one LBA a line as 0x-prefixed hex.
    std::string TraceText() const;
    void ClearTrace();

    ControllerEmulator& Emulator() { return *emulator_; }

private:
    std::shared_ptr<ControllerEmulator> emulator_;
};

// Builds the emulator from a scenario name (empty = "raid1") and, when
// `scenarioFile` is not empty, the lines of that file: an optional
// "scenario NAME" line before any other command picks the starting state,
// every further line is a control line as above. On failure returns null and
// sets `error` to a sentence naming the file and line.
std::shared_ptr<ControllerEmulator> MakeEmulator(const std::string& scenario,
                                                 const std::string& scenarioFile,
                                                 platform::Clock* clock, std::string& error);

}  // namespace raid::sim::fuse
