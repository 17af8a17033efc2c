#pragma once
// The one place where the service decides whether a caller may do what it
// asks: polkit's CheckAuthorization with the caller's bus name as the
// subject, never anything the caller says of itself. Without polkit on the
// bus, only root is allowed.
#include <QDBusConnection>
#include <QMap>
#include <QString>
#include <functional>

namespace raid::service {

enum class Verdict {
    Authorized,
    NotAuthorized,  // polkit said no
    CanObtain,      // a password would do, but no one could be asked
    Dismissed,      // the person dismissed the password prompt
};

struct AuthorizationRequest {
    QString caller;  // the unique bus name of the caller
    const char* action = "";
    // Shown to an admin's rules (enclosure model and serial, for example).
    QMap<QString, QString> details;
    bool interactive = true;
};

// Asks polkit without blocking and calls `done` in the connection's
// thread (the caller's event loop) with the verdict and a line saying why.
void CheckAuthorization(const QDBusConnection& connection, const AuthorizationRequest& request,
                        std::function<void(Verdict, const QString& why)> done);

}  // namespace raid::service
