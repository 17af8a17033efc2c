// The shutdown inhibitor against python3-dbusmock's logind on the private
// system bus: what logind lists while it is held, its release, a refusal,
// and no logind at all.
#include "service/shutdown_inhibitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QVariant>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/bus/logind_inhibitors.h"
#include "tests/bus/private_system_bus.h"

namespace raid::test_support {
namespace {

using service::ShutdownInhibitor;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const QString kLogind = "org.freedesktop.login1";
const QString kLogindPath = "/org/freedesktop/login1";
const QString kManager = "org.freedesktop.login1.Manager";

class ShutdownInhibitorTest : public testing::Test {
protected:
    ShutdownInhibitorTest()
        : connection(QDBusConnection::connectToBus(QString::fromStdString(bus.address()),
                                                   "shutdown-inhibitor-test")) {}
    ~ShutdownInhibitorTest() override {
        // Each test has a bus of its own; the name must not find this one.
        QDBusConnection::disconnectFromBus(connection.name());
    }

    // The mock logind, as root (the bus policy lets only root own its name).
    void StartLogind() {
        ASSERT_TRUE(connection.isConnected()) << connection.lastError().message().toStdString();
        logind = bus.Start(RunAs::Root, bus.DbusMock({"--template", "logind"}));
        ASSERT_TRUE(bus.WaitForName(kLogind.toStdString()))
            << "the mock logind did not take its name (systemd's bus policy for it, "
               "org.freedesktop.login1.conf, must be installed); its output:\n"
            << logind->Output();
    }

    std::vector<std::string> Inhibitors() { return ListedInhibitors(connection); }

    PrivateSystemBus bus;
    QDBusConnection connection;
    std::unique_ptr<BusProcess> logind;
};

TEST_F(ShutdownInhibitorTest, ListedAsBlockingWhileHeldAndReleasedWhenDestroyed) {
    ASSERT_NO_FATAL_FAILURE(StartLogind());
    // Taken on a thread without an event loop, as a flash worker does.
    std::unique_ptr<ShutdownInhibitor> inhibitor;
    std::thread([&] {
        inhibitor = std::make_unique<ShutdownInhibitor>(connection, "Flashing enclosure firmware");
    }).join();
    ASSERT_TRUE(inhibitor->Held()) << inhibitor->Problem();
    EXPECT_EQ(inhibitor->Problem(), "");
    EXPECT_THAT(Inhibitors(),
                ElementsAre("shutdown:sleep|raid-monitor|Flashing enclosure firmware|block"));

    // The mock drops an inhibitor once every copy of its descriptor is
    // closed, as logind does.
    inhibitor.reset();
    const auto deadline = Clock::now() + 5s;
    std::vector<std::string> left = Inhibitors();
    while (!left.empty() && Clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
        left = Inhibitors();
    }
    EXPECT_THAT(left, IsEmpty()) << "still held 5 s after the inhibitor was destroyed";
}

TEST_F(ShutdownInhibitorTest, RefusalHoldsNothingAndSaysWhy) {
    ASSERT_NO_FATAL_FAILURE(StartLogind());
    const QDBusMessage added = connection.call(
        QDBusMessage::createMethodCall(kLogind, kLogindPath, "org.freedesktop.DBus.Mock",
                                       "AddMethod")
            << kManager << QString("Inhibit") << QString("ssss") << QString("h")
            << QString("raise dbus.exceptions.DBusException('Access denied by test', "
                       "name='org.freedesktop.DBus.Error.AccessDenied')"),
        QDBus::Block, 5000);
    ASSERT_EQ(added.type(), QDBusMessage::ReplyMessage) << added.errorMessage().toStdString();

    const ShutdownInhibitor inhibitor(connection, "Flashing enclosure firmware");
    EXPECT_FALSE(inhibitor.Held());
    EXPECT_THAT(inhibitor.Problem(), HasSubstr("logind refused: Access denied by test"));
    EXPECT_EQ(inhibitor.Problem().find('\n'), std::string::npos);
}

TEST_F(ShutdownInhibitorTest, WithoutLogindHoldsNothingAndSaysSoAtOnce) {
    ASSERT_TRUE(connection.isConnected()) << connection.lastError().message().toStdString();
    const auto start = Clock::now();
    const ShutdownInhibitor inhibitor(connection, "Flashing enclosure firmware");
    const auto took = Clock::now() - start;
    EXPECT_FALSE(inhibitor.Held());
    EXPECT_THAT(inhibitor.Problem(), HasSubstr("org.freedesktop.login1) is not on the system bus"));
    // The bus answers for a missing name itself: no waiting out the limit.
    EXPECT_LT(took, 1s);
}

}  // namespace
}  // namespace raid::test_support
