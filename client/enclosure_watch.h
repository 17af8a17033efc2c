#pragma once
// What the service tells as it happens, for a client that shows it live: its
// name coming and going, its enclosures and their status, and each
// event-log line. The watch keeps the enclosures it was told, so that a
// client reads them here instead of asking the service for all of them at
// each change.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "client/enclosure_records.h"

namespace raid::client {

class EnclosureWatch : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // How much the watch knows of the service's enclosures.
    enum class Standing {
        NoService,   // no service (or none heard of yet)
        Asking,      // the service is there; its enclosures are being read
        Serving,     // devices() are every enclosure it serves: none when it serves none
        NotServing,  // it runs, but serves no enclosure yet (starting, waiting for the
                     // lock): why() says what it does
        Unreadable,  // its answer was refused or not understood: why()
    };

    Standing standing() const { return standing_; }
    // The enclosures by index; empty unless Serving.
    const std::vector<DeviceStatus>& devices() const { return devices_; }
    // For a person, when not Serving.
    const std::string& why() const { return why_; }
    // What the engine's polls and discovery showed: told by the engine in
    // this process only.
    const PollTexts& texts() const { return texts_; }

    // What the watch's source told (the bus below; in this process, the
    // engine's front): every enclosure, in any order, with Serving; the
    // devices are dropped otherwise. Called in the watch's thread;
    // enclosuresChanged() follows when what a client reads here changed.
    void setEnclosures(Standing standing, std::vector<DeviceStatus> devices = {},
                       std::string why = {}, PollTexts texts = {});

Q_SIGNALS:
    void serviceAppeared();
    void serviceVanished();
    // What devices(), standing() or why() tell changed.
    void enclosuresChanged();
    void eventLine(const QString& line);
    // A box for the person at the window, from the engine in its own
    // process ("No Device found !", caption "Message").
    void notice(const QString& text, const QString& caption);

private:
    Standing standing_ = Standing::NoService;
    std::vector<DeviceStatus> devices_;
    std::string why_;
    PollTexts texts_;
};

// The watch on the system bus (or the bus `connection` is). One
// GetManagedObjects, asynchronous, reads every enclosure when the service
// appears (or is there at construction); from then on the signals' payloads
// are applied. A payload that does not decode, a change of the manager's
// state, or signals that came while a read was under way make it read
// everything again; it never blocks its thread.
class BusWatch final : public EnclosureWatch {
    Q_OBJECT
public:
    explicit BusWatch(const QDBusConnection& connection, QObject* parent = nullptr);

    // The reads of every object so far, for tests and measurements.
    int seeds() const { return seeds_; }

private Q_SLOTS:
    void onSignal(const QDBusMessage& message);
    void onEventLine(const QString& line);
    void onOwnerChanged(const QString& name, const QString& before, const QString& after);

private:
    // One of the enclosures' signals; false when it does not decode.
    bool apply(const QDBusMessage& message);
    bool applyAdded(const QDBusMessage& message);
    bool applyRemoved(const QDBusMessage& message);
    bool applyChanged(const QDBusMessage& message);
    // Reads every object, or one enclosure's Status, asynchronously.
    void seed();
    void readEnclosure(const QString& path);
    // A read's answer is in: signals held meanwhile are read again.
    void readDone();
    void tell();

    QDBusConnection connection_;
    std::map<QString, DeviceStatus> enclosures_;  // by object path
    int reads_ = 0;                               // reads under way
    bool dirty_ = false;                          // a signal came during a read
    std::uint64_t generation_ = 0;                // one per appearance: older answers are dropped
    int seeds_ = 0;
};

}  // namespace raid::client
