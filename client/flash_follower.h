#pragma once
// Starts a flash job in the service and follows it to its end: each step as
// the upgrade shows it, the backup handshake, and the outcome. The job goes
// on in the service whatever happens to this process.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "client/enclosure_access.h"

namespace raid::client {

// What a follower says when the service ended during its job.
extern const char* const kServiceEndedDuringFlash;

class FlashFollower : public QObject {
    Q_OBJECT
public:
    using Handlers = FlashHandlers;

    // `connection` must hand signals over as they come. Qt's shared
    // system-bus connection, made in a thread whose event loop has not run
    // yet, holds them back until it does and may then deliver newer ones first.
    FlashFollower(const QDBusConnection& connection, Handlers handlers);

    // Asks the enclosure object at `enclosure` to flash `image` (the bytes
    // go as a sealed memfd) and follows the job until it completes or
    // `detach` says so.
    FlashAnswer Run(const QString& enclosure, const std::vector<std::uint8_t>& image, bool backup,
                    const CallOptions& options);

private Q_SLOTS:
    void onStep(const QDBusMessage& message);
    void onBackupReady(const QDBusMessage& message);
    void onCompleted(const QDBusMessage& message);

private:
    QDBusConnection connection_;
    Handlers handlers_;
    QString job_;
    std::optional<FlashAnswer> done_;
    // Signals that came before the job's path was known, in order.
    std::vector<QDBusMessage> early_;
    bool backupAsked_ = false;
};

// A sealed memfd holding `bytes`; -1 with errno set when it cannot be made.
int SealedMemfd(const char* name, const std::vector<std::uint8_t>& bytes);
// All bytes of a file descriptor, up to `limit`; none when it cannot be read.
std::optional<std::vector<std::uint8_t>> ReadAll(int fd, std::size_t limit);

}  // namespace raid::client
