#pragma once
// The once-a-minute SMART refresh: the countdown the window's one-second
// timer steps, and the text the SMART page shows for it.
#include <cstdint>
#include <optional>
#include <string>

#include "common/state.h"

namespace raid::smart {

inline constexpr std::uint8_t kRefreshSeconds = 60;

// "Updating..." while a data read is pending or the countdown is at 0,
// otherwise "Updates after N seconds." ("Updates after 1 second." for 1).
std::string CountdownText(bool dataReadPending, std::uint8_t secondsLeft);

// One tick of the countdown (main thread). Skipped entirely (nullopt) while
// a device change settles, discovery runs, an exclusive operation holds a
// device or the window closes. Otherwise returns the label text when the
// SMART page is shown, and steps: nothing while a data read is pending; the
// countdown goes down by one; at 0 it requests the data read (and the
// threshold read first unless the thresholds were read) and starts again at
// 60.
std::optional<std::string> StepSmartCountdown(ShellFlags& shell, bool smartPageShown,
                                              bool thresholdsRead);

}  // namespace raid::smart
