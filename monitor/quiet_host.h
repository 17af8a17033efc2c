#pragma once
// A MonitorHost without a window, for headless tools and benchmarks: every
// device below the device count is monitored, no page is shown, messages and
// the status bar go nowhere, and event detection is left out.
#include <array>
#include <string>

#include "monitor/monitor_host.h"

namespace raid::monitor {

class QuietMonitorHost : public MonitorHost {
public:
    // Selectors start ticked; -1 as page means "no page".
    std::array<bool, kShownDevices> selectors{true, true};
    int page = -1;
    int selected = 0;

    void SetStatusPanel(int, const std::string&) override {}
    void Pump() override {}
    bool IsSelectorChecked(int index) const override {
        return index >= 0 && index < kShownDevices && selectors[static_cast<std::size_t>(index)];
    }
    void UncheckSelector(int index) override {
        if (index >= 0 && index < kShownDevices) selectors[static_cast<std::size_t>(index)] = false;
    }
    int CurrentPage() const override { return page; }
    int SelectedDevice() const override { return selected; }
    bool DeviceSwitchInProgress() const override { return false; }
    void DetectEvents(std::uint8_t) override {}
    void RefreshStatusPage(bool) override {}
    void RefreshSetupPage() override {}
    void Message(const std::string&, const std::string&) override {}
    std::string TimeStampText(TimePoint) override { return {}; }
};

}  // namespace raid::monitor
