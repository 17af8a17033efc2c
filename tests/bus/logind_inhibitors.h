#pragma once
// What a logind (here python3-dbusmock's) lists as held inhibitors.
#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <string>
#include <vector>

namespace raid::test_support {

// logind's ListInhibitors as "what|who|why|mode" lines.
inline std::vector<std::string> ListedInhibitors(QDBusConnection& connection) {
    const QDBusMessage reply = connection.call(
        QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                       "org.freedesktop.login1.Manager", "ListInhibitors"),
        QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        ADD_FAILURE() << "ListInhibitors: " << reply.errorMessage().toStdString();
        return {};
    }
    const QDBusArgument list = reply.arguments().front().value<QDBusArgument>();
    std::vector<std::string> lines;
    list.beginArray();
    while (!list.atEnd()) {
        QString what, who, why, mode;
        uint uid = 0, pid = 0;
        list.beginStructure();
        list >> what >> who >> why >> mode >> uid >> pid;
        list.endStructure();
        lines.push_back((what + "|" + who + "|" + why + "|" + mode).toStdString());
    }
    list.endArray();
    return lines;
}

}  // namespace raid::test_support
