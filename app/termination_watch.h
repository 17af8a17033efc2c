#pragma once
// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the main thread
// (self-pipe), so that a shutdown, Ctrl+C or a lost terminal asks the window
// to close, which waits while a firmware upgrade owns a device.
#include <QObject>

class QSocketNotifier;

namespace raid::app {

class TerminationWatch : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; only one watch may exist at a time.
    explicit TerminationWatch(QObject* parent = nullptr);
    ~TerminationWatch() override;

Q_SIGNALS:
    // `signal`: SIGTERM, SIGINT or SIGHUP, once for each one received.
    void terminationRequested(int signal);

private:
    void drain();

    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace raid::app
