#include "firmware/flash_step.h"

namespace raid::firmware {

void ReplayStep(const FlashStep& step, FlashStepSink& sink) {
    switch (step.kind) {
        case FlashStepKind::StatusText:
            sink.SetStatusText(step.text);
            return;
        case FlashStepKind::Message:
            sink.ShowMessage({step.text, step.caption, step.icon});
            return;
        case FlashStepKind::ProgressBegins:
            sink.BeginProgress(step.text, step.value);
            return;
        case FlashStepKind::Phase:
            sink.ShowPhase(step.caption);
            return;
        case FlashStepKind::Progress:
            sink.SetProgress(step.value);
            return;
        case FlashStepKind::ProgressEnds:
            sink.EndProgress();
            return;
    }
}

}  // namespace raid::firmware
