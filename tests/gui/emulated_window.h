#pragma once
// A main window against emulated enclosures for programs that drive it by
// hand (pictures for the documentation, benchmarks): no worker threads, no
// udev, the day's event log in a folder that is gone afterwards. Needs a
// QApplication.
#include <QTemporaryDir>
#include <functional>
#include <memory>

#include "app/main_window.h"
#include "discovery/probe.h"
#include "monitor/dispatcher.h"
#include "platform/clock.h"
#include "sim/sim_disks.h"

namespace raid::app::test_support {

class EmulatedWindow {
public:
    // `settingsFile`: the e-mail settings; by default one in the log folder
    // (none there), never the machine's own. `configure` may change the
    // window's options before it is made.
    EmulatedWindow(std::shared_ptr<platform::Clock> clock,
                   std::shared_ptr<sim::SimDiskSystem> disks,
                   std::filesystem::path settingsFile = {},
                   const std::function<void(MainWindowOptions&)>& configure = {}) {
        if (settingsFile.empty()) settingsFile = logFolder_.path().toStdString() + "/settings.reg";
        MainWindowOptions options;
        options.context = std::make_shared<ShellContext>(std::move(clock), std::move(disks));
        options.context->programFolder = logFolder_.path().toStdString();
        options.settingsFile = settingsFile;
        options.startThreads = false;
        options.watchDevices = false;
        if (configure) configure(options);
        window_ = std::make_unique<MainWindow>(std::move(options));
    }
    EmulatedWindow(std::shared_ptr<platform::Clock> clock,
                   std::shared_ptr<sim::SimDiskSystem> disks,
                   const std::function<void(MainWindowOptions&)>& configure)
        : EmulatedWindow(std::move(clock), std::move(disks), std::filesystem::path(), configure) {}

    MainWindow& window() { return *window_; }

    // What the detection thread and the device-change tick would do, then
    // the monitoring thread until no request is left: discovery, the first
    // status poll and both SMART reads.
    void DiscoverAndServe() {
        discovery::ServeDetectRequest(window_->state(), window_->context().channel);
        window_->onDeviceChangeTick();
        for (int i = 0; i < 16 && monitor::WorkerShouldDispatch(window_->state()); ++i)
            window_->serveMonitorRequest();
    }

private:
    QTemporaryDir logFolder_;
    std::unique_ptr<MainWindow> window_;
};

}  // namespace raid::app::test_support
