#include "app/desktop_notice.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QStringList>
#include <QVariantMap>
#include <cstdio>
#include <utility>

#include "mail/server_text.h"

namespace raid::app {

namespace {

const QString kService = "org.freedesktop.Notifications";
const QString kPath = "/org/freedesktop/Notifications";
const QString kInterface = "org.freedesktop.Notifications";
// Losing a disk is what "critical" is for: such a notice stays until
// dismissed. The hint is a byte on the bus, hence uchar.
constexpr uchar kCriticalUrgency = 2;
constexpr qint32 kServerDefaultTimeout = -1;

}  // namespace

DesktopNotice::DesktopNotice(QDBusConnection connection, QString appName, QObject* parent)
    : QObject(parent), connection_(std::move(connection)), appName_(std::move(appName)) {}

void DesktopNotice::Show(const QString& line) {
    if (!connection_.isConnected()) {
        // asyncCall would hand back a call that never finishes.
        const QDBusError why = connection_.lastError();
        reportFailure(why.isValid() ? why : QDBusError(QDBusError::Disconnected, "no session bus"));
        return;
    }
    QDBusMessage notify = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
    notify << appName_ << 0u << QString() << appName_ << line << QStringList()
           << QVariantMap{{"urgency", QVariant::fromValue(kCriticalUrgency)}}
           << kServerDefaultTimeout;
    auto* watcher = new QDBusPendingCallWatcher(connection_.asyncCall(notify), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                if (finished->isError()) reportFailure(finished->error());
            });
}

void DesktopNotice::reportFailure(const QDBusError& error) {
    if (failureReported_) return;
    failureReported_ = true;
    const QString reason = error.message().isEmpty() ? error.name() : error.message();
    // The reason comes from whatever answers on the bus.
    std::fprintf(stderr, "raidgui: desktop notices are off: %s\n",
                 mail::EscapeControlCharacters(reason.toStdString()).c_str());
}

}  // namespace raid::app
