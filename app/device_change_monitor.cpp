#include "app/device_change_monitor.h"

#include <libudev.h>

#include <QSocketNotifier>

namespace raid::app {

DeviceChangeMonitor::DeviceChangeMonitor(QObject* parent) : QObject(parent) {
    udev_ = udev_new();
    if (udev_ == nullptr) return;
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (monitor_ == nullptr) return;
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "usb", nullptr) < 0 ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor_, "block", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor_) < 0) {
        return;
    }
    const int fd = udev_monitor_get_fd(monitor_);
    if (fd < 0) return;
    notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &DeviceChangeMonitor::Drain);
}

DeviceChangeMonitor::~DeviceChangeMonitor() {
    delete notifier_;
    if (monitor_ != nullptr) udev_monitor_unref(monitor_);
    if (udev_ != nullptr) udev_unref(udev_);
}

void DeviceChangeMonitor::Drain() {
    // Read every queued event so the notifier does not fire again for them;
    // one signal per wake-up is enough, since each one restarts the same
    // countdown.
    bool any = false;
    while (udev_device* device = udev_monitor_receive_device(monitor_)) {
        udev_device_unref(device);
        any = true;
    }
    if (any) Q_EMIT deviceChanged();
}

}  // namespace raid::app
