#pragma once
// Turns SIGTERM into a Qt signal on the main thread (self-pipe), so that a
// shutdown asks the window to close like the session manager's query does,
// and can be refused while a firmware upgrade owns a device.
#include <QObject>

class QSocketNotifier;

namespace raid::app {

class TerminationWatch : public QObject {
    Q_OBJECT
public:
    // Installs the SIGTERM handler; only one watch may exist at a time.
    explicit TerminationWatch(QObject* parent = nullptr);
    ~TerminationWatch() override;

Q_SIGNALS:
    void terminationRequested();

private:
    void drain();

    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace raid::app
