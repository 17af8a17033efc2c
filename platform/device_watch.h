#pragma once
// Tells when the machine's devices changed: a udev monitor on the usb and
// block subsystems (the kernel's events when udevd does not run). Only devices (or a disk's media) appearing and vanishing
// count; what changed is found out later by counting again. Qt-free, so that
// the window (through a socket notifier on Fd()) and the headless monitor
// (by draining it between polls) share it.
#include "platform/device_event_filter.h"

struct udev;
struct udev_monitor;

namespace raid::platform {

class DeviceWatch {
public:
    DeviceWatch();
    ~DeviceWatch();
    DeviceWatch(const DeviceWatch&) = delete;
    DeviceWatch& operator=(const DeviceWatch&) = delete;

    // False when udev was not reachable: no events will come.
    bool Active() const { return fd_ >= 0; }
    // The monitor's socket, readable when events wait; -1 when not active.
    int Fd() const { return fd_; }
    // Reads every queued event without waiting; true when any of them means
    // a device appeared or vanished.
    bool Drain();

private:
    void SeedDisks();

    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    int fd_ = -1;
    DeviceEventFilter filter_;
};

}  // namespace raid::platform
