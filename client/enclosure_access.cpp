#include "client/enclosure_access.h"

namespace raid::client {

void NoteUnansweredPolls(StatusAnswer& answer) {
    for (const DeviceStatus& s : answer.devices) {
        if (!s.polled || s.pollOk) continue;
        answer.outcome = kFailed;
        answer.notes.push_back("Device" + std::to_string(s.index + 1) + " (disk " +
                               std::to_string(s.disk) +
                               (s.path.empty() ? "" : " (" + s.path + ")") +
                               ") did not answer the status poll");
    }
}

}  // namespace raid::client
