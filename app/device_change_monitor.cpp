#include "app/device_change_monitor.h"

#include <QSocketNotifier>

namespace raid::app {

DeviceChangeMonitor::DeviceChangeMonitor(QObject* parent) : QObject(parent) {
    if (!watch_.Active()) return;
    notifier_ = new QSocketNotifier(watch_.Fd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &DeviceChangeMonitor::drain);
}

DeviceChangeMonitor::~DeviceChangeMonitor() { delete notifier_; }

void DeviceChangeMonitor::drain() {
    // Every queued event is read so the notifier does not fire again for
    // them; one signal per wake-up is enough, since each one restarts the
    // same countdown.
    if (watch_.Drain()) Q_EMIT deviceChanged();
}

}  // namespace raid::app
