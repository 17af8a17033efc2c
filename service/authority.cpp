#include "service/authority.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

namespace raid::service {
namespace {

using Details = QMap<QString, QString>;
constexpr unsigned kAllowUserInteraction = 1;

QDBusArgument BusNameSubject(const QString& name) {
    QDBusArgument subject;
    subject.beginStructure();
    subject << QString("system-bus-name");
    subject.beginMap(QMetaType::fromType<QString>(), QMetaType::fromType<QDBusVariant>());
    subject.beginMapEntry();
    subject << QString("name") << QDBusVariant(name);
    subject.endMapEntry();
    subject.endMap();
    subject.endStructure();
    return subject;
}

// Without polkit the kernel's word on the caller decides: root only.
Verdict RootOnly(const QDBusConnection& connection, const QString& caller) {
    const auto uid = connection.interface()->serviceUid(caller);
    return uid.isValid() && uid.value() == 0 ? Verdict::Authorized : Verdict::NotAuthorized;
}

}  // namespace

void CheckAuthorization(const QDBusConnection& connection, const AuthorizationRequest& request,
                        std::function<void(Verdict, const QString&)> done) {
    static const bool registered = [] {
        qDBusRegisterMetaType<Details>();
        return true;
    }();
    (void)registered;
    QDBusMessage call = QDBusMessage::createMethodCall(
        "org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority",
        "org.freedesktop.PolicyKit1.Authority", "CheckAuthorization");
    call << QVariant::fromValue(BusNameSubject(request.caller)) << QString(request.action)
         << QVariant::fromValue(request.details)
         << uint(request.interactive ? kAllowUserInteraction : 0u) << QString();
    const QString action = request.action;
    const QString caller = request.caller;
    // polkit may wait for a person to type a password.
    auto* watcher =
        new QDBusPendingCallWatcher(connection.asyncCall(call, 10 * 60 * 1000), nullptr);
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, watcher,
        [watcher, connection, action, caller, done = std::move(done)] {
            watcher->deleteLater();
            const QDBusMessage reply = watcher->reply();
            if (reply.type() == QDBusMessage::ErrorMessage) {
                const QString name = reply.errorName();
                if (name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
                    name == "org.freedesktop.DBus.Error.NameHasNoOwner") {
                    const Verdict v = RootOnly(connection, caller);
                    done(v, v == Verdict::Authorized ? QString()
                                                     : action +
                                                           ": polkit is not running, so only root "
                                                           "may do this");
                    return;
                }
                done(Verdict::NotAuthorized,
                     action + ": polkit did not answer: " + reply.errorMessage());
                return;
            }
            bool authorized = false;
            bool challenge = false;
            Details details;
            if (reply.arguments().size() == 1) {
                const auto arg = reply.arguments()[0].value<QDBusArgument>();
                if (arg.currentSignature() == "(bba{ss})") {
                    arg.beginStructure();
                    arg >> authorized >> challenge >> details;
                    arg.endStructure();
                }
            }
            if (authorized) {
                done(Verdict::Authorized, QString());
            } else if (details.value("polkit.dismissed") == "true") {
                done(Verdict::Dismissed, action + ": the authentication was dismissed");
            } else if (challenge) {
                done(Verdict::CanObtain,
                     action + ": authentication is required, and no one was asked");
            } else {
                done(Verdict::NotAuthorized, action + ": polkit refused");
            }
        });
}

}  // namespace raid::service
