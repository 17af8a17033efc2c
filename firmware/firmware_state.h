#pragma once
// What the firmware subsystem keeps: the loaded image and the progress of
// the flash operation under way. The main window owns one FirmwareState
// beside its AppState (common/ must not depend on firmware/).
#include <cstdint>
#include <optional>

#include "firmware/checked_device.h"
#include "firmware/firmware_image.h"

namespace raid::firmware {

struct FirmwareState {
    FirmwareImage image;
    // The enclosure the image was checked against when it was loaded; none
    // when it was checked against no device. The upgrade refuses to flash
    // another one.
    std::optional<CheckedDevice> checkedFor;
    // Flash chunks (and erase steps) done since the operation started; the
    // window's once-a-second progress refresh reads it. Main thread only.
    std::uint32_t progressCounter = 0;
};

}  // namespace raid::firmware
