#pragma once
// One thing a firmware upgrade shows, as a record: made where the upgrade
// runs (the service's job, raidctl's own flash) from its host's calls, sent
// across threads and the bus, and turned back into the same calls where it
// is shown (the window, raidctl).
#include <cstdint>
#include <string>

#include "firmware/message.h"

namespace raid::firmware {

// The numbers are the Job interface's Step signal's (docs/dbus-interface.md).
enum class FlashStepKind : std::uint32_t {
    StatusText = 0,      // text: the last-result line
    Message = 1,         // caption, text and icon of a modal message
    ProgressBegins = 2,  // text: the label; value: the steps the bar counts
    Phase = 3,           // caption: "Process 1 / 3"
    Progress = 4,        // value: the steps done
    ProgressEnds = 5,
};

struct FlashStep {
    FlashStepKind kind = FlashStepKind::StatusText;
    std::string caption{};
    std::string text{};
    std::uint32_t value = 0;
    MessageIcon icon = MessageIcon::None;

    bool operator==(const FlashStep&) const = default;
};

// Whoever shows an upgrade: one call for each kind of step. Every call is
// made on the thread that runs or follows the upgrade.
class FlashStepSink {
public:
    virtual ~FlashStepSink() = default;

    // Status bar panel 4, the last-result line.
    virtual void SetStatusText(const std::string& text) = 0;
    // A modal message; returns once it has been seen (at once, headless).
    virtual void ShowMessage(const Message& message) = 0;
    // The progress display: BeginProgress shows `label`, sets the bar to
    // 0 of `maximum` and starts the once-a-second refresh from the
    // progress counter; ShowPhase shows the phase panel with `caption`
    // ("Process 1 / 3"); SetProgress moves the bar; EndProgress stops the
    // refresh and hides the phase panel.
    virtual void BeginProgress(const std::string& label, std::uint32_t maximum) = 0;
    virtual void ShowPhase(const std::string& caption) = 0;
    virtual void SetProgress(std::uint32_t position) = 0;
    virtual void EndProgress() = 0;
};

// Makes the call `step` stands for on `sink`; a kind this program does not
// know (a newer service's) makes none.
void ReplayStep(const FlashStep& step, FlashStepSink& sink);

}  // namespace raid::firmware
