#pragma once
// What the service tells as it happens, for a client that shows it live: its
// name coming and going, its enclosures or their status changing, and each
// event-log line. The window reads the enclosures themselves through the
// seam (client/enclosure_access.h) when told they changed.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>

namespace raid::client {

class EnclosureWatch : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

Q_SIGNALS:
    void serviceAppeared();
    void serviceVanished();
    // Enclosures came or went, their status changed, or the service's state.
    void enclosuresChanged();
    void eventLine(const QString& line);
    // A box for the person at the window, from the engine in its own
    // process ("No Device found !", caption "Message").
    void notice(const QString& text, const QString& caption);
};

// The watch on the system bus (or the bus `connection` is).
class BusWatch final : public EnclosureWatch {
    Q_OBJECT
public:
    explicit BusWatch(const QDBusConnection& connection, QObject* parent = nullptr);

private Q_SLOTS:
    void onChanged(const QDBusMessage& message);
    void onEventLine(const QString& line);
    void onOwnerChanged(const QString& name, const QString& before, const QString& after);

private:
    QDBusConnection connection_;
};

}  // namespace raid::client
