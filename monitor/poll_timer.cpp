#include "monitor/poll_timer.h"

namespace raid::monitor {

void Timer2Tick(AppState& state) {
    auto& s = state.shell;
    const bool blocked = s.DeviceChangeCountdown.load() != 0 || s.Detecting.load() ||
                         s.StatusPollActive.load() || s.ExclusiveOperation.load() ||
                         s.Closing.load();
    if (!blocked) {
        if ((s.PollRequestFlags.load() & poll::kTimerArmed) != 0)
            s.PollRequestFlags.fetch_or(poll::kStatusPoll);
        else
            s.PollRequestFlags = poll::kTimerArmed;
        return;
    }
    // After an upgrade the poll starts again one tick after re-arming.
    if (s.ExclusiveOperation.load())
        s.PollRequestFlags.fetch_and(static_cast<std::uint8_t>(~poll::kTimerArmed));
}

}  // namespace raid::monitor
