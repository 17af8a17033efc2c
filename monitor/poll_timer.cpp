#include "monitor/poll_timer.h"

namespace raid::monitor {

void OnPollTick(AppState& state) {
    auto& s = state.shell;
    const bool blocked = s.deviceChangeCountdown.load() != 0 || s.detecting.load() ||
                         s.statusPollActive.load() || s.exclusiveOperation.load() ||
                         s.closing.load();
    if (!blocked) {
        if ((s.pollRequestFlags.load() & poll::kTimerArmed) != 0)
            s.pollRequestFlags.fetch_or(poll::kStatusPoll);
        else
            s.pollRequestFlags = poll::kTimerArmed;
        return;
    }
    // After an upgrade the poll starts again one tick after re-arming.
    if (s.exclusiveOperation.load())
        s.pollRequestFlags.fetch_and(static_cast<std::uint8_t>(~poll::kTimerArmed));
}

}  // namespace raid::monitor
