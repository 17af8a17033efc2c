#pragma once
// Announces that the machine's devices changed: a udev monitor on the usb and
// block subsystems, read on the main thread through a QSocketNotifier. Only
// devices (or a disk's media) appearing and vanishing count; what changed is
// found out later by counting again.
#include <QObject>

#include "platform/device_event_filter.h"

struct udev;
struct udev_monitor;
class QSocketNotifier;

namespace raid::app {

class DeviceChangeMonitor : public QObject {
    Q_OBJECT
public:
    explicit DeviceChangeMonitor(QObject* parent = nullptr);
    ~DeviceChangeMonitor() override;
    // False when udev was not reachable (no events will come).
    bool active() const { return notifier_ != nullptr; }

Q_SIGNALS:
    void deviceChanged();

private:
    void drain();
    void seedDisks();

    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    QSocketNotifier* notifier_ = nullptr;
    platform::DeviceEventFilter filter_;
};

}  // namespace raid::app
