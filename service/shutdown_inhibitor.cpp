#include "service/shutdown_inhibitor.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QList>
#include <QString>
#include <QVariant>
#include <cerrno>
#include <cstring>
#include <utility>

namespace raid::service {
namespace {

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kLogindManager = "org.freedesktop.login1.Manager";

std::string Why(const QDBusMessage& reply, std::chrono::milliseconds limit) {
    const QDBusError error(reply);
    const std::string text = error.message().toStdString();
    switch (error.type()) {
        case QDBusError::ServiceUnknown:
            return std::string("logind (") + kLogind + ") is not on the system bus";
        case QDBusError::NoReply:
        case QDBusError::Timeout:
        case QDBusError::TimedOut:
            return "logind did not answer within " + std::to_string(limit.count()) + " ms";
        case QDBusError::AccessDenied:
            return "logind refused: " + text;
        default:
            return "logind's Inhibit failed: " + error.name().toStdString() + ": " + text;
    }
}

}  // namespace

ShutdownInhibitor::ShutdownInhibitor(const QDBusConnection& system, std::string why,
                                     std::chrono::milliseconds limit) {
    const auto fail = [this](const std::string& reason) {
        problem_ = "shutdown and sleep are not blocked: " + reason;
    };
    if (!system.isConnected()) {
        fail("no system bus (" + system.lastError().message().toStdString() + ")");
        return;
    }
    // Otherwise the reply arrives with its file descriptor dropped.
    if (!(system.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing)) {
        fail("the system bus connection cannot pass file descriptors");
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kLogind, kLogindPath, kLogindManager, "Inhibit");
    call << QString(kWhat) << QString(kWho) << QString::fromStdString(std::move(why))
         << QString(kMode);
    const QDBusMessage reply = system.call(call, QDBus::Block, static_cast<int>(limit.count()));
    if (reply.type() != QDBusMessage::ReplyMessage) {
        fail(Why(reply, limit));
        return;
    }
    const QList<QVariant> args = reply.arguments();
    const QDBusUnixFileDescriptor handle = args.size() == 1
                                               ? args.front().value<QDBusUnixFileDescriptor>()
                                               : QDBusUnixFileDescriptor();
    if (!handle.isValid()) {
        fail("logind's reply to Inhibit carried no file descriptor");
        return;
    }
    // A descriptor of our own, so that closing it is the release: Qt's copies
    // close with the reply. Close-on-exec: a child would keep shutdown blocked.
    fd_ = ::fcntl(handle.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    if (fd_ < 0) {
        fail(std::string("cannot keep logind's file descriptor: ") + std::strerror(errno));
    }
}

ShutdownInhibitor::~ShutdownInhibitor() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace raid::service
