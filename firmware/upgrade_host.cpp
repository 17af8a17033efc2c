#include "firmware/upgrade_host.h"

namespace raid::firmware {

discovery::Notices NoticesFor(UpgradeHost& host) {
    discovery::Notices notices;
    notices.message = [&host](const std::string& text, const std::string& caption) {
        host.ShowMessage({text, caption, MessageIcon::None});
    };
    notices.statusText = [&host](const std::string& text) { host.SetStatusText(text); };
    return notices;
}

}  // namespace raid::firmware
