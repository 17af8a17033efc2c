#include "app/device_change_monitor.h"

#include <libudev.h>

#include <QSocketNotifier>
#include <optional>
#include <string>

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
    seedDisks();
    const int fd = udev_monitor_get_fd(monitor_);
    if (fd < 0) return;
    notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &DeviceChangeMonitor::drain);
}

DeviceChangeMonitor::~DeviceChangeMonitor() {
    delete notifier_;
    if (monitor_ != nullptr) udev_monitor_unref(monitor_);
    if (udev_ != nullptr) udev_unref(udev_);
}

namespace {

std::string Text(const char* value) { return value != nullptr ? value : ""; }

std::optional<std::string> SizeOf(udev_device* device) {
    const char* size = udev_device_get_sysattr_value(device, "size");
    if (size == nullptr) return std::nullopt;
    return std::string(size);
}

}  // namespace

void DeviceChangeMonitor::seedDisks() {
    udev_enumerate* list = udev_enumerate_new(udev_);
    if (list == nullptr) return;
    udev_enumerate_add_match_subsystem(list, "block");
    udev_enumerate_add_match_property(list, "DEVTYPE", "disk");
    if (udev_enumerate_scan_devices(list) == 0) {
        udev_list_entry* entry = nullptr;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(list)) {
            udev_device* device =
                udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry));
            if (device == nullptr) continue;
            filter_.Seed(Text(udev_device_get_sysname(device)), SizeOf(device));
            udev_device_unref(device);
        }
    }
    udev_enumerate_unref(list);
}

void DeviceChangeMonitor::drain() {
    // Read every queued event so the notifier does not fire again for them;
    // one signal per wake-up is enough, since each one restarts the same
    // countdown.
    bool any = false;
    while (udev_device* device = udev_monitor_receive_device(monitor_)) {
        any = filter_.Counts(Text(udev_device_get_action(device)),
                             Text(udev_device_get_subsystem(device)),
                             Text(udev_device_get_sysname(device)), SizeOf(device)) ||
              any;
        udev_device_unref(device);
    }
    if (any) Q_EMIT deviceChanged();
}

}  // namespace raid::app
