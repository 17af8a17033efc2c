#pragma once
// A desktop notification for an event-log line, through the freedesktop
// Notifications service on the session bus, so that a lost disk is seen even
// while the window is minimised. The call is asynchronous: the window's
// event loop never waits for the service. Without a session bus or a
// notification service nothing is shown, and standard error hears of it
// once.
#include <QDBusConnection>
#include <QObject>
#include <QString>

class QDBusError;

namespace raid::app {

class DesktopNotice : public QObject {
    Q_OBJECT
public:
    // `appName` is the notice's sender and its summary ("RAID GUI").
    DesktopNotice(QDBusConnection connection, QString appName, QObject* parent = nullptr);

    // A critical notice with `line` as its body. Sends every time: a
    // notification service that starts later still gets the next one.
    void Show(const QString& line);

private:
    void reportFailure(const QDBusError& error);

    QDBusConnection connection_;
    QString appName_;
    bool failureReported_ = false;
};

}  // namespace raid::app
