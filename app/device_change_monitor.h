#pragma once
// Announces on the main thread that the machine's devices changed: the udev
// watch read through a QSocketNotifier.
#include <QObject>

#include "platform/device_watch.h"

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
    platform::DeviceWatch watch_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace raid::app
