#pragma once
// What the firmware subsystem keeps: the loaded image and the progress of
// the flash operation under way. The main window owns one FirmwareState
// beside its AppState (common/ must not depend on firmware/).
#include <cstdint>

#include "firmware/firmware_image.h"

namespace raid::firmware {

struct FirmwareState {
    FirmwareImage image;
    // Flash chunks (and erase steps) done since the operation started; the
    // window's once-a-second progress refresh reads it. Main thread only.
    std::uint32_t progressCounter = 0;
};

}  // namespace raid::firmware
