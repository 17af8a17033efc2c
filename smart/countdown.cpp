#include "smart/countdown.h"

namespace raid::smart {

std::string CountdownText(bool dataReadPending, std::uint8_t secondsLeft) {
    if (dataReadPending || secondsLeft == 0) return "Updating...";
    return "Updates after " + std::to_string(secondsLeft) +
           (secondsLeft == 1 ? " second." : " seconds.");
}

std::optional<std::string> StepSmartCountdown(ShellFlags& shell, bool smartPageShown,
                                              bool thresholdsRead) {
    if (shell.deviceChangeCountdown.load() != 0 || shell.detecting.load() ||
        shell.exclusiveOperation.load() || shell.closing.load())
        return std::nullopt;

    const bool dataReadPending = (shell.pollRequestFlags.load() & poll::kSmartData) != 0;
    const std::uint8_t left = shell.smartCountdown.load();
    std::optional<std::string> text;
    if (smartPageShown) text = CountdownText(dataReadPending, left);

    if (dataReadPending) return text;
    if (left > 0) {
        shell.smartCountdown = static_cast<std::uint8_t>(left - 1);
    } else {
        shell.pollRequestFlags |=
            thresholdsRead ? poll::kSmartData
                           : static_cast<std::uint8_t>(poll::kSmartData | poll::kSmartThresholds);
        shell.smartCountdown = kRefreshSeconds;
    }
    return text;
}

}  // namespace raid::smart
