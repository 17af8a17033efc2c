#include "platform/device_watch.h"

#include <libudev.h>
#include <unistd.h>

#include <optional>
#include <string>

namespace raid::platform {
namespace {

std::string Text(const char* value) { return value != nullptr ? value : ""; }

std::optional<std::string> SizeOf(udev_device* device) {
    const char* size = udev_device_get_sysattr_value(device, "size");
    if (size == nullptr) return std::nullopt;
    return std::string(size);
}

}  // namespace

DeviceWatch::DeviceWatch() {
    udev_ = udev_new();
    if (udev_ == nullptr) return;
    // Events come from udevd once it has set a device up. Without udevd (a
    // container, a minimal system) the kernel's own events are all there
    // is; devtmpfs has made the nodes by then, and the debounce waits
    // seconds before anything is opened.
    const bool udevd = ::access("/run/udev/control", F_OK) == 0;
    monitor_ = udev_monitor_new_from_netlink(udev_, udevd ? "udev" : "kernel");
    if (monitor_ == nullptr) return;
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "usb", nullptr) < 0 ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor_, "block", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor_) < 0) {
        return;
    }
    SeedDisks();
    // libudev makes the socket non-blocking, so Drain never waits.
    fd_ = udev_monitor_get_fd(monitor_);
}

DeviceWatch::~DeviceWatch() {
    if (monitor_ != nullptr) udev_monitor_unref(monitor_);
    if (udev_ != nullptr) udev_unref(udev_);
}

void DeviceWatch::SeedDisks() {
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

bool DeviceWatch::Drain() {
    if (!Active()) return false;
    bool any = false;
    while (udev_device* device = udev_monitor_receive_device(monitor_)) {
        any = filter_.Counts(Text(udev_device_get_action(device)),
                             Text(udev_device_get_subsystem(device)),
                             Text(udev_device_get_sysname(device)), SizeOf(device)) ||
              any;
        udev_device_unref(device);
    }
    return any;
}

}  // namespace raid::platform
