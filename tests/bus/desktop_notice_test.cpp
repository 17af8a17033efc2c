// The window's desktop notices against python3-dbusmock's notification
// daemon on a private session bus: what one Notify carries, a service that
// is slow to answer, and none at all.
#include "app/desktop_notice.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/bus/private_system_bus.h"

namespace raid::test_support {
namespace {

using app::DesktopNotice;
using testing::HasSubstr;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const QString kService = "org.freedesktop.Notifications";
const QString kPath = "/org/freedesktop/Notifications";
const QString kAppName = "RAID GUI";
const QString kLine = "D1 HDD2 was removed, 0415/03/2024 12:00:05";
constexpr const char* kOff = "raidgui: desktop notices are off: ";

// Replies reach DesktopNotice through the event loop, as in the window.
void EnsureApplication() {
    if (QCoreApplication::instance() != nullptr) return;
    static int argc = 1;
    static char name[] = "bus_tests";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);  // lives as long as the process
}

// Runs the event loop until `done` or `limit`; returns `done()`.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
    const auto deadline = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() >= deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void Pump(std::chrono::milliseconds span) {
    PumpUntil([] { return false; }, span);
}

// Standard error into a file for the object's lifetime.
class StderrFile {
public:
    StderrFile() : path_(testing::TempDir() + "desktop_notice_stderr.txt") {
        std::fflush(stderr);
        saved_ = ::dup(STDERR_FILENO);
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~StderrFile() {
        std::fflush(stderr);
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        ::unlink(path_.c_str());
    }
    StderrFile(const StderrFile&) = delete;
    StderrFile& operator=(const StderrFile&) = delete;

    std::string Text() const {
        std::fflush(stderr);
        std::string text;
        if (FILE* f = std::fopen(path_.c_str(), "rb")) {
            char buffer[4096];
            for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) {
                text.append(buffer, n);
            }
            std::fclose(f);
        }
        return text;
    }

private:
    std::string path_;
    int saved_ = -1;
};

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class DesktopNoticeTest : public testing::Test {
protected:
    DesktopNoticeTest() : connection(Connect(bus.address())) {}
    ~DesktopNoticeTest() override { QDBusConnection::disconnectFromBus(connection.name()); }

    static QDBusConnection Connect(const std::string& address) {
        EnsureApplication();
        return QDBusConnection::connectToBus(QString::fromStdString(address),
                                             "desktop-notice-test");
    }

    void StartNotificationService() {
        ASSERT_TRUE(connection.isConnected()) << connection.lastError().message().toStdString();
        daemon = bus.StartMock({"--template", "notification_daemon"});
        ASSERT_TRUE(bus.WaitForName(kService.toStdString()))
            << "the mock notification daemon did not take its name; its output:\n"
            << daemon->Output();
    }

    // The arguments of every Notify the mock has had, in order.
    std::vector<QVariantList> NotifyCalls() {
        const QDBusMessage reply =
            connection.call(QDBusMessage::createMethodCall(kService, kPath,
                                                           "org.freedesktop.DBus.Mock", "GetCalls"),
                            QDBus::Block, 5000);
        std::vector<QVariantList> notifies;
        if (reply.type() != QDBusMessage::ReplyMessage) {
            ADD_FAILURE() << "GetCalls: " << reply.errorMessage().toStdString();
            return notifies;
        }
        const auto calls = reply.arguments().value(0).value<QDBusArgument>();
        calls.beginArray();
        while (!calls.atEnd()) {
            quint64 stamp = 0;
            QString method;
            QVariantList args;
            calls.beginStructure();
            calls >> stamp >> method >> args;
            calls.endStructure();
            if (method == "Notify") notifies.push_back(args);
        }
        calls.endArray();
        return notifies;
    }

    PrivateSessionBus bus;
    QDBusConnection connection;
    std::unique_ptr<BusProcess> daemon;
};

TEST_F(DesktopNoticeTest, OneShowIsOneCriticalNotifyWithTheLogLine) {
    ASSERT_NO_FATAL_FAILURE(StartNotificationService());
    const StderrFile err;
    DesktopNotice notice(connection, kAppName);
    notice.Show(kLine);

    std::vector<QVariantList> calls;
    ASSERT_TRUE(PumpUntil([&] { return !(calls = NotifyCalls()).empty(); }))
        << "no Notify reached the mock; its output:\n"
        << daemon->Output();
    Pump(200ms);
    calls = NotifyCalls();
    ASSERT_EQ(calls.size(), 1u);
    const QVariantList& args = calls[0];
    ASSERT_EQ(args.size(), 8);
    EXPECT_EQ(args[0].toString(), kAppName);
    EXPECT_EQ(args[1].toUInt(), 0u);  // a new notice, replacing none
    EXPECT_EQ(args[2].toString(), "");
    EXPECT_EQ(args[3].toString(), kAppName);
    EXPECT_EQ(args[4].toString(), kLine);
    EXPECT_TRUE(args[5].toStringList().isEmpty());
    const auto hints = qdbus_cast<QVariantMap>(args[6].value<QDBusArgument>());
    ASSERT_TRUE(hints.contains("urgency")) << "hints: " << hints.keys().join(",").toStdString();
    // Notification servers read the urgency only as a byte.
    EXPECT_EQ(hints["urgency"].metaType(), QMetaType::fromType<uchar>());
    EXPECT_EQ(hints["urgency"].toInt(), 2);
    EXPECT_EQ(args[7].toInt(), -1);
    EXPECT_EQ(err.Text(), "");
}

TEST_F(DesktopNoticeTest, ASlowServiceNeverHoldsTheCaller) {
    ASSERT_NO_FATAL_FAILURE(StartNotificationService());
    const QDBusMessage slowed = connection.call(
        QDBusMessage::createMethodCall(kService, kPath, "org.freedesktop.DBus.Mock", "AddMethod")
            << kService << QString("Notify") << QString("susssasa{sv}i") << QString("u")
            << QString("__import__('time').sleep(3); ret = 1"),
        QDBus::Block, 5000);
    ASSERT_EQ(slowed.type(), QDBusMessage::ReplyMessage) << slowed.errorMessage().toStdString();

    DesktopNotice notice(connection, kAppName);
    const auto start = Clock::now();
    notice.Show(kLine);
    // The window's event loop may not stop for longer.
    EXPECT_LT(Clock::now() - start, 50ms);
}

TEST_F(DesktopNoticeTest, WithoutANotificationServiceSaysSoOnceAndNeverWaits) {
    ASSERT_TRUE(connection.isConnected()) << connection.lastError().message().toStdString();
    const StderrFile err;
    DesktopNotice notice(connection, kAppName);
    for (int i = 0; i < 3; ++i) {
        const auto start = Clock::now();
        notice.Show(kLine);
        EXPECT_LT(Clock::now() - start, 50ms);
    }
    ASSERT_TRUE(PumpUntil([&] { return err.Text().find(kOff) != std::string::npos; }))
        << "nothing said on standard error: " << err.Text();
    Pump(300ms);  // the later notices' failures, which must stay silent
    const std::string text = err.Text();
    EXPECT_EQ(Count(text, kOff), 1u) << text;
    EXPECT_THAT(text, HasSubstr(kService.toStdString())) << "no reason given";
    EXPECT_EQ(Count(text, "\n"), 1u) << text;
}

TEST(DesktopNotice, WithoutASessionBusSaysSoOnce) {
    EnsureApplication();
    const QDBusConnection none =
        QDBusConnection::connectToBus(QString("unix:path=/nonexistent/bus"), "no-session-bus");
    ASSERT_FALSE(none.isConnected());
    const StderrFile err;
    {
        DesktopNotice notice(none, kAppName);
        notice.Show(kLine);
        notice.Show(kLine);
        ASSERT_TRUE(PumpUntil([&] { return err.Text().find(kOff) != std::string::npos; }))
            << "nothing said on standard error: " << err.Text();
        Pump(100ms);
    }
    EXPECT_EQ(Count(err.Text(), kOff), 1u) << err.Text();
    EXPECT_THAT(err.Text(), HasSubstr("/nonexistent/bus")) << "no reason given";
    QDBusConnection::disconnectFromBus(none.name());
}

}  // namespace
}  // namespace raid::test_support
